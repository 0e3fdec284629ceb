#include "input/column_plan.hpp"

#include "common/text.hpp"
#include "input/column_map.hpp"
#include "input/export_format.hpp"

namespace qvvcard {

std::string_view LossText(Loss loss) noexcept {
  switch (loss) {
    case Loss::NoPlace:
      return "had a value with no place on the card";
    case Loss::NoTelephone:
      return "had a value with no telephone slot left";
    case Loss::NoEmail:
      return "had a value with no e-mail slot left";
    case Loss::NoAddress:
      return "had a value with no address slot left";
    case Loss::NoWebsite:
      return "had a value with no website slot left";
    case Loss::NoOrganisation:
      return "had a value with no organisation slot left";
    case Loss::NotADate:
      return "had a value that is not a date M/D/YYYY or YYYY-MM-DD";
    case Loss::NotInMap:
      return "had a value in a column the column map does not name";
  }
  return {};
}

void ColumnPlan::Lose(std::size_t i, std::uint64_t n, Loss reason) {
  Column& c = columns_[i];
  if (c.last == n) return;
  if (c.lost == 0) c.reason = reason;
  c.last = n;
  ++c.lost;
}

std::vector<std::string> ColumnPlan::Report() const {
  std::vector<std::string> lines;
  for (const Column& c : columns_) {
    if (c.lost > 0 && !c.elsewhere) {
      lines.push_back(c.name + ": " + Plural(c.lost, "record") + " " +
                      std::string(LossText(c.reason)));
    }
  }
  return lines;
}

std::unique_ptr<ColumnPlan> PlanColumns(std::span<const std::string_view> names,
                                        const ConvertOptions& options, const std::string& shown) {
  if (!options.columns.empty()) {
    if (const ExportFormat* format = FindExport(options.columns)) {
      return MakeExportPlan(*format, names, options, shown, true);
    }
    return MakeMapPlan(ReadColumnMap(options.columns), names, shown);
  }
  if (PropertyHeader(names)) return nullptr;
  if (const ExportFormat* format = RecogniseExport(names)) {
    return MakeExportPlan(*format, names, options, shown, false);
  }
  return nullptr;
}

}  // namespace qvvcard
