// CSV headers that are not the card's property names: the address-book
// exports the tool knows (each one a table of its columns, one row per
// column) and column maps. A ColumnPlan says what each column of a header
// holds and turns each record into assignments, counting, per column, the
// records whose value found no place on the card.
#ifndef QVVCARD_INPUT_EXPORTS_HPP
#define QVVCARD_INPUT_EXPORTS_HPP

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "input/column_map.hpp"
#include "input/records.hpp"

namespace qvvcard {

// What a column of a known export holds.
enum class Holds : std::uint8_t {
  Property,       // the value of one property, as it stands
  UsDate,         // a date as M/D/YYYY, written YYYY-MM-DD
  LabelList,      // labels with " ::: " between them, the export's own left out
  SemicolonList,  // categories with ";" between them
  Phone,          // a part of a telephone group
  Email,          // a part of an e-mail group
  Address,        // a part of an address group
  Website,        // a part of a website group
  Organisation,   // a part of a numbered organisation group (the first one has a place)
  Qualifier,      // the label of a value that has no place: never reported on its own
  NoPlace,        // nothing on the card for it: reported when it holds data
};

// Which part of its group a column is.
enum class Part : std::uint8_t {
  None,
  Label,        // the group's label (Work, * Mobile, ...)
  Value,        // the number, address or URL
  DisplayName,  // an e-mail's display name (has no place; it repeats name and address)
  Formatted,    // an address as one text, used when its parts are all empty
  Street,
  Street2,
  Street3,
  City,
  PoBox,
  Region,
  PostalCode,
  Country,
  Extended,
};

// One column of an export.
struct ExportColumn {
  // As the export writes it (matched in any case); '#' stands for the
  // number of a group (1, 2, ...).
  std::string_view header;
  Holds holds;
  Part part = Part::None;
  // Holds::Property and Holds::Organisation: the property's name.
  std::string_view property = {};
  // A group whose label the column's name gives (Outlook's "Pager",
  // "Home Street"): that label.
  std::string_view label = {};
  // The group, where the name has no number: Outlook's e-mail 1 to 3, or
  // its business (1), home (2) and other (3) address.
  std::uint8_t group = 0;
  // Telephones: lower ranks take the slots first; equal ranks in header order.
  std::uint8_t rank = 0;
  // What the export writes for no value ("0/0/00", "Normal").
  std::string_view none = {};
};

struct ExportFormat {
  std::string_view key;    // the --columns word: google, google-old, outlook
  std::string_view shown;  // "a Google Contacts export (current header)"
  std::span<const ExportColumn> columns;
  // Whether a cell may hold several values with " ::: " between them.
  bool multi_values = false;
};

// The exports the tool knows, each with its table.
std::span<const ExportFormat> KnownExports();
// The export whose --columns word is key (any case); nullptr otherwise.
const ExportFormat* FindExport(std::string_view key);
// The row of format for a header name (blanks around it ignored, any
// case), with the group number the name gives (0 without one); nullptr
// when the format has no such column.
const ExportColumn* FindExportColumn(const ExportFormat& format, std::string_view name,
                                     std::uint32_t& group);

// The export a header row is, when it is one: most of its names are
// columns of the export, at least one of them only of that export, and no
// other export fits as well. nullptr otherwise.
const ExportFormat* RecogniseExport(std::span<const std::string_view> names);
// Whether every name of a header row (but empty ones, and at least one) is
// a property name.
bool PropertyHeader(std::span<const std::string_view> names);
// Whether qvvcard batch reads a header row without being told how: the
// card's property names or a known export.
bool RecognisedHeader(std::span<const std::string_view> names);

// The columns of one header and what becomes of them, record by record.
class ColumnPlan {
 public:
  virtual ~ColumnPlan() = default;
  // The values of one record (as many as the header has names) into the
  // record begun in builder.
  virtual void Apply(std::span<const std::string_view> values, CardBuilder& builder) = 0;
  // How the input is read, for one line on standard error.
  const std::string& notice() const { return notice_; }
  // One line per column whose values had no place in some records: its
  // name, the number of those records and why ("Pager: 12 records had a
  // value with no telephone slot left"), in header order.
  std::vector<std::string> Report() const;
  // Column i is read for another purpose (the UID): its values are not
  // reported as having no place.
  void ReadElsewhere(std::size_t i) {
    if (i < columns_.size()) columns_[i].elsewhere = true;
  }

 protected:
  struct Column {
    std::string name;  // as the header has it, blanks around it removed
    std::uint64_t lost = 0;
    const char* reason = nullptr;  // of the first loss
    std::uint64_t last = 0;        // the record last counted
    bool elsewhere = false;        // see ReadElsewhere
  };
  // Counts a value of column i that found no place in record n.
  void Lose(std::size_t i, std::uint64_t n, const char* reason);

  std::vector<Column> columns_;
  std::string notice_;
};

// How the columns of a CSV header are read: by the export or column map
// that options.columns names, by a recognised export, or, with nullptr, as
// property names (the caller checks them). Throws InputRefused: a column
// map with an error, a header with a column twice, a forced export or map
// none of whose columns is in the header.
std::unique_ptr<ColumnPlan> PlanColumns(std::span<const std::string_view> names,
                                        const ConvertOptions& options, const std::string& shown);

}  // namespace qvvcard

#endif
