#include "input/records.hpp"

#include <filesystem>

#include "bridge/status.hpp"
#include "bridge/utf.hpp"
#include "card/ascii.hpp"
#include "input/csv_reader.hpp"
#include "input/exports.hpp"
#include "input/jsonl_reader.hpp"

namespace qvvcard {

using qv_VCard::bridge::TextToUtf8;
using qv_VCard::bridge::Utf8ToText;

using qv_VCard::PropertyInfo;

// ---------------------------------------------------------------------------

void CardBuilder::Begin(std::uint64_t n) {
  record_ = n;
  problems_.clear();
  // vCardClean keeps TimeZone, which must not pass from one record to the
  // next.
  card_.vCardClean();
  card_.put_TimeZone(std::u16string());
  assigned_.reset();
  text_bytes_ = 0;
  guids_.SetKey({});
}

void CardBuilder::UidKey(std::string_view value) {
  const std::size_t first = value.find_first_not_of(" \t");
  if (first == std::string_view::npos) return;
  guids_.SetKey(value.substr(first, value.find_last_not_of(" \t") - first + 1));
}

bool CardBuilder::Once(const PropertyInfo& info) {
  const auto i = static_cast<std::size_t>(info.property);
  if (assigned_.test(i)) {
    Fail(info.name, "given twice");
    return false;
  }
  assigned_.set(i);
  return true;
}

void CardBuilder::Set(const PropertyInfo& info, std::string_view raw) {
  text_bytes_ += raw.size();
  if (Once(info) && !TryAssignText(card_, info, raw, options_.rfc_escape, scratch_, refusal_)) {
    Fail(info.name, refusal_);
  }
}

void CardBuilder::Set(const PropertyInfo& info, std::string_view raw, std::string_view column,
                      bool escape) {
  text_bytes_ += raw.size();
  if (Once(info) &&
      !TryAssignText(card_, info, raw, escape && options_.rfc_escape, scratch_, refusal_)) {
    Fail(std::string(column) + " (" + info.name + ")", refusal_);
  }
}

void CardBuilder::Set(const PropertyInfo& info, const FieldValue& value) {
  text_bytes_ += value.view().size();
  if (!Once(info)) return;
  std::string refusal = Assign(card_, info, value, options_.rfc_escape, scratch_);
  if (!refusal.empty()) Fail(info.name, std::move(refusal));
}

void CardBuilder::Fail(std::string field, std::string reason, qv_VCard::Status status) {
  problems_.push_back({record_, std::move(field), std::move(reason), status});
}

namespace {

// Takes the card in the pieces the card object hands over and keeps it as
// UTF-8: the card is never held whole in UTF-16 beside its record. A
// surrogate pair split between two pieces waits for its second half.
class Utf8Card final : public qv_VCard::TextSink {
 public:
  explicit Utf8Card(std::string& out) : out_(out) { out_.clear(); }
  qv_VCard::Status Write(std::u16string_view piece) noexcept override {
    try {
      std::u16string_view rest = piece;
      if (pending_ != 0 && !rest.empty()) {
        const char16_t pair[2] = {pending_, rest.front()};
        pending_ = 0;
        if (!Append({pair, 2})) return qv_VCard::kNoUnicodeTranslation;
        rest.remove_prefix(1);
      }
      if (!rest.empty() && rest.back() >= 0xD800 && rest.back() <= 0xDBFF) {
        pending_ = rest.back();
        rest.remove_suffix(1);
      }
      return Append(rest) ? qv_VCard::kOk : qv_VCard::kNoUnicodeTranslation;
    } catch (...) {
      return qv_VCard::bridge::StatusOfCurrentException();
    }
  }
  bool Complete() const { return pending_ == 0; }

