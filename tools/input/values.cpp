#include "input/values.hpp"

#include <algorithm>
#include <cstdio>
#include <vector>

#include "bridge/status.hpp"
#include "bridge/utf.hpp"
#include "card/ascii.hpp"
#include "card/line_table.hpp"

namespace qvvcard {

using qv_VCard::bridge::TextToUtf8;
using qv_VCard::bridge::Utf8ToText;

using qv_VCard::Kind;
using qv_VCard::Property;

Escape EscapeClass(Property p) noexcept {
  // What card readers take as structure in the value decides.
  switch (qv_VCard::lines::RoleOf(p)) {
    case qv_VCard::lines::ValueRole::Component:
    case qv_VCard::lines::ValueRole::Text:
      return Escape::All;
    case qv_VCard::lines::ValueRole::ListItems:
      return Escape::ListItems;
    case qv_VCard::lines::ValueRole::Verbatim:
      break;
  }
  return Escape::None;
}

void RfcEscape(Escape how, std::u16string& text) {
  if (how == Escape::None) return;
  const std::u16string_view special = how == Escape::All ? u"\\;," : u"\\;";
  std::size_t count = 0;
  for (const char16_t c : text) count += special.find(c) != std::u16string_view::npos;
  if (count == 0) return;
  // In place, from the back: each backslash goes in before its character,
  // so a text of any size needs no second copy.
  std::size_t from = text.size();
  text.resize(text.size() + count);
  std::size_t to = text.size();
  while (from > 0) {
    const char16_t c = text[--from];
    text[--to] = c;
    if (special.find(c) != std::u16string_view::npos) text[--to] = u'\\';
  }
}

namespace {

std::string_view TrimBlanks(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

ParseResult RangeCheck(std::int64_t v, std::int16_t& out) {
  if (v < INT16_MIN || v > INT16_MAX) return ParseResult::OutOfRange;
  out = static_cast<std::int16_t>(v);
  return ParseResult::Ok;
}

}  // namespace

namespace {

// A trimmed, non-empty text: one sign, then decimal digits and nothing else.
ParseResult ParseDecimal(std::string_view s, std::int16_t& out) noexcept {
  const bool negative = s.front() == '-';
  if (negative || s.front() == '+') s.remove_prefix(1);
  if (s.empty()) return ParseResult::NotANumber;
  // Past this bound the value is out of range whatever follows; counting
  // stops there, so that no number of digits can overflow it.
  constexpr std::int32_t kBeyond = 1 << 16;
  std::int32_t v = 0;
  for (const char c : s) {
    if (c < '0' || c > '9') return ParseResult::NotANumber;
    if (v < kBeyond) v = v * 10 + (c - '0');
  }
  return RangeCheck(negative ? -v : v, out);
}

// A lone digit, as flags and small numbers mostly come.
bool IsOneDigit(std::string_view s) { return s.size() == 1 && s[0] >= '0' && s[0] <= '9'; }

}  // namespace

ParseResult ParseInt16(std::string_view s, std::int16_t& out) noexcept {
  if (IsOneDigit(s)) {
    out = static_cast<std::int16_t>(s.front() - '0');
    return ParseResult::Ok;
  }
  s = TrimBlanks(s);
  if (s.empty()) return ParseResult::Empty;
  return ParseDecimal(s, out);
}

ParseResult ParseFlag(std::string_view s, std::int16_t& out) noexcept {
  if (IsOneDigit(s)) return ParseInt16(s, out);
  const std::string_view word = TrimBlanks(s);
  if (word.empty()) return ParseResult::Empty;
  const char first = word.front();
  if ((first >= '0' && first <= '9') || first == '-' || first == '+') {
    return ParseDecimal(word, out);
  }
  if (qv_VCard::ascii::EqualIgnoringCase(word, "true") ||
      qv_VCard::ascii::EqualIgnoringCase(word, "yes")) {
    out = qv_VCard::kTrue;
    return ParseResult::Ok;
  }
  if (qv_VCard::ascii::EqualIgnoringCase(word, "false") ||
      qv_VCard::ascii::EqualIgnoringCase(word, "no")) {
    out = qv_VCard::kFalse;
    return ParseResult::Ok;
  }
  return ParseResult::NotANumber;
}

std::string Quoted(std::string_view raw) {
  constexpr std::size_t kMax = 40;
  std::string out = "\"";
  for (std::size_t i = 0; i < raw.size() && i < kMax; ++i) {
    const auto c = static_cast<unsigned char>(raw[i]);
    if (c >= 0x20 && c < 0x7F && c != '"' && c != '\\') {
      out.push_back(static_cast<char>(c));
    } else {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\x%02X", c);
      out += buf;
    }
  }
  if (raw.size() > kMax) out += "...";
  out += '"';
  return out;
}

namespace {

std::string Describe(const FieldValue& v) {
  switch (v.type) {
    case FieldValue::Type::Text:
      return Quoted(v.view());
    case FieldValue::Type::Bool:
      return v.boolean ? "true" : "false";
    case FieldValue::Type::Integer:
      return v.integer_too_large ? "a very large integer" : std::to_string(v.integer);
    case FieldValue::Type::Null:
      return "null";
    case FieldValue::Type::Other:
      return v.text;
  }
  return {};
}

const char* Expectation(Kind kind) {
  switch (kind) {
    case Kind::Text:
      return "expects a text";
    case Kind::Flag:
      return "expects true, false, yes, no or a 16-bit integer";
    case Kind::Int16:
      return "expects a 16-bit integer";
  }
  return "";
}

std::string OutOfRange(const std::string& shown) {
  return shown + " is outside the 16-bit range -32768 to 32767";
}

std::string Refusal(qv_VCard::Status status) {
  return qv_VCard::Failed(status) ? "cannot be assigned: " + qv_VCard::bridge::StatusMessage(status)
                                  : std::string();
}

std::string PutNumber(qv_VCard::qvVCard& card, const qv_VCard::PropertyInfo& info, ParseResult r,
                      std::int16_t v, const FieldValue& shown) {
  switch (r) {
    case ParseResult::Ok:
      return Refusal(card.Put(info.property, v));
    case ParseResult::Empty:
      return {};
    case ParseResult::NotANumber:
      return std::string(Expectation(info.kind)) + ", not " + Describe(shown);
    case ParseResult::OutOfRange:
      return OutOfRange(Describe(shown));
  }
  return {};
}

// The reasons for refusing a value, kept out of the way of assignments
// that succeed.
[[gnu::cold, gnu::noinline]] bool RefuseUtf8(std::size_t bad, std::string& refusal) {
  refusal = std::string(kInvalidUtf8) + " at byte " + std::to_string(bad + 1);
  return false;
}
[[gnu::cold, gnu::noinline]] bool RefuseStatus(qv_VCard::Status s, std::string& refusal) {
  refusal = Refusal(s);
  return false;
}
// r is NotANumber or OutOfRange: the card is not touched.
[[gnu::cold, gnu::noinline]] bool RefuseNumber(qv_VCard::qvVCard& card,
                                               const qv_VCard::PropertyInfo& info, ParseResult r,
                                               std::string_view raw, std::string& refusal) {
  refusal = PutNumber(card, info, r, 0, FieldValue::OfText(raw));
  return false;
}

// A hemisphere is one letter, N or S for the latitude and E or W for the
// longitude, in any case; it is stored as the capital letter. Anything else
// would silently read as a hemisphere the data does not name.
[[gnu::cold, gnu::noinline]] bool AssignHemisphere(qv_VCard::qvVCard& card,
                                                   const qv_VCard::PropertyInfo& info,
                                                   std::string_view raw, std::string& refusal) {
  const bool lat = info.property == qv_VCard::Property::GeoLat;
  std::string_view v = raw;
  while (!v.empty() && (v.front() == ' ' || v.front() == '\t')) v.remove_prefix(1);
  while (!v.empty() && (v.back() == ' ' || v.back() == '\t')) v.remove_suffix(1);
  char16_t letter = 0;
  if (v.size() == 1) {
    const char c = static_cast<char>(v[0] & ~0x20);  // the capital letter
    if (lat ? (c == 'N' || c == 'S') : (c == 'E' || c == 'W')) letter = static_cast<char16_t>(c);
  }
  if (letter == 0 && !v.empty()) {
    refusal = std::string(lat ? "expects N or S" : "expects E or W") + ", not " + Quoted(raw);
    return false;
  }
  const qv_VCard::Status s =
      card.Put(info.property, letter == 0 ? std::u16string() : std::u16string(1, letter));
  return !qv_VCard::Failed(s) || RefuseStatus(s, refusal);
}

}  // namespace

bool TryAssignText(qv_VCard::qvVCard& card, const qv_VCard::PropertyInfo& info,
                   std::string_view raw, bool rfc_escape, std::u16string& scratch,
                   std::string& refusal) {
  qv_VCard::Status s = qv_VCard::kOk;
  if (info.rule == qv_VCard::ReadRule::GeoLatSign || info.rule == qv_VCard::ReadRule::GeoLonSign) {
    return AssignHemisphere(card, info, raw, refusal);
  }
  if (info.kind == Kind::Text) {
    // A large text is made in its own storage and handed over to the card,
    // so that it exists only once beside the input; a small one goes
    // through the reused scratch text.
    std::u16string large;
    std::u16string& text = raw.size() > kLargeValueBytes ? large : scratch;
    std::size_t bad = 0;
    if (!Utf8ToText(raw, text, &bad)) return RefuseUtf8(bad, refusal);
    if (rfc_escape) RfcEscape(EscapeClass(info.property), text);
    s = &text == &large ? card.Put(info.property, std::move(large)) : card.Put(info.property, text);
  } else {
    std::int16_t v = 0;
    const ParseResult r = info.kind == Kind::Flag ? ParseFlag(raw, v) : ParseInt16(raw, v);
    if (r == ParseResult::Empty) return true;
    if (r != ParseResult::Ok) return RefuseNumber(card, info, r, raw, refusal);
    s = card.Put(info.property, v);
  }
  return !qv_VCard::Failed(s) || RefuseStatus(s, refusal);
}

std::string AssignText(qv_VCard::qvVCard& card, const qv_VCard::PropertyInfo& info,
                       std::string_view raw, bool rfc_escape, std::u16string& scratch) {
  std::string refusal;
  TryAssignText(card, info, raw, rfc_escape, scratch, refusal);
  return refusal;
}

std::string Assign(qv_VCard::qvVCard& card, const qv_VCard::PropertyInfo& info,
                   const FieldValue& value, bool rfc_escape, std::u16string& scratch) {
  using Type = FieldValue::Type;
  // A number for a text property (a postal code, a telephone number) is
  // taken as its text exactly as written.
  if (value.number && info.kind == Kind::Text && !value.text.empty()) {
    return AssignText(card, info, value.text, rfc_escape, scratch);
  }
  switch (value.type) {
    case Type::Null:
      return {};
    case Type::Text:
      return AssignText(card, info, value.view(), rfc_escape, scratch);
    case Type::Bool:
      if (info.kind == Kind::Flag) {
        return Refusal(card.Put(info.property, value.boolean ? qv_VCard::kTrue : qv_VCard::kFalse));
      }
      break;
    case Type::Integer:
      if (info.kind != Kind::Text) {
        std::int16_t v = 0;
        const ParseResult r =
            value.integer_too_large ? ParseResult::OutOfRange : RangeCheck(value.integer, v);
        return PutNumber(card, info, r, v, value);
      }
      break;
    case Type::Other:
      break;
  }
  return std::string(Expectation(info.kind)) + ", not " + Describe(value);
}

namespace {

// Edits (insertions, deletions, substitutions, ASCII case ignored) that turn
// a into b.
std::size_t EditDistance(std::string_view a, std::string_view b) {
  std::vector<std::size_t> row(b.size() + 1);
  for (std::size_t j = 0; j <= b.size(); ++j) row[j] = j;
  for (std::size_t i = 1; i <= a.size(); ++i) {
    std::size_t diagonal = row[0];
    row[0] = i;
    for (std::size_t j = 1; j <= b.size(); ++j) {
      const std::size_t above = row[j];
      const std::size_t change =
          qv_VCard::ascii::Fold(a[i - 1]) == qv_VCard::ascii::Fold(b[j - 1]) ? 0 : 1;
      row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + change});
      diagonal = above;
    }
  }
  return row[b.size()];
}

}  // namespace

std::string NearestPropertyName(std::string_view name) {
  // Near enough: at most two edits, and no more than a third of the name.
  const std::size_t allowed = std::min<std::size_t>(2, name.size() / 3);
  std::string best;
  std::size_t best_distance = allowed + 1;
  for (const qv_VCard::PropertyInfo& p : qv_VCard::Properties()) {
    const std::size_t d = EditDistance(name, p.name);
    if (d < best_distance) {
      best_distance = d;
      best = p.name;
    }
  }
  return best;
}

std::string PropertyNameList(std::size_t width, std::size_t indent) {
  std::string out;
  std::string line(indent, ' ');
  const auto props = qv_VCard::Properties();
  for (std::size_t i = 0; i < props.size(); ++i) {
    std::string item = props[i].name;
    if (i + 1 < props.size()) item += ',';
    if (line.size() > indent && line.size() + 1 + item.size() > width) {
      out += line;
      out += '\n';
      line.assign(indent, ' ');
    }
    if (line.size() > indent) line += ' ';
    line += item;
  }
  out += line;
  out += '\n';
  return out;
}

}  // namespace qvvcard
