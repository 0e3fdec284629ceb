// The header row of a CSV input before it is read: its separator, and
// whether it names columns the tool knows.
#ifndef QVVCARD_INPUT_CSV_HEADER_HPP
#define QVVCARD_INPUT_CSV_HEADER_HPP

#include <span>
#include <string_view>

#include "input/input_stream.hpp"
#include "input/record_source.hpp"

namespace qvvcard {

// A record whose fields are all empty (spreadsheets write rows of
// separators only after formatted ranges) is no record, like a blank line.
bool AllEmpty(std::span<const std::string_view> fields) noexcept;

// Whether a header row names columns the tool knows: a known export, the
// columns of the export or column map --columns names, or property names
// (the column of --uid-from among them).
bool KnownHeader(std::span<const std::string_view> names, const ConvertOptions& options);

// The separator of a CSV input: options.separator when given; else the one
// a first line "sep=;" names (as Excel writes it); else, from the header
// row, the first of ",", ";" and tab that splits it into known names, or
// else the one that splits it into the most fields (so that the names are
// reported as they are). Looks ahead without consuming anything.
struct Separator {
  char c = ',';
  bool hint_line = false;  // the input starts with a line "sep=X", which is no header
  bool known = false;      // told from the header: it splits into known names with c
};
Separator SeparatorOf(InputStream& in, const ConvertOptions& options);

struct ExportFormat;
// The address-book export the header row of in is (the one --columns
// forces, or the one it is recognised as), or nullptr. Looks ahead without
// consuming anything.
const ExportFormat* ExportOfHeader(InputStream& in, const ConvertOptions& options);

}  // namespace qvvcard

#endif
