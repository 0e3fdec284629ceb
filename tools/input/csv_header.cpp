#include "input/csv_header.hpp"

#include "card/ascii.hpp"
#include "common/problem.hpp"
#include "common/text.hpp"
#include "input/column_plan.hpp"
#include "input/csv_reader.hpp"
#include "input/export_format.hpp"

namespace qvvcard {

bool AllEmpty(std::span<const std::string_view> fields) noexcept {
  for (const std::string_view f : fields) {
    if (!f.empty()) return false;
  }
  return true;
}

bool KnownHeader(std::span<const std::string_view> names, const ConvertOptions& options) {
  if (!options.columns.empty()) {
    try {
      return PlanColumns(names, options, "the input") != nullptr;
    } catch (const InputRefused&) {
      return false;
    }
  }
  if (RecognisedHeader(names)) return true;
  bool any = false;
  for (const std::string_view name : names) {
    const std::string_view trimmed = TrimBlanks(name);
    if (trimmed.empty()) continue;
    if (qv_VCard::FindProperty(trimmed) == nullptr && !IsGeoField(trimmed) &&
        !(!options.uid_from.empty() &&
          qv_VCard::ascii::EqualIgnoringCase(trimmed, options.uid_from))) {
      return false;
    }
    any = true;
  }
  return any;
}

namespace {

// The separator a line "sep=X" (or "\"sep=X\"") names; 0 for any other line.
char HintedSeparator(std::string_view head) {
  if (head.starts_with("\xEF\xBB\xBF")) head.remove_prefix(3);
  std::string_view line = head.substr(0, head.find_first_of("\r\n"));
  if (line.size() == 7 && line.front() == '"' && line.back() == '"') {
    line = line.substr(1, 5);
  }
  const bool known = line.size() == 5 && line.starts_with("sep=") &&
                     (line[4] == ',' || line[4] == ';' || line[4] == '\t' || line[4] == '|');
  return known ? line[4] : 0;
}

}  // namespace

Separator SeparatorOf(InputStream& in, const ConvertOptions& options) {
  std::string_view head;
  for (std::size_t want = 4096;; want *= 2) {
    head = in.Gather(want);
    if (head.size() < want || head.find_first_of("\r\n") != std::string_view::npos ||
        want >= in.capacity()) {
      break;
    }
  }
  const char hinted = HintedSeparator(head);
  if (options.separator != 0) return {options.separator, hinted != 0};
  if (hinted != 0) return {hinted, true};
  char best = ',';
  std::size_t most = 0;
  for (const char c : {',', ';', '\t'}) {
    InputStream copy(head);
    CsvReader reader(copy, CsvReader::Limits{}, c);
    CsvRecord rec;
    bool found = false;
    while (!found && reader.Next(rec)) found = !AllEmpty(rec.views());
    if (!found) break;
    if (KnownHeader(rec.views(), options)) return {c, false, true};
    if (rec.views().size() > most) {
      most = rec.views().size();
      best = c;
    }
  }
  return {best, false};
}

const ExportFormat* ExportOfHeader(InputStream& in, const ConvertOptions& options) {
  if (!options.columns.empty()) return FindExport(options.columns);
  const Separator separator = SeparatorOf(in, options);
  InputStream copy(in.Gather(in.capacity()));
  CsvReader reader(copy, CsvReader::Limits{}, separator.c);
  CsvRecord rec;
  if (separator.hint_line) reader.Next(rec);
  while (reader.Next(rec)) {
    if (!AllEmpty(rec.views())) return RecogniseExport(rec.views());
  }
  return nullptr;
}

}  // namespace qvvcard
