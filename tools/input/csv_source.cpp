// CSV input: the header (property names, a known export or a column map),
// then one record per card.
#include <span>

#include "card/ascii.hpp"
#include "common/text.hpp"
#include "input/column_plan.hpp"
#include "input/csv_header.hpp"
#include "input/csv_reader.hpp"
#include "input/record_source.hpp"

namespace qvvcard {

namespace {

using qv_VCard::PropertyInfo;

class CsvSource final : public RecordSource {
 public:
  CsvSource(InputStream& in, const std::string& shown, const ConvertOptions& options)
      : CsvSource(in, shown, options, SeparatorOf(in, options)) {}
  CsvSource(InputStream& in, const std::string& shown, const ConvertOptions& options,
            Separator separator)
      : reader_(in, CsvReader::Limits{options.max_record_bytes}, separator.c),
        uid_from_(options.uid_from) {
    // Excel's line that names the separator is no header.
    if (separator.hint_line) reader_.Next(rec_);
    ReadHeader(shown, options);
  }

  std::string Notice() const override { return plan_ ? plan_->notice() : std::string(); }
  std::vector<std::string> Unplaced() const override {
    return plan_ ? plan_->Report() : std::vector<std::string>();
  }

  bool Next(CardBuilder& b) override {
    while (reader_.Next(rec_)) {
      if (rec_.error().empty() && AllEmpty(rec_.views())) continue;
      b.Begin(++n_);
      const std::span<const std::string_view> values = rec_.views();
      if (!rec_.error().empty()) {
        b.Fail(MakeProblem(ProblemKind::Malformed, LineField(), rec_.error()));
      } else if (values.size() != columns_.size()) {
        b.Fail(MakeProblem(ProblemKind::FieldCount, LineField(),
                           Plural(values.size(), "field") + ", the header has " +
                               std::to_string(columns_.size())));
      } else {
        if (uid_column_ != 0) b.UidKey(values[uid_column_ - 1]);
        if (geo_column_ != 0) b.SetGeo(values[geo_column_ - 1]);
        if (plan_) {
          plan_->Apply(values, b);
        } else {
          for (std::size_t i = 0; i < values.size(); ++i) {
            if (const PropertyInfo* info = columns_[i]) {
              b.Set(*info, values[i]);
            } else if (!values[i].empty() && i + 1 != uid_column_ && i + 1 != geo_column_) {
              b.Fail(MakeProblem(ProblemKind::UnnamedColumn, "column " + std::to_string(i + 1)));
            }
          }
        }
      }
      rec_.ReleaseIfLarge(kLargeValueBytes);  // its values are in the card now
      return true;
    }
    return false;
  }

 private:
  std::string LineField() const { return "line " + std::to_string(rec_.line()); }

  void ReadHeader(const std::string& shown, const ConvertOptions& options) {
    CsvRecord header;
    bool found = false;
    while (reader_.Next(header)) {
      if (!header.error().empty() || !AllEmpty(header.views())) {
        found = true;
        break;
      }
    }
    if (!found) throw InputRefused(shown + " is empty: it has no header row");
    if (!header.error().empty()) {
      throw InputRefused("the header of " + shown + " is malformed: " + header.error());
    }
    const std::span<const std::string_view> names = header.views();
    for (std::size_t i = 0; i < names.size() && !uid_from_.empty(); ++i) {
      if (qv_VCard::ascii::EqualIgnoringCase(TrimBlanks(names[i]), uid_from_)) {
        uid_column_ = i + 1;
        break;
      }
    }
    if (!uid_from_.empty() && uid_column_ == 0) {
      throw InputRefused("the header of " + shown + " has no column " + Quoted(uid_from_) +
                         " for --uid-from");
    }
    // A known export or a column map; otherwise property names.
    plan_ = PlanColumns(names, options, shown);
    if (plan_) {
      if (uid_column_ != 0) plan_->ReadElsewhere(uid_column_ - 1);
      columns_.resize(names.size());
      return;
    }
    std::vector<std::size_t> column_of(qv_VCard::kPropertyCount, 0);
    std::vector<UnknownName> unknown;
    for (std::size_t i = 0; i < names.size(); ++i) {
      const std::string_view name = TrimBlanks(names[i]);
      const PropertyInfo* info = name.empty() ? nullptr : qv_VCard::FindProperty(name);
      if (info == nullptr && IsGeoField(name)) {
        if (geo_column_ != 0) {
          throw InputRefused(TwiceInHeaderText(kGeoField, shown, geo_column_, i + 1));
        }
        geo_column_ = i + 1;
      } else if (!name.empty() && info == nullptr && i + 1 != uid_column_) {
        // The --uid-from column need not be a property.
        unknown.push_back({std::string(name), "column " + std::to_string(i + 1)});
      }
      if (info != nullptr) {
        std::size_t& seen = column_of[static_cast<std::size_t>(info->property)];
        if (seen != 0) throw InputRefused(TwiceInHeaderText(info->name, shown, seen, i + 1));
        seen = i + 1;
      }
      columns_.push_back(info);
    }
    if (!unknown.empty()) throw UnknownNames(unknown, "column", "the header of " + shown);
  }

  CsvReader reader_;
  CsvRecord rec_;
  // The property of each column, as the header names it; nullptr for a
  // column without a name, which must stay empty.
  std::vector<const PropertyInfo*> columns_;
  std::string uid_from_;
  std::size_t uid_column_ = 0;  // from 1; 0: none
  std::size_t geo_column_ = 0;  // the decimal position's, from 1; 0: none
  std::unique_ptr<ColumnPlan> plan_;
  std::uint64_t n_ = 0;
};

}  // namespace

std::unique_ptr<RecordSource> OpenCsv(InputStream& in, const std::string& shown,
                                      const ConvertOptions& options) {
  return std::make_unique<CsvSource>(in, shown, options);
}

}  // namespace qvvcard
