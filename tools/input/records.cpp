#include "input/records.hpp"

#include <filesystem>

#include "bridge/status.hpp"
#include "bridge/utf.hpp"
#include "card/ascii.hpp"
#include "input/csv_reader.hpp"
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
  return true;
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

std::string Plural(std::uint64_t n, const char* word) {
  return std::to_string(n) + " " + word + (n == 1 ? "" : "s");
}

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

// Whether a header row names columns the tool knows.
bool KnownHeader(std::span<const std::string_view> names) {
  bool any = false;
  for (const std::string_view name : names) {
    const std::string trimmed = TrimmedName(name);
    if (trimmed.empty()) continue;
    if (qv_VCard::FindProperty(trimmed) == nullptr) return false;
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
    if (KnownHeader(rec.views())) return c;
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
      : reader_(in, CsvReader::Limits{options.max_record_bytes}, SeparatorOf(in, options)) {
    ReadHeader(shown);
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
      } else {
        const std::span<const std::string_view> values = rec_.views();
        for (std::size_t i = 0; i < values.size(); ++i) {
          if (const PropertyInfo* info = columns_[i]) {
            b.Set(*info, values[i]);
          } else if (!values[i].empty()) {
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
  void ReadHeader(const std::string& shown) {
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
    std::vector<std::size_t> column_of(qv_VCard::kPropertyCount, 0);
    std::vector<UnknownName> unknown;
    for (std::size_t i = 0; i < header.views().size(); ++i) {
      const std::string name = TrimmedName(header.views()[i]);
      const PropertyInfo* info = nullptr;
      if (!name.empty()) {
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
  std::uint64_t n_ = 0;
};

class JsonlSource final : public RecordSource {
 public:
  JsonlSource(InputStream& in, const std::string& shown, const ConvertOptions& options)
      : in_(in), limits_{options.max_record_bytes} {
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
          if (const PropertyInfo* info = qv_VCard::FindProperty(item.key)) {
            b.Set(*info, item.value);
          } else {
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
        if (qv_VCard::FindProperty(item.key) != nullptr) continue;
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

  InputStream& in_;
  JsonlReader::Limits limits_;
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
  if (format == "jsonl") return std::make_unique<JsonlSource>(in, shown, options);
  return std::make_unique<CsvSource>(in, shown, options);
}

}  // namespace qvvcard
