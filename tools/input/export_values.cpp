#include "input/export_values.hpp"

#include <algorithm>
#include <cstdio>

#include "card/ascii.hpp"

namespace qvvcard {

using qv_VCard::ascii::EqualIgnoringCase;

// Piece k of a cell split as above, keeping empty pieces in their place
// ("" when there are fewer).
std::string_view PieceAt(std::string_view cell, bool multi, std::size_t k) {
  for (std::size_t n = 0;; ++n) {
    const std::size_t at = multi ? cell.find(kMultiSeparator) : std::string_view::npos;
    if (n == k) return TrimBlanks(cell.substr(0, at));
    if (at == std::string_view::npos) return {};
    cell.remove_prefix(at + kMultiSeparator.size());
  }
}
std::size_t PieceCount(std::string_view cell, bool multi) {
  if (cell.empty()) return 0;
  std::size_t n = 1;
  for (std::size_t at = 0; multi && (at = cell.find(kMultiSeparator, at)) != cell.npos;
       at += kMultiSeparator.size()) {
    ++n;
  }
  return n;
}

// A label without the mark "* " of the primary entry; primary says
// whether it had it.
std::string_view Unmarked(std::string_view label, bool& primary) {
  label = TrimBlanks(label);
  primary = label.starts_with("* ");
  if (primary) label = TrimBlanks(label.substr(2));
  return label;
}

namespace {

using qv_VCard::slots::TelType;
constexpr std::uint16_t kPref = Bit(TelType::Pref);
constexpr std::uint16_t kWork = Bit(TelType::Work);
constexpr std::uint16_t kHome = Bit(TelType::Home);
constexpr std::uint16_t kVoice = Bit(TelType::Voice);
constexpr std::uint16_t kFax = Bit(TelType::Fax);
constexpr std::uint16_t kCell = Bit(TelType::Cell);
constexpr std::uint16_t kPager = Bit(TelType::Pager);
constexpr std::uint16_t kCar = Bit(TelType::Car);
constexpr std::uint16_t kIsdn = Bit(TelType::Isdn);

struct LabelFlags {
  std::string_view label;
  std::uint16_t flags;
};
// Telephone labels (any case) and the types they give; other labels give
// none here and are taken as voice numbers.
const LabelFlags kPhoneLabels[] = {
    {"Mobile", kCell},
    {"Work", kWork | kVoice},
    {"Home", kHome | kVoice},
    {"Work Fax", kWork | kFax},
    {"Home Fax", kHome | kFax},
    {"Other Fax", kFax},
    {"Fax", kFax},
    {"Pager", kPager},
    {"Work Pager", kWork | kPager},
    {"Work Mobile", kWork | kCell},
    {"Car", kCar},
    {"ISDN", kIsdn},
    {"Main", kVoice},
    {"Other", kVoice},
    {"Primary", kPref | kVoice},
};

}  // namespace

std::uint16_t PhoneFlags(std::string_view label) {
  for (const LabelFlags& l : kPhoneLabels) {
    if (EqualIgnoringCase(l.label, label)) return l.flags;
  }
  return 0;
}

namespace {

// Labels an export gives every contact of a kind; they are no categories.
const std::string_view kSystemLabels[] = {"myContacts", "My Contacts", "starred",
                                          "Starred in Android"};

}  // namespace

bool IsSystemLabel(std::string_view label) {
  return std::any_of(std::begin(kSystemLabels), std::end(kSystemLabels),
                     [&](std::string_view s) { return EqualIgnoringCase(s, label); });
}

// M/D/YYYY as YYYY-MM-DD; false for anything else.
bool IsCalendarDate(unsigned year, unsigned month, unsigned day) noexcept {
  static constexpr unsigned kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (month < 1 || month > 12 || day < 1) return false;
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  return day <= kDays[month - 1] + (month == 2 && leap ? 1u : 0u);
}

namespace {

// Numbers separated by sep, each of at most max[k] digits (at least one);
// false for anything else.
bool Numbers(std::string_view s, char sep, const std::size_t (&max)[3], unsigned (&parts)[3],
             std::size_t (&digits)[3]) {
  std::size_t k = 0;
  for (const char c : s) {
    if (c == sep) {
      if (digits[k] == 0 || ++k == 3) return false;
    } else if (c >= '0' && c <= '9' && digits[k] < max[k]) {
      parts[k] = parts[k] * 10 + static_cast<unsigned>(c - '0');
      ++digits[k];
    } else {
      return false;
    }
  }
  return k == 2 && digits[2] > 0;
}

}  // namespace

bool DateToIso(std::string_view s, std::string& out) {
  unsigned parts[3] = {0, 0, 0};
  std::size_t digits[3] = {0, 0, 0};
  unsigned year = 0, month = 0, day = 0;
  if (Numbers(s, '-', {4, 2, 2}, parts, digits)) {
    if (digits[0] != 4 || digits[1] != 2 || digits[2] != 2) return false;
    year = parts[0];
    month = parts[1];
    day = parts[2];
  } else {
    parts[0] = parts[1] = parts[2] = 0;
    digits[0] = digits[1] = digits[2] = 0;
    if (!Numbers(s, '/', {2, 2, 4}, parts, digits) || digits[2] != 4) return false;
    month = parts[0];
    day = parts[1];
    year = parts[2];
  }
  if (!IsCalendarDate(year, month, day)) return false;
  char buf[16];
  std::snprintf(buf, sizeof buf, "%04u-%02u-%02u", year, month, day);
  out = buf;
  return true;
}

void AppendEscaped(std::string& out, std::string_view item, bool escape) {
  for (const char c : item) {
    if (escape && (c == '\\' || c == ';' || c == ',')) out += '\\';
    out += c;
  }
}

}  // namespace qvvcard