 private:
  bool Append(std::u16string_view units) {
    if (!TextToUtf8(units, piece_)) return false;
    out_ += piece_;
    return true;
  }
  std::string& out_;
  std::string piece_;
  char16_t pending_ = 0;
};

}  // namespace

namespace {

std::string Plural(std::uint64_t n, const char* word) {
  return std::to_string(n) + " " + word + (n == 1 ? "" : "s");
}

// The slots whose line the card writes only when one of its type flags is
// set: their texts and their flags.
struct TypedSlot {
  const char* prefix;
  const char* what;
  const char* example;  // a flag that gives any such value its line
  std::vector<qv_VCard::Property> texts, flags;
};
const std::vector<TypedSlot>& TypedSlots() {
  static const std::vector<TypedSlot> slots = [] {
    std::vector<TypedSlot> all;
    for (const char* p : {"Adr1_", "Adr2_", "Adr3_"})
      all.push_back({p, "address", "Postal", {}, {}});
    for (const char* p : {"Tel1_", "Tel2_", "Tel3_", "Tel4_"}) {
      all.push_back({p, "telephone number", "Voice", {}, {}});
    }
    for (TypedSlot& slot : all) {
      for (const PropertyInfo& info : qv_VCard::Properties()) {
        if (!std::string_view(info.name).starts_with(slot.prefix)) continue;
        (info.kind == qv_VCard::Kind::Flag ? slot.flags : slot.texts).push_back(info.property);
      }
    }
    return all;
  }();
  return slots;
}

void CountUntyped(const qv_VCard::qvVCard& card, std::array<std::uint64_t, 7>& counts) {
  const std::vector<TypedSlot>& slots = TypedSlots();
  qv_VCard::Text text;
  for (std::size_t i = 0; i < slots.size(); ++i) {
    bool any_text = false, any_flag = false;
    for (const qv_VCard::Property p : slots[i].texts) {
      // An address part reads with its ";" after it.
      const std::size_t empty = qv_VCard::Info(p).rule == qv_VCard::ReadRule::Separator ? 1 : 0;
      any_text = any_text || (card.Get(p, text) == qv_VCard::kOk && text.size() > empty);
    }
    if (!any_text) continue;
    for (const qv_VCard::Property p : slots[i].flags) {
      std::int16_t v = 0;
      any_flag = any_flag || (card.Get(p, v) == qv_VCard::kOk && v != 0);
    }
    if (!any_flag) ++counts[i];
  }
}

}  // namespace

bool CardBuilder::Finish(std::string& card) {
  if (bad()) return false;
  // The card's UTF-8 is about as long as the values that went into it (a
  // little longer where they were escaped), plus its fixed lines.
  if (text_bytes_ > kLargeValueBytes) card.reserve(text_bytes_ + text_bytes_ / 64 + 4096);
  Utf8Card sink(card);
  const qv_VCard::Status s = card_.get_vCard(sink);
  if (s == qv_VCard::kNoUnicodeTranslation || (qv_VCard::Succeeded(s) && !sink.Complete())) {
    Fail("vCard", "not valid UTF-16");
    return false;
  }
  if (qv_VCard::Failed(s)) {
    Fail("vCard", qv_VCard::bridge::StatusMessage(s), s);
    return false;
  }
  // The card ends with "END:VCARD"; in a file every line ends with CR LF.
  card += "\r\n";
  if (!options_.uid_from.empty() && !guids_.has_key()) ++random_uids_;
  CountUntyped(card_, untyped_);
  return true;
}

std::vector<std::string> CardBuilder::Untyped() const {
  std::vector<std::string> lines;
  for (std::size_t i = 0; i < untyped_.size(); ++i) {
    if (untyped_[i] == 0) continue;
    const TypedSlot& slot = TypedSlots()[i];
    lines.push_back(std::string(slot.prefix) + "*: " + Plural(untyped_[i], "card") + " left the " +
                    slot.what + " out: it had no type flag (set " + slot.prefix + slot.example +
                    ", say)");
  }
  return lines;
}

void CardBuilder::ReleaseLarge(std::string& card) {
  // After a large record, the card's texts and the last card give their
  // storage back instead of holding it for the rest of the run.
  if (card.capacity() <= kLargeValueBytes) return;
  std::string().swap(card);
  for (const qv_VCard::PropertyInfo& p : qv_VCard::Properties()) {
    if (p.kind == qv_VCard::Kind::Text) card_.Put(p.property, std::u16string());
  }
  std::u16string().swap(scratch_);
}

// ---------------------------------------------------------------------------

namespace {

// A name the input has but the card does not, and where it was first seen.
struct UnknownName {
  std::string name;
  std::string where;  // "column 3", "record 2 (line 4)"
};

// All unknown names in one message, each with the property it is nearest
// to when one is near enough.
std::string DescribeUnknown(const std::vector<UnknownName>& unknown, const char* what,
                            const std::string& in) {
  const auto one = [](const UnknownName& u, bool with_where) {
    std::string s = Quoted(u.name);
    const std::string near = NearestPropertyName(u.name);
    if (with_where || !near.empty()) {
      s += " (";
      if (with_where) s += u.where;
      if (!near.empty()) s += std::string(with_where ? "; " : "") + "did you mean " + near + "?";
      s += ")";
    }
    return s;
  };
  if (unknown.size() == 1) {
    return std::string("unknown ") + what + " " + one(unknown[0], false) + " in " +
           unknown[0].where + " of " + in;
  }
  std::string s = std::string("unknown ") + what + "s in " + in + ": ";
  for (std::size_t i = 0; i < unknown.size(); ++i) {
    if (i > 0) s += ", ";
    s += one(unknown[i], true);
  }
  return s;
}

std::string TrimmedName(std::string_view s) {
  const std::size_t first = s.find_first_not_of(" \t");
  if (first == std::string_view::npos) return {};
  return std::string(s.substr(first, s.find_last_not_of(" \t") - first + 1));
}

// A record whose fields are all empty (spreadsheets write rows of separators
// only after formatted ranges) is no record, like a blank line.
bool AllEmpty(std::span<const std::string_view> fields) {
  for (const std::string_view f : fields) {
    if (!f.empty()) return false;
  }
  return true;
}
bool AllEmpty(std::span<const JsonItem> items) {
  for (const JsonItem& item : items) {
    const FieldValue& v = item.value;
    if (v.type != FieldValue::Type::Null &&
        !(v.type == FieldValue::Type::Text && v.view().empty())) {
      return false;
    }
  }
  return true;
}

// Whether a header row names columns the tool knows: a known export, the
// columns of the export or column map --columns names, or property names
// (the column of --uid-from among them).
bool KnownHeader(std::span<const std::string_view> names, const ConvertOptions& options) {
  if (!options.columns.empty()) {
    try {
      return PlanColumns(names, options, "the input") != nullptr;
    } catch (const InputRefused&) {
      return false;
    }
  }
  if (RecognisedHeader(names)) return true;
  const std::string_view uid_from = options.uid_from;
  bool any = false;
  for (const std::string_view name : names) {
    const std::string trimmed = TrimmedName(name);
    if (trimmed.empty()) continue;
    if (qv_VCard::FindProperty(trimmed) == nullptr &&
        !(!uid_from.empty() && qv_VCard::ascii::EqualIgnoringCase(trimmed, uid_from))) {
      return false;
    }
    any = true;
  }
  return any;
}

// The separator of a CSV input, from its header row: the first of ",", ";"
// and tab that splits it into known names, or else the one that splits it
// into the most fields (so that the names are reported as they are).
char SeparatorOf(InputStream& in, const ConvertOptions& options) {
  if (options.separator != 0) return options.separator;
  std::string_view head;
  for (std::size_t want = 4096;; want *= 2) {
    head = in.Gather(want);
    if (head.size() < want || head.find_first_of("\r\n") != std::string_view::npos ||
        want >= in.capacity()) {
      break;
    }
  }
  char best = ',';
  std::size_t most = 0;
  for (const char c : {',', ';', '\t'}) {
    InputStream copy(head);
    CsvReader reader(copy, CsvReader::Limits{}, c);
    CsvRecord rec;
    bool found = false;
    while (!found && reader.Next(rec)) found = !AllEmpty(rec.views());
    if (!found) break;
    if (KnownHeader(rec.views(), options)) return c;
    if (rec.views().size() > most) {
      most = rec.views().size();
      best = c;
    }
  }
  return best;
}

class CsvSource final : public RecordSource {
 public:
  CsvSource(InputStream& in, const std::string& shown, const ConvertOptions& options)
      : reader_(in, CsvReader::Limits{options.max_record_bytes}, SeparatorOf(in, options)),
        uid_from_(options.uid_from) {
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
      if (!rec_.error().empty()) {
        b.Fail("line " + std::to_string(rec_.line()), rec_.error());
      } else if (rec_.views().size() != columns_.size()) {
        b.Fail("line " + std::to_string(rec_.line()), Plural(rec_.views().size(), "field") +
                                                          ", the header has " +
                                                          std::to_string(columns_.size()));
      } else if (plan_) {
        if (uid_column_ != 0) b.UidKey(rec_.views()[uid_column_ - 1]);
        plan_->Apply(rec_.views(), b);
      } else {
        const std::span<const std::string_view> values = rec_.views();
        if (uid_column_ != 0) b.UidKey(values[uid_column_ - 1]);
        for (std::size_t i = 0; i < values.size(); ++i) {
          if (const PropertyInfo* info = columns_[i]) {
            b.Set(*info, values[i]);
          } else if (!values[i].empty() && i + 1 != uid_column_) {
            b.Fail("column " + std::to_string(i + 1), "a value in a column without a name");
          }
        }
      }
      rec_.ReleaseIfLarge(kLargeValueBytes);  // its values are in the card now
      return true;
    }
    return false;
  }

