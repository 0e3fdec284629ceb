// vCard input (2.1, 3.0, 4.0): one card per record, its values mapped onto
// the properties (vcard_mapping.hpp), every value that finds no place
// counted per property.
#include <algorithm>
#include <map>

#include "common/text.hpp"
#include "input/record_source.hpp"
#include "input/vcard_mapping.hpp"
#include "input/vcard_reader.hpp"

namespace qvvcard {

namespace {

// How a reason of the mapping reads after "3 records had".
std::string HadPhrase(const std::string& reason) {
  if (reason.starts_with("no ")) return "a value with " + reason;
  if (reason.starts_with("not ")) return "a value that is " + reason;
  if (reason == vcf::kSecondValue) return "a second value, which has no place on the card";
  return reason;
}

class VcfSource final : public RecordSource {
 public:
  VcfSource(InputStream& in, const std::string& shown, const ConvertOptions& options)
      : shown_(shown),
        reader_(in, vcf::Limits{options.max_record_bytes}, options.vcf_charset),
        keep_uid_(options.keep_uid) {}

  bool Next(CardBuilder& b) override {
    if (!reader_.Next(card_)) {
      if (n_ == 0) throw InputRefused(shown_ + " holds no vCard");
      return false;
    }
    b.Begin(++n_);
    if (!card_.error.empty()) {
      // The field names the line already.
      std::string_view what = card_.error;
      const std::string line = "line " + std::to_string(card_.error_line) + ": ";
      if (what.starts_with(line)) what.remove_prefix(line.size());
      b.Fail(MakeProblem(ProblemKind::Malformed, shown_ + ":" + std::to_string(card_.error_line),
                         std::string(what)));
      return true;
    }
    const vcf::Mapped mapped = vcf::MapCard(card_);
    for (const vcf::Assignment& a : mapped.assignments) {
      b.SetTyped(qv_VCard::Info(a.property), a.value, vcf::SourceOf(*a.line), a.escaped);
    }
    if (keep_uid_ && !mapped.uid.empty()) b.KeepUid(mapped.uid);
    for (const vcf::Unplaced& u : mapped.lost) {
      Count& c = lost_[{u.property, u.reason}];
      if (c.last != n_) {
        c.last = n_;
        ++c.records;
        if (c.order == 0) c.order = ++order_;
      }
    }
    return true;
  }

  // One line per property (and reason) whose values had no place, in the
  // order first met.
  std::vector<std::string> Unplaced() const override {
    std::vector<std::pair<std::uint64_t, std::string>> lines;
    for (const auto& [key, c] : lost_) {
      lines.push_back({c.order, key.first + ": " + Plural(c.records, "record") + " had " +
                                    HadPhrase(key.second)});
    }
    std::sort(lines.begin(), lines.end());
    std::vector<std::string> out;
    for (auto& l : lines) out.push_back(std::move(l.second));
    return out;
  }

 private:
  struct Count {
    std::uint64_t records = 0, last = 0, order = 0;
  };
  std::string shown_;
  vcf::Reader reader_;
  vcf::Card card_;
  bool keep_uid_;
  std::uint64_t n_ = 0, order_ = 0;
  std::map<std::pair<std::string, std::string>, Count> lost_;
};

}  // namespace

std::unique_ptr<RecordSource> OpenVcf(InputStream& in, const std::string& shown,
                                      const ConvertOptions& options) {
  return std::make_unique<VcfSource>(in, shown, options);
}

}  // namespace qvvcard
