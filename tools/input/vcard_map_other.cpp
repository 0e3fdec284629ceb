// The rest of a card: the website, the birthday, the position, the
// nicknames and categories, and the labels of item groups.
#include <algorithm>
#include <cmath>
#include <cstdio>

#include "card/ascii.hpp"
#include "input/vcard_mapper.hpp"

namespace qvvcard::vcf {

namespace mapping {

namespace {

// Labels of websites, which the card's one URL has no room to say.
constexpr std::string_view kUrlLabels[] = {"HomePage", "Home", "Work", "Other"};

bool LeapYear(unsigned y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }
unsigned DaysIn(unsigned month, unsigned year, bool year_known) {
  static constexpr unsigned kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (month == 2 && (!year_known || LeapYear(year))) return 29;
  return kDays[month - 1];
}

bool Digits(std::string_view s, unsigned& out) {
  if (s.empty()) return false;
  out = 0;
  for (const char c : s) {
    if (c < '0' || c > '9') return false;
    out = out * 10 + static_cast<unsigned>(c - '0');
  }
  return true;
}

// A decimal number as 2.1, 3.0 and 4.0 write coordinates: a sign, digits,
// a point and digits (at most 15 digits in all, which a double holds
// exactly before the one division that scales it).
bool Coordinate(std::string_view s, double& out) {
  s = TrimBlanks(s);
  bool negative = false;
  if (!s.empty() && (s.front() == '+' || s.front() == '-')) {
    negative = s.front() == '-';
    s.remove_prefix(1);
  }
  std::uint64_t mantissa = 0;
  int digits = 0, decimals = 0;
  bool point = false;
  for (const char c : s) {
    if (c == '.' && !point) {
      point = true;
    } else if (c >= '0' && c <= '9') {
      if (++digits > 15) return false;
      mantissa = mantissa * 10 + static_cast<std::uint64_t>(c - '0');
      decimals += point ? 1 : 0;
    } else {
      return false;
    }
  }
  if (digits == 0) return false;
  static constexpr double kPowers[] = {1e0, 1e1, 1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                       1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15};
  out = static_cast<double>(mantissa) / kPowers[decimals];
  if (negative) out = -out;
  return true;
}

}  // namespace

void Mapper::Url(const Line& l) {
  std::string_view url = Typed(l.value);
  if (url.find("\\:") != url.npos) {
    // Some writers escape the colon of a URL as well.
    std::string& u = scratch_;
    u.assign(url);
    for (std::size_t at; (at = u.find("\\:")) != std::string::npos;) u.erase(at, 1);
    url = store_->Copy(u);
  }
  if (url.empty()) return;
  bool known = true;
  if (const std::string_view label = LabelOf(l); !label.empty()) {
    known = std::any_of(std::begin(kUrlLabels), std::end(kUrlLabels),
                        [&](std::string_view k) { return SameLabel(k, label); });
  }
  if (done_.test(static_cast<std::size_t>(Property::Url))) {
    Lose(l, kNoWebsiteSlot);
    return;
  }
  Put(Property::Url, url, l);
  LabelUsed(l, known);
}

void Mapper::Birthday(const Line& l) {
  const std::string_view text = Typed(l.value);
  if (text.empty()) return;
  const Param* v = l.Find("VALUE");
  const bool as_text =
      v != nullptr && !v->values.empty() && EqualIgnoringCase(v->values[0], "text");
  if (as_text || !BirthdayOf(text, scratch_)) {
    Lose(l, kNotADate);
    return;
  }
  if (First(Property::Birthdate, l)) Put(Property::Birthdate, store_->Copy(scratch_), l);
}

void Mapper::Geo(const Line& l) {
  std::string_view v = TrimBlanks(l.value);
  if (v.empty()) return;
  std::string_view lat, lon;
  if (v.size() > 4 && EqualIgnoringCase(v.substr(0, 4), "geo:")) {
    // geo:LAT,LON[,ALT][;PARAMETERS]
    v = v.substr(4, v.find(';') == v.npos ? v.npos : v.find(';') - 4);
    const std::size_t comma = v.find(',');
    lat = v.substr(0, comma);
    lon = comma == v.npos ? std::string_view() : v.substr(comma + 1);
    lon = lon.substr(0, lon.find(','));
  } else {
    // 3.0 writes LAT;LON, 2.1 LAT,LON.
    const std::size_t at = v.find(';') != v.npos ? v.find(';') : v.find(',');
    if (at == v.npos) {
      Lose(l, kNotAPosition);
      return;
    }
    lat = v.substr(0, at);
    lon = v.substr(at + 1);
  }
  double y = 0, x = 0;
  if (!Coordinate(lat, y) || !Coordinate(lon, x) || std::fabs(y) > 90 || std::fabs(x) > 180) {
    Lose(l, kNotAPosition);
    return;
  }
  const long long ys = std::llround(std::fabs(y) * 3600.0);
  const long long xs = std::llround(std::fabs(x) * 3600.0);
  // The card writes no position whose two axes are both 0.
  if (ys == 0 && xs == 0) {
    Lose(l, kNotAPosition);
    return;
  }
  if (!First(Property::GeoLatDeg, l)) return;
  Put(Property::GeoLat, y < 0 && ys != 0 ? "S" : "N", l);
  Put(Property::GeoLatDeg, Number(ys / 3600), l);
  Put(Property::GeoLatMin, Number(ys / 60 % 60), l);
  Put(Property::GeoLatSec, Number(ys % 60), l);
  Put(Property::GeoLon, x < 0 && xs != 0 ? "W" : "E", l);
  Put(Property::GeoLonDeg, Number(xs / 3600), l);
  Put(Property::GeoLonMin, Number(xs / 60 % 60), l);
  Put(Property::GeoLonSec, Number(xs % 60), l);
}

void Mapper::ListItems(const Line& l, List& list, bool categories) {
  ForEachPiece(l.value, ',', [&](std::string_view piece, bool escaped) {
    if (TrimBlanks(piece).empty()) return;
    const std::string_view item = Typed(piece, escaped);
    // The group a webmail export puts every contact in is no category,
    // as in its CSV export.
    if (categories && SameLabel(item, "myContacts")) return;
    if (list.first == nullptr) list.first = &l;
    if (std::find(list.items.begin(), list.items.end(), item) == list.items.end()) {
      list.items.push_back(item);
    }
  });
}

void Mapper::Lists() {
  const auto put = [&](Property p, const List& list) {
    if (list.items.empty()) return;
    // Each item in card form: its own backslashes, semicolons and commas
    // escaped.
    std::size_t size = 0;
    for (const std::string_view item : list.items) size += 2 * item.size() + 1;
    char* to = store_->Room(size);
    char* o = to;
    for (const std::string_view item : list.items) {
      if (o != to) *o++ = ',';
      for (const char c : item) {
        if (c == '\\' || c == ';' || c == ',') *o++ = '\\';
        *o++ = c;
      }
    }
    store_->GiveBack(o);
    Put(p, {to, static_cast<std::size_t>(o - to)}, *list.first, true);
  };
  put(Property::Nickname, nicknames_);
  put(Property::Categorie, categories_);
}

// A label is used up with its group's line; an unknown one, and one
// whose group found no place, are values with no place of their own.
void Mapper::Labels() {
  if (groups_.empty()) return;
  for (const Line& l : card_->lines) {
    if (l.group.empty() || KindOf(l.name) != LineKind::Label || LabelText(l.value).empty()) {
      continue;
    }
    const Group* g = GroupOf(l);
    if (g->label != &l || !g->placed) {
      Lose(l, kNoPlace);
    } else if (g->unknown) {
      Lose(l, kUnknownLabel);
    }
  }
}

}  // namespace mapping

using mapping::DaysIn;
using mapping::Digits;

bool BirthdayOf(std::string_view value, std::string& out) {
  std::string_view v = TrimBlanks(value);
  v = v.substr(0, v.find_first_of("Tt"));  // a time of day has no place
  unsigned year = 0, month = 0, day = 0;
  bool year_known = true;
  if (v.starts_with("--")) {
    // --MMDD or --MM-DD (no year).
    v.remove_prefix(2);
    year_known = false;
    if (v.size() == 5 && v[2] == '-') {
      if (!Digits(v.substr(0, 2), month) || !Digits(v.substr(3, 2), day)) return false;
    } else if (v.size() != 4 || !Digits(v.substr(0, 2), month) || !Digits(v.substr(2, 2), day)) {
      return false;
    }
  } else if (v.size() == 10 && v[4] == '-' && v[7] == '-') {
    if (!Digits(v.substr(0, 4), year) || !Digits(v.substr(5, 2), month) ||
        !Digits(v.substr(8, 2), day)) {
      return false;
    }
  } else if (v.size() == 8) {
    if (!Digits(v.substr(0, 4), year) || !Digits(v.substr(4, 2), month) ||
        !Digits(v.substr(6, 2), day)) {
      return false;
    }
  } else {
    return false;
  }
  if (month < 1 || month > 12 || day < 1 || day > DaysIn(month, year, year_known)) return false;
  char buf[32];
  if (year_known) {
    std::snprintf(buf, sizeof buf, "%04u-%02u-%02u", year, month, day);
  } else {
    std::snprintf(buf, sizeof buf, "--%02u-%02u", month, day);
  }
  out = buf;
  return true;
}

}  // namespace qvvcard::vcf