 private:
  void ReadHeader(const std::string& shown, const ConvertOptions& options) {
    CsvRecord header;
    bool found = false;
    while (reader_.Next(header)) {
      if (!header.error().empty() || !AllEmpty(header.views())) {
        found = true;
        break;
      }
    }
    if (!found) throw InputRefused(shown + " is empty: it has no header row", false);
    if (!header.error().empty()) {
      throw InputRefused("the header of " + shown + " is malformed: " + header.error(), false);
    }
    for (std::size_t i = 0; i < header.views().size() && !uid_from_.empty(); ++i) {
      if (qv_VCard::ascii::EqualIgnoringCase(TrimmedName(header.views()[i]), uid_from_)) {
        uid_column_ = i + 1;
        break;
      }
    }
    if (!uid_from_.empty() && uid_column_ == 0) {
      throw InputRefused(
          "the header of " + shown + " has no column " + Quoted(uid_from_) + " for --uid-from",
          false);
    }
    // A known export or a column map; otherwise property names.
    plan_ = PlanColumns(header.views(), options, shown);
    if (plan_) {
      if (uid_column_ != 0) plan_->ReadElsewhere(uid_column_ - 1);
      columns_.resize(header.views().size());
      return;
    }
    std::vector<std::size_t> column_of(qv_VCard::kPropertyCount, 0);
    std::vector<UnknownName> unknown;
    for (std::size_t i = 0; i < header.views().size(); ++i) {
      const std::string name = TrimmedName(header.views()[i]);
      const PropertyInfo* info = nullptr;
      const bool uid = i + 1 == uid_column_;
      if (!name.empty() && (!uid || qv_VCard::FindProperty(name) != nullptr)) {
        info = qv_VCard::FindProperty(name);
        if (info == nullptr) {
          unknown.push_back({name, "column " + std::to_string(i + 1)});
        } else {
          std::size_t& seen = column_of[static_cast<std::size_t>(info->property)];
          if (seen != 0) {
            throw InputRefused(std::string("column ") + info->name +
                                   " appears twice in the header of " + shown + " (columns " +
                                   std::to_string(seen) + " and " + std::to_string(i + 1) + ")",
                               false);
          }
          seen = i + 1;
        }
      }
      columns_.push_back(info);
    }
    if (!unknown.empty()) {
      throw InputRefused(DescribeUnknown(unknown, "column", "the header of " + shown), true);
    }
  }

