#include <algorithm>

#include "card/ascii.hpp"
#include "common/text.hpp"
#include "input/column_map.hpp"
#include "input/column_plan.hpp"

namespace qvvcard {

using qv_VCard::ascii::EqualIgnoringCase;

namespace {

constexpr std::size_t kNone = static_cast<std::size_t>(-1);

// A plan for a column map: each column fills its property, its further
// assignments made once per record.
class MapPlan final : public ColumnPlan {
 public:
  MapPlan(ColumnMap map, std::span<const std::string_view> names, const std::string& shown)
      : map_(std::move(map)) {
    std::vector<std::size_t> column_of(map_.lines.size(), kNone);
    for (std::size_t i = 0; i < names.size(); ++i) {
      columns_.push_back({std::string(TrimBlanks(names[i]))});
      std::size_t use = kNone;
      for (std::size_t l = 0; l < map_.lines.size() && !columns_[i].name.empty(); ++l) {
        if (!EqualIgnoringCase(map_.lines[l].column, columns_[i].name)) continue;
        if (column_of[l] != kNone) {
          throw InputRefused(
              TwiceInHeaderText(Quoted(columns_[i].name), shown, column_of[l] + 1, i + 1));
        }
        column_of[l] = i;
        use = l;
      }
      uses_.push_back(use);
    }
    std::string absent;
    std::size_t found = 0;
    for (std::size_t l = 0; l < map_.lines.size(); ++l) {
      if (column_of[l] != kNone) {
        ++found;
      } else {
        absent += (absent.empty() ? "" : ", ") + Quoted(map_.lines[l].column) + " (line " +
                  std::to_string(map_.lines[l].line) + ")";
      }
    }
    if (found == 0) {
      throw InputRefused("no column the column map " + map_.shown + " names is in the header of " +
                         shown);
    }
    notice_ = "qvvcard: reading " + shown + " with the column map " + map_.shown;
    if (!absent.empty()) notice_ += "; not in its header: " + absent;
    extra_done_.resize(qv_VCard::kPropertyCount);
  }

  void Apply(std::span<const std::string_view> values, CardBuilder& b) override {
    std::fill(extra_done_.begin(), extra_done_.end(), false);
    for (std::size_t i = 0; i < values.size(); ++i) {
      if (values[i].empty()) continue;
      if (uses_[i] == kNone) {
        if (columns_[i].name.empty()) {
          b.Fail(MakeProblem(ProblemKind::UnnamedColumn, "column " + std::to_string(i + 1)));
        } else {
          Lose(i, b.record(), Loss::NotInMap);
        }
        continue;
      }
      const ColumnMapLine& line = map_.lines[uses_[i]];
      if (line.target != nullptr) b.Set(*line.target, values[i], columns_[i].name, true);
      for (const ColumnMapLine::Extra& e : line.extras) {
        const auto p = static_cast<std::size_t>(e.property->property);
        if (extra_done_[p]) continue;
        extra_done_[p] = true;
        b.Set(*e.property, e.value, columns_[i].name, true);
      }
    }
  }

 private:
  ColumnMap map_;
  std::vector<std::size_t> uses_;  // the map line of each column, kNone for none
  std::vector<bool> extra_done_;
};

}  // namespace

std::unique_ptr<ColumnPlan> MakeMapPlan(ColumnMap map, std::span<const std::string_view> names,
                                        const std::string& shown) {
  return std::make_unique<MapPlan>(std::move(map), names, shown);
}

}  // namespace qvvcard
