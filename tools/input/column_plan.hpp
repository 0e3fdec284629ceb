// CSV headers that are not the card's property names: a ColumnPlan says
// what each column of such a header holds (an address-book export, see
// export_format.hpp, or a column map, see column_map.hpp) and turns each
// record into assignments, counting, per column, the records whose value
// found no place on the card.
#ifndef QVVCARD_INPUT_COLUMN_PLAN_HPP
#define QVVCARD_INPUT_COLUMN_PLAN_HPP

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "input/card_builder.hpp"
#include "input/record_source.hpp"

namespace qvvcard {

// Why a value found no place on the card.
enum class Loss : std::uint8_t {
  NoPlace,         // nothing on the card holds it
  NoTelephone,     // the four telephone slots are taken
  NoEmail,         // the three e-mail slots are taken
  NoAddress,       // the three address slots are taken
  NoWebsite,       // the one URL is taken
  NoOrganisation,  // the one organisation is taken
  NotADate,        // not a date M/D/YYYY or YYYY-MM-DD (or no such day)
  NotInMap,        // in a column the column map does not name
};
// "had a value with no telephone slot left".
std::string_view LossText(Loss loss) noexcept;

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
    Loss reason = Loss::NoPlace;  // of the first loss
    std::uint64_t last = 0;       // the record last counted
    bool elsewhere = false;       // see ReadElsewhere
  };
  // Counts a value of column i that found no place in record n.
  void Lose(std::size_t i, std::uint64_t n, Loss reason);

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

// The plans behind PlanColumns.
struct ExportFormat;
struct ColumnMap;
std::unique_ptr<ColumnPlan> MakeExportPlan(const ExportFormat& format,
                                           std::span<const std::string_view> names,
                                           const ConvertOptions& options, const std::string& shown,
                                           bool forced);
std::unique_ptr<ColumnPlan> MakeMapPlan(ColumnMap map, std::span<const std::string_view> names,
                                        const std::string& shown);

}  // namespace qvvcard

#endif