  CsvReader reader_;
  CsvRecord rec_;
  // The property of each column, as the header names it; nullptr for a
  // column without a name, which must stay empty.
  std::vector<const PropertyInfo*> columns_;
  std::string uid_from_;
  std::size_t uid_column_ = 0;  // from 1; 0: none
  std::unique_ptr<ColumnPlan> plan_;
  std::uint64_t n_ = 0;
};

class JsonlSource final : public RecordSource {
 public:
  JsonlSource(InputStream& in, const std::string& shown, const ConvertOptions& options)
      : in_(in), limits_{options.max_record_bytes}, uid_from_(options.uid_from) {
    CheckKeys(shown);
    in_.Rewind();
    reader_ = std::make_unique<JsonlReader>(in_, limits_);
  }

  bool Next(CardBuilder& b) override {
    while (reader_->Next(rec_)) {
      if (rec_.error().empty() && AllEmpty(rec_.items())) continue;
      b.Begin(++n_);
      if (!rec_.error().empty()) {
        b.Fail("line " + std::to_string(rec_.line()), rec_.error());
      } else {
        for (const JsonItem& item : rec_.items()) {
          const bool uid = IsUidKey(item.key);
          if (uid && (item.value.type == FieldValue::Type::Text || item.value.number)) {
            b.UidKey(item.value.view());
          }
          if (const PropertyInfo* info = qv_VCard::FindProperty(item.key)) {
            b.Set(*info, item.value);
          } else if (!uid) {
            b.Fail(item.key, "not a property");
          }
        }
      }
      rec_.ReleaseIfLarge(kLargeValueBytes);  // its values are in the card now
      return true;
    }
    return false;
  }

