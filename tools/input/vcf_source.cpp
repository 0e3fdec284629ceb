// vCard input (2.1, 3.0, 4.0): one card per record, its values mapped onto
// the properties (vcard_mapping.hpp), every value that finds no place
// counted per property.
#include <algorithm>
#include <array>
#include <map>

#include "common/text.hpp"
#include "input/record_source.hpp"
#include "input/vcard_mapping.hpp"
#include "input/vcard_reader.hpp"

namespace qvvcard {

namespace {

// How a reason of the mapping reads after "3 records had".
std::string HadPhrase(std::string_view reason) {
  if (reason.starts_with("no ")) return "a value with " + std::string(reason);
  if (reason.starts_with("not ")) return "a value that is " + std::string(reason);
  if (reason == vcf::kSecondValue) return "a second value, which has no place on the card";
  return std::string(reason);
}

class VcfSource final : public RecordSource {
 public:
  VcfSource(InputStream& in, const std::string& shown, const ConvertOptions& options)
      : shown_(shown),
        reader_(in, vcf::Limits{options.max_record_bytes}, options.vcf_charset),
        keep_uid_(options.keep_uid) {
    for (std::size_t i = 0; i < info_.size(); ++i) {
      info_[i] = &qv_VCard::Info(static_cast<qv_VCard::Property>(i));
    }
  }

  bool Next(CardBuilder& b) override {
    if (!vcf::ReadMapped(reader_, card_, mapped_, keep_uid_)) {
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
    return Assign(b);
  }

  // One line per property (and reason) whose values had no place, in the
  // order first met.
  std::vector<std::string> Unplaced() const override {
    std::vector<std::pair<std::uint64_t, std::string>> lines;
    for (const auto& [key, c] : lost_) {
      lines.push_back({c.order, key.property + ": " + Plural(c.records, "record") + " had " +
                                    HadPhrase(key.reason)});
    }
    std::sort(lines.begin(), lines.end());
    std::vector<std::string> out;
    for (auto& l : lines) out.push_back(std::move(l.second));
    return out;
  }

 private:
  // The card's values as mapped, and what had no place.
  bool Assign(CardBuilder& b) {
    for (const vcf::Assignment& a : mapped_.assignments) {
      b.SetTyped(*info_[static_cast<std::size_t>(a.property)], a.value, ColumnOf(*a.line),
                 a.escaped);
    }
    if (keep_uid_ && !mapped_.uid.empty()) b.KeepUid(mapped_.uid);
    for (const vcf::Unplaced& u : mapped_.lost) {
      const Key key{u.property, u.reason};
      auto it = lost_.find(key);
      if (it == lost_.end()) {
        it = lost_.emplace(Owned{std::string(u.property), std::string(u.reason)}, Count{}).first;
      }
      Count& c = it->second;
      if (c.last != n_) {
        c.last = n_;
        ++c.records;
        if (c.order == 0) c.order = ++order_;
      }
    }
    return true;
  }

  struct Count {
    std::uint64_t records = 0, last = 0, order = 0;
  };
  // A property and a reason: as kept, and as a card's loss names them.
  struct Owned {
    std::string property, reason;
  };
  struct Key {
    std::string_view property, reason;
  };
  struct Before {
    using is_transparent = void;
    static Key Of(const Owned& k) { return {k.property, k.reason}; }
    static Key Of(const Key& k) { return k; }
    template <typename A, typename B>
    bool operator()(const A& a, const B& b) const {
      const Key x = Of(a), y = Of(b);
      return x.property != y.property ? x.property < y.property : x.reason < y.reason;
    }
  };

  // The line's name for a problem with its value: "TEL", "item1.TEL".
  std::string_view ColumnOf(const vcf::Line& l) {
    if (l.group.empty()) return l.name;
    column_.assign(l.group).append(1, '.').append(l.name);  // as SourceOf, in reused room
    return column_;
  }

  std::string shown_;
  vcf::Reader reader_;
  vcf::Card card_;
  vcf::Mapped mapped_;
  std::string column_;
  // Each property's facts, looked up once rather than for every value.
  std::array<const qv_VCard::PropertyInfo*, qv_VCard::kPropertyCount> info_{};
  bool keep_uid_;
  std::uint64_t n_ = 0, order_ = 0;
  std::map<Owned, Count, Before> lost_;
};

}  // namespace

std::unique_ptr<RecordSource> OpenVcf(InputStream& in, const std::string& shown,
                                      const ConvertOptions& options) {
  return std::make_unique<VcfSource>(in, shown, options);
}

}  // namespace qvvcard
