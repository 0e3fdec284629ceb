// Fuzz target: the command-line tool's input readers and value assignment.
//
// The first byte picks the reader (CSV or JSON Lines), the read buffer size
// and whether tight limits apply; the rest is the input, read from a
// memory-backed file exactly as the tool reads a file. Checks:
//   - CSV: a well-formed record written back in quoted form reads back as
//     the same fields; limits hold (fields, bytes);
//   - JSON Lines: each non-blank line agrees with a DOM parse of that line:
//     an error exactly when it is not one JSON object, and the same members
//     and values otherwise;
//   - both: line numbers increase; assigning each value of a record to the
//     property its column or key names either succeeds and stores the value
//     (texts as their UTF-8, numbers as parsed) or is refused and changes
//     nothing; the card read afterwards keeps its frame.

#include <cstdint>
#include <cstdlib>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "common/problem.hpp"
#include "common/text.hpp"
#include "fuzz_input.hpp"
#include "input/card_builder.hpp"
#include "input/csv_reader.hpp"
#include "input/jsonl_reader.hpp"
#include "input/values.hpp"
#include "memory_file.hpp"
#include "qv_vcard/qvVCard.hpp"
#include "utf8_oracle.hpp"

namespace {

using namespace qv_VCard;
using qv_fuzz::Show;
using qvvcard::FieldValue;

using qv_fuzz::MemoryFile;

// How the tool reads a number or flag word: blanks and tabs around it do not
// count, then "true"/"yes" and "false"/"no" in any case (flags only), or an
// optional sign and decimal digits.
enum class Number { Empty, Valid, OutOfRange, Invalid };
Number ParseNumber(std::string_view s, bool flag, std::int16_t& out) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  if (s.empty()) return Number::Empty;
  std::string lower(s);
  for (char& c : lower) c = (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
  if (flag && (lower == "true" || lower == "yes")) return out = kTrue, Number::Valid;
  if (flag && (lower == "false" || lower == "no")) return out = kFalse, Number::Valid;
  const std::size_t first = (s[0] == '+' || s[0] == '-') ? 1 : 0;
  if (first == s.size()) return Number::Invalid;
  long long v = 0;
  for (std::size_t k = first; k < s.size(); ++k) {
    if (s[k] < '0' || s[k] > '9') return Number::Invalid;
    if (v < 100000) v = v * 10 + (s[k] - '0');
  }
  if (s[0] == '-') v = -v;
  if (v < -32768 || v > 32767) return Number::OutOfRange;
  out = static_cast<std::int16_t>(v);
  return Number::Valid;
}

std::vector<Value> Snapshot(const qvVCard& c) {
  std::vector<Value> all;
  for (const PropertyInfo& p : Properties()) {
    Value v;
    FUZZ_CHECK(c.GetById(p.dispid, v) == kOk, p.name);
    all.push_back(std::move(v));
  }
  return all;
}

// Assigns one value through the builder (in its record begun) and checks
// the outcome against what the value calls for.
void AssignAndCheck(qvvcard::CardBuilder& builder, std::vector<bool>& given, std::string_view key,
                    const FieldValue& value) {
  const PropertyInfo* info = FindProperty(key);
  if (info == nullptr) return;  // the tool reports unknown names before assigning
  using Type = FieldValue::Type;
  const bool escape = builder.rfc_escape();
  const bool twice = given[static_cast<std::size_t>(info->property)];
  given[static_cast<std::size_t>(info->property)] = true;

  // What should happen: refused, nothing assigned, or this text or value.
  bool refuse = twice, nothing = value.type == Type::Null;
  std::u16string want_text;
  std::int16_t want_value = 0;
  const bool hemisphere = info->rule == ReadRule::GeoLatSign || info->rule == ReadRule::GeoLonSign;
  if (nothing) {
  } else if (hemisphere) {
    // One letter of the axis in any case, blanks around it, or nothing.
    const bool as_text = value.type == Type::Text || (value.number && !value.text.empty());
    std::string_view v = as_text ? value.view() : std::string_view();
    while (!v.empty() && (v.front() == ' ' || v.front() == '\t')) v.remove_prefix(1);
    while (!v.empty() && (v.back() == ' ' || v.back() == '\t')) v.remove_suffix(1);
    const std::string_view letters = info->rule == ReadRule::GeoLatSign ? "NSns" : "EWew";
    refuse = !as_text || (!v.empty() && (v.size() != 1 || letters.find(v[0]) == letters.npos));
    if (!refuse && !v.empty()) want_text = static_cast<char16_t>(v[0] & ~0x20);
  } else if (info->kind == Kind::Text) {
    // A text, or a number taken as its text as written; one that starts
    // with a byte-order mark is refused (the mark belongs at the start of
    // a file only).
    const bool as_text = value.type == Type::Text || (value.number && !value.text.empty());
    refuse = !as_text || value.view().starts_with("\xEF\xBB\xBF") ||
             !qv_fuzz::Decode(value.view(), want_text);
    if (!refuse && escape) qvvcard::RfcEscape(qvvcard::EscapeClass(info->property), want_text);
  } else if (value.type == Type::Text) {
    const Number n = ParseNumber(value.view(), info->kind == Kind::Flag, want_value);
    refuse = n == Number::Invalid || n == Number::OutOfRange;
    nothing = n == Number::Empty;
  } else if (value.type == Type::Bool) {
    refuse = info->kind != Kind::Flag;
    want_value = value.boolean ? kTrue : kFalse;
  } else if (value.type == Type::Integer) {
    refuse = value.integer_too_large || value.integer < -32768 || value.integer > 32767;
    want_value = static_cast<std::int16_t>(value.integer);
  } else {
    refuse = true;
  }

  if (twice) {
    refuse = true;
    nothing = false;
  }
  const std::vector<Value> before = Snapshot(builder.card());
  const std::size_t problems = builder.problems().size();
  builder.Set(*info, value);
  const qvVCard& card = builder.card();
  const bool refused = builder.problems().size() > problems;
  const std::string what = std::string(info->name) + " given " + qvvcard::Quoted(value.view());
  FUZZ_CHECK(refused == refuse,
             what + ": " + (refuse ? "taken" : qvvcard::Describe(builder.problems().back())));
  if (refused) {
    FUZZ_CHECK(builder.problems().back().field == info->name, what + ": field");
  }
  if (refuse || nothing) {
    FUZZ_CHECK(Snapshot(card) == before, what + " changed the card");
  } else if (info->kind == Kind::Text) {
    Text stored;
    card.Get(info->property, stored);
    if (info->rule == ReadRule::Stored) FUZZ_CHECK(stored == want_text, what + ": " + Show(stored));
    if (hemisphere) {
      const bool positive = want_text == (info->rule == ReadRule::GeoLatSign ? u"N" : u"E") ||
                            (info->rule == ReadRule::GeoLonSign && want_text.empty());
      FUZZ_CHECK(stored == (positive ? u"+" : u"-"), what + ": " + Show(stored));
    }
  } else {
    std::int16_t stored = 0;
    card.Get(info->property, stored);
    FUZZ_CHECK(stored == want_value, what + ": " + std::to_string(stored));
  }
}

void CheckCardFrame(const qvVCard& card) {
  Text out;
  const Status s = card.get_vCard(out);
  FUZZ_CHECK(s == kOk || s == kOverflow, "card status " + std::to_string(s));
  if (s == kOk) {
    FUZZ_CHECK(out.starts_with(u"BEGIN:VCARD\r\n") && out.ends_with(u"\r\nEND:VCARD"), Show(out));
  }
}

std::string QuotedCsv(std::span<const std::string> fields) {
  std::string line;
  for (std::size_t i = 0; i < fields.size(); ++i) {
    if (i > 0) line += ',';
    line += '"';
    for (char c : fields[i]) line += c == '"' ? std::string("\"\"") : std::string(1, c);
    line += '"';
  }
  return line + "\r\n";
}

void FuzzCsv(std::string_view data, std::size_t buffer, bool tight, bool escape) {
  MemoryFile file(data);
  qvvcard::InputStream in(file.fd(), buffer);
  qvvcard::CsvReader::Limits limits;
  if (tight) limits = {64, 6};
  qvvcard::CsvReader reader(in, limits);
  qvvcard::CsvRecord rec;
  std::vector<std::string> header;
  std::uint64_t last_line = 0;
  qvvcard::CardBuilder builder(escape);
  for (int n = 0; reader.Next(rec); ++n) {
    FUZZ_CHECK(rec.line() > last_line, "line numbers must increase");
    last_line = rec.line();
    FUZZ_CHECK(rec.views().size() >= 1 && rec.views().size() <= limits.max_fields, "fields");
    std::size_t bytes = 0;
    for (const std::string_view f : rec.views()) bytes += f.size();
    FUZZ_CHECK(bytes <= limits.max_record_bytes, "record bytes beyond the limit");
    if (!rec.error().empty()) continue;

    // Written back with every field quoted, the record reads the same.
    const std::vector<std::string> fields(rec.views().begin(), rec.views().end());
    const std::string again = QuotedCsv(fields);
    MemoryFile file2(again);
    qvvcard::InputStream in2(file2.fd());
    qvvcard::CsvReader reader2(in2);
    qvvcard::CsvRecord rec2;
    FUZZ_CHECK(reader2.Next(rec2) && rec2.error().empty(), "quoted form: " + rec2.error());
    FUZZ_CHECK(std::equal(fields.begin(), fields.end(), rec2.views().begin(), rec2.views().end()),
               "quoted form reads differently");
    FUZZ_CHECK(!reader2.Next(rec2), "quoted form gave two records");

    if (n == 0) {
      header = fields;
      continue;
    }
    builder.Begin(static_cast<std::uint64_t>(n));
    std::vector<bool> given(kPropertyCount);
    for (std::size_t i = 0; i < fields.size() && i < header.size(); ++i) {
      AssignAndCheck(builder, given, header[i], FieldValue::OfText(fields[i]));
    }
    CheckCardFrame(builder.card());
  }
}

// The lines the JSON Lines reader should look at: split at LF, without a
// leading byte-order mark and a CR before the LF; blank ones are skipped
// unless longer than the limit, which makes them records with an error.
struct JsonLine {
  std::string text;
  bool too_long;
};
std::vector<JsonLine> JsonLines(std::string_view data, std::size_t max) {
  if (data.starts_with("\xEF\xBB\xBF")) data.remove_prefix(3);
  std::vector<JsonLine> lines;
  while (!data.empty()) {
    const std::size_t lf = data.find('\n');
    JsonLine line{std::string(data.substr(0, lf)), false};
    data.remove_prefix(lf == std::string_view::npos ? data.size() : lf + 1);
    line.too_long = line.text.size() > max;
    if (!line.text.empty() && line.text.back() == '\r') line.text.pop_back();
    if (line.too_long || line.text.find_first_not_of(" \t\r") != std::string::npos) {
      lines.push_back(std::move(line));
    }
  }
  return lines;
}

void CompareWithDom(const qvvcard::JsonRecord& rec, const std::string& line) {
  const nlohmann::json dom = nlohmann::json::parse(line, nullptr, false);
  // The DOM parser ends a text at a NUL byte, which JSON allows nowhere
  // outside a string (and inside one only escaped), and skips a byte-order
  // mark at the start of its text; the reader takes one only at the start of
  // the input, so on a line it is a character where JSON allows none.
  if (dom.is_discarded() || !dom.is_object() || line.find('\0') != std::string::npos ||
      line.starts_with("\xEF\xBB\xBF")) {
    FUZZ_CHECK(!rec.error().empty(), "accepted what is not one object: " + line);
    return;
  }
  FUZZ_CHECK(rec.error().empty(), "refused a valid object: " + rec.error());
  std::size_t distinct = 0;
  for (const qvvcard::JsonItem& item : rec.items()) {
    FUZZ_CHECK(dom.contains(item.key), "key not in the line: " + item.key);
    ++distinct;
  }
  FUZZ_CHECK(distinct >= dom.size(), "members lost");
  if (rec.items().size() != dom.size()) return;  // duplicate keys: the DOM kept one
  using Type = FieldValue::Type;
  for (const qvvcard::JsonItem& item : rec.items()) {
    const nlohmann::json& v = dom.at(item.key);
    const FieldValue& f = item.value;
    switch (v.type()) {
      case nlohmann::json::value_t::string:
        FUZZ_CHECK(f.type == Type::Text && f.view() == v.get<std::string>(), item.key);
        break;
      case nlohmann::json::value_t::boolean:
        FUZZ_CHECK(f.type == Type::Bool && f.boolean == v.get<bool>(), item.key);
        break;
      case nlohmann::json::value_t::null:
        FUZZ_CHECK(f.type == Type::Null, item.key);
        break;
      case nlohmann::json::value_t::number_integer:
        FUZZ_CHECK(
            f.type == Type::Integer && !f.integer_too_large && f.integer == v.get<std::int64_t>(),
            item.key);
        break;
      case nlohmann::json::value_t::number_unsigned:
        FUZZ_CHECK(f.type == Type::Integer, item.key);
        if (!f.integer_too_large) {
          FUZZ_CHECK(static_cast<std::uint64_t>(f.integer) == v.get<std::uint64_t>(), item.key);
        }
        break;
      case nlohmann::json::value_t::number_float:
        FUZZ_CHECK((f.type == Type::Integer && f.integer_too_large) || f.type == Type::Other,
                   item.key);
        break;
      default:  // object, array
        FUZZ_CHECK(f.type == Type::Other, item.key);
        break;
    }
  }
}

void FuzzJsonl(std::string_view data, std::size_t buffer, bool tight, bool escape) {
  MemoryFile file(data);
  qvvcard::InputStream in(file.fd(), buffer);
  qvvcard::JsonlReader::Limits limits;
  if (tight) limits = {48, 4};
  qvvcard::JsonlReader reader(in, limits);
  qvvcard::JsonRecord rec;
  const std::vector<JsonLine> lines = JsonLines(data, limits.max_line_bytes);
  std::size_t n = 0;
  std::uint64_t last_line = 0;
  qvvcard::CardBuilder builder(escape);
  while (reader.Next(rec)) {
    FUZZ_CHECK(n < lines.size(), "more records than non-blank lines");
    FUZZ_CHECK(rec.line() > last_line, "line numbers must increase");
    last_line = rec.line();
    FUZZ_CHECK(rec.items().size() <= limits.max_items, "more items than the limit");
    const JsonLine& line = lines[n++];
    if (line.too_long) {
      FUZZ_CHECK(!rec.error().empty(), "an overlong line accepted");
      continue;
    }
    if (!tight) CompareWithDom(rec, line.text);
    if (!rec.error().empty()) continue;
    builder.Begin(n);
    std::vector<bool> given(kPropertyCount);
    for (const qvvcard::JsonItem& item : rec.items()) {
      AssignAndCheck(builder, given, item.key, item.value);
    }
    CheckCardFrame(builder.card());
  }
  FUZZ_CHECK(n == lines.size(), "non-blank lines without a record");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::uint8_t how = data[0];
  const std::string_view input(reinterpret_cast<const char*>(data) + 1, size - 1);
  const std::size_t buffer = 1 + ((how >> 2) & 0x0F) * 5;  // small, to split every sequence
  const bool tight = how & 0x40;
  const bool escape = how & 0x80;
  if (how & 1) {
    FuzzJsonl(input, buffer, tight, escape);
  } else {
    FuzzCsv(input, buffer, tight, escape);
  }
  return 0;
}