 private:
  // Every key of every readable record must name a property; every
  // unknown key is named once.
  void CheckKeys(const std::string& shown) {
    JsonlReader reader(in_, limits_);
    JsonRecord rec;
    std::uint64_t n = 0;
    bool any = false;
    std::vector<UnknownName> unknown;
    while (reader.Next(rec)) {
      any = true;
      if (!rec.error().empty()) {
        ++n;
        continue;  // reported when converted
      }
      if (AllEmpty(rec.items())) continue;
      ++n;
      for (const JsonItem& item : rec.items()) {
        if (qv_VCard::FindProperty(item.key) != nullptr || IsUidKey(item.key)) continue;
        bool seen = false;
        for (const UnknownName& u : unknown) seen = seen || u.name == item.key;
        if (!seen && unknown.size() < 50) {
          unknown.push_back({item.key, "record " + std::to_string(n) + " (line " +
                                           std::to_string(rec.line()) + ")"});
        }
      }
    }
    if (!any) throw InputRefused(shown + " is empty: it holds no records", false);
    if (!unknown.empty()) throw InputRefused(DescribeUnknown(unknown, "key", shown), true);
  }

  bool IsUidKey(std::string_view key) const {
    return !uid_from_.empty() && qv_VCard::ascii::EqualIgnoringCase(key, uid_from_);
  }

  InputStream& in_;
  JsonlReader::Limits limits_;
  std::string uid_from_;
  std::unique_ptr<JsonlReader> reader_;
  JsonRecord rec_;
  std::uint64_t n_ = 0;
};

}  // namespace

std::string FormatFor(const std::string& format, const std::string& name) {
  if (!format.empty()) return format;
  std::string ext = std::filesystem::path(name).extension().string();
  for (char& c : ext) c = qv_VCard::ascii::Fold(c);
  if (ext == ".jsonl" || ext == ".ndjson") return "jsonl";
  return "csv";
}

std::unique_ptr<RecordSource> OpenRecords(InputStream& in, const std::string& format,
                                          const std::string& shown, const ConvertOptions& options) {
  if (format == "jsonl") {
    if (!options.columns.empty()) {
      throw InputRefused("--columns applies to CSV input, not to the JSON Lines of " + shown,
                         false);
    }
    return std::make_unique<JsonlSource>(in, shown, options);
  }
  return std::make_unique<CsvSource>(in, shown, options);
}

}  // namespace qvvcard
