#include "input/vcard_mapping.hpp"

#include <algorithm>
#include <array>
#include <bitset>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>

#include "card/ascii.hpp"
#include "card/slot_table.hpp"

namespace qvvcard::vcf {

namespace {

using qv_VCard::Property;
using qv_VCard::ascii::EqualIgnoringCase;
using qv_VCard::ascii::Fold;
namespace slots = qv_VCard::slots;
using slots::AddressPart;
using slots::AddressType;
using slots::TelType;

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

// A value as typed: blanks around it are no part of it.
std::string TrimmedText(std::string_view value, std::string_view version) {
  return Unescape(Trim(value), version);
}

// Calls f with each piece of value between the separators no backslash
// escapes, escapes kept (as Split gives them, without a vector).
template <typename F>
void ForEachPiece(std::string_view value, char separator, F&& f) {
  std::size_t start = 0;
  for (std::size_t i = 0; i < value.size(); ++i) {
    if (value[i] == '\\') {
      ++i;
    } else if (value[i] == separator) {
      f(value.substr(start, i - start));
      start = i + 1;
    }
  }
  f(value.substr(start));
}

std::string Upper(std::string_view s) {
  std::string out(s);
  for (char& c : out) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return out;
}

// Labels compared as people write them: in any case, blanks left out
// ("Home Fax", "HomeFAX").
bool SameLabel(std::string_view a, std::string_view b) {
  std::size_t i = 0, j = 0;
  for (;;) {
    while (i < a.size() && a[i] == ' ') ++i;
    while (j < b.size() && b[j] == ' ') ++j;
    if (i == a.size() || j == b.size()) return i == a.size() && j == b.size();
    if (Fold(a[i]) != Fold(b[j])) return false;
    ++i;
    ++j;
  }
}

// A label an address book gives by itself stands as "_$!<Mobile>!$_"; one
// a person typed as it is.
std::string_view LabelText(std::string_view label) {
  label = Trim(label);
  if (label.starts_with("_$!<") && label.ends_with(">!$_") && label.size() >= 8) {
    label = label.substr(4, label.size() - 8);
  }
  return label;
}

using TelFlags = std::uint16_t;
constexpr TelFlags Bit(TelType t) { return static_cast<TelFlags>(1u << static_cast<int>(t)); }

// Telephone labels and the types they give, as the address-book exports
// read them, and the address books' own ("iPhone", "HomeFAX"). Other labels
// give none.
struct TelLabel {
  std::string_view label;
  TelFlags flags;
};
constexpr TelLabel kTelLabels[] = {
    {"Mobile", Bit(TelType::Cell)},
    {"iPhone", Bit(TelType::Cell)},
    {"Work", Bit(TelType::Work) | Bit(TelType::Voice)},
    {"Home", Bit(TelType::Home) | Bit(TelType::Voice)},
    {"Work Fax", Bit(TelType::Work) | Bit(TelType::Fax)},
    {"Home Fax", Bit(TelType::Home) | Bit(TelType::Fax)},
    {"Other Fax", Bit(TelType::Fax)},
    {"Fax", Bit(TelType::Fax)},
    {"Pager", Bit(TelType::Pager)},
    {"Work Pager", Bit(TelType::Work) | Bit(TelType::Pager)},
    {"Work Mobile", Bit(TelType::Work) | Bit(TelType::Cell)},
    {"Car", Bit(TelType::Car)},
    {"ISDN", Bit(TelType::Isdn)},
    {"Main", Bit(TelType::Voice)},
    {"Other", Bit(TelType::Voice)},
    {"Primary", Bit(TelType::Pref) | Bit(TelType::Voice)},
};

// TEL types: the flags' own words, and the kinds without a flag of their
// own taken as the nearest one (4.0's TEXT for messages, IPHONE and MOBILE
// a mobile, MAIN a voice number). OTHER says nothing.
struct TelWord {
  std::string_view word;
  TelFlags flags;
};
constexpr TelWord kTelWords[] = {
    {"PREF", Bit(TelType::Pref)},   {"WORK", Bit(TelType::Work)},   {"HOME", Bit(TelType::Home)},
    {"VOICE", Bit(TelType::Voice)}, {"FAX", Bit(TelType::Fax)},     {"MSG", Bit(TelType::Msg)},
    {"CELL", Bit(TelType::Cell)},   {"PAGER", Bit(TelType::Pager)}, {"BBS", Bit(TelType::Bbs)},
    {"MODEM", Bit(TelType::Modem)}, {"CAR", Bit(TelType::Car)},     {"ISDN", Bit(TelType::Isdn)},
    {"VIDEO", Bit(TelType::Video)}, {"TEXT", Bit(TelType::Msg)},    {"IPHONE", Bit(TelType::Cell)},
    {"MOBILE", Bit(TelType::Cell)}, {"MAIN", Bit(TelType::Voice)},  {"OTHER", 0},
};

using AdrFlags = std::uint8_t;
constexpr AdrFlags Bit(AddressType t) { return static_cast<AdrFlags>(1u << static_cast<int>(t)); }
struct AdrWord {
  std::string_view word;
  AdrFlags flags;
};
constexpr AdrWord kAdrWords[] = {
    {"DOM", Bit(AddressType::Dom)},
    {"INTL", Bit(AddressType::Intl)},
    {"POSTAL", Bit(AddressType::Postal)},
    {"PARCEL", Bit(AddressType::Parcel)},
    {"HOME", Bit(AddressType::Home)},
    {"WORK", Bit(AddressType::Work)},
    {"OTHER", 0},
    {"PREF", 0},
};

// Labels of websites, which the card's one URL has no room to say.
constexpr std::string_view kUrlLabels[] = {"HomePage", "Home", "Work", "Other"};

constexpr int kNotPreferred = 101;

// 4.0's pref=1..100, or TYPE=PREF (as the most preferred); kNotPreferred
// for neither.
int Preference(const Line& l) {
  int rank = kNotPreferred;
  for (const Param& p : l.params) {
    if (p.name.size() != 4 || p.values.empty()) continue;
    if (p.name == std::string_view("TYPE")) {
      for (const std::string& v : p.values) {
        if (EqualIgnoringCase(v, "PREF")) rank = std::min(rank, 1);
      }
    } else if (p.name == std::string_view("PREF")) {
      const std::string_view v = Trim(p.values.front());
      int n = 0;
      const auto [end, ec] = std::from_chars(v.data(), v.data() + v.size(), n);
      if (ec == std::errc() && end == v.data() + v.size() && n >= 1 && n <= 100) {
        rank = std::min(rank, n);
      }
    }
  }
  return rank;
}

// Whether value is a URI of scheme ("tel:", "mailto:"), as 4.0 writes
// them with VALUE=uri (and some writers without).
bool IsUri(std::string_view value, std::string_view scheme) {
  return value.size() >= scheme.size() && EqualIgnoringCase(value.substr(0, scheme.size()), scheme);
}

// A tel: URI as the number a person dials: the extension kept
// ("+1-555-0100 ext. 7"), other URI parameters left out.
std::string TelUriNumber(std::string_view uri) {
  uri.remove_prefix(4);
  const std::size_t semi = uri.find(';');
  std::string number(Trim(uri.substr(0, semi)));
  for (std::string_view rest = semi == uri.npos ? "" : uri.substr(semi + 1); !rest.empty();) {
    const std::size_t next = rest.find(';');
    const std::string_view param = rest.substr(0, next);
    const std::string_view ext = param.size() > 4 && EqualIgnoringCase(param.substr(0, 4), "ext=")
                                     ? Trim(param.substr(4))
                                     : std::string_view();
    if (!number.empty() && !ext.empty()) {
      number += " ext. ";
      number += ext;
    }
    rest = next == rest.npos ? "" : rest.substr(next + 1);
  }
  return number;
}

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
  s = Trim(s);
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

// The escaped form of a list item or a structured component.
void AppendEscaped(std::string& out, std::string_view item) {
  for (const char c : item) {
    if (c == '\\' || c == ';' || c == ',') out += '\\';
    out += c;
  }
}

// What a line is to the mapping.
enum class LineKind : std::uint8_t {
  Tel,
  Email,
  Adr,
  Name,
  FormattedName,
  Org,
  Title,
  Role,
  Note,
  SortString,
  TimeZone,
  Url,
  Birthday,
  Geo,
  Nickname,
  Categories,
  Uid,
  Written,
  Label,
  Other
};

// Whether n, whose size the caller checked, is word.
template <std::size_t N>
bool Is(std::string_view n, const char (&word)[N]) {
  for (std::size_t i = 0; i + 1 < N; ++i) {
    if (n[i] != word[i]) return false;
  }
  return true;
}

LineKind KindOf(std::string_view n) {
  // By length first: one comparison of known size each.
  switch (n.size()) {
    case 1:
      if (Is(n, "N")) return LineKind::Name;
      break;
    case 2:
      if (Is(n, "FN")) return LineKind::FormattedName;
      if (Is(n, "TZ")) return LineKind::TimeZone;
      break;
    case 3:
      if (Is(n, "TEL")) return LineKind::Tel;
      if (Is(n, "ADR")) return LineKind::Adr;
      if (Is(n, "ORG")) return LineKind::Org;
      if (Is(n, "URL")) return LineKind::Url;
      if (Is(n, "GEO")) return LineKind::Geo;
      if (Is(n, "UID")) return LineKind::Uid;
      if (Is(n, "REV")) return LineKind::Written;
      break;
    case 4:
      if (Is(n, "NOTE")) return LineKind::Note;
      if (Is(n, "ROLE")) return LineKind::Role;
      if (Is(n, "BDAY")) return LineKind::Birthday;
      break;
    case 5:
      if (Is(n, "EMAIL")) return LineKind::Email;
      if (Is(n, "TITLE")) return LineKind::Title;
      break;
    case 6:
      if (Is(n, "PRODID")) return LineKind::Written;
      break;
    case 7:
      if (Is(n, "VERSION")) return LineKind::Written;
      break;
    case 8:
      if (Is(n, "NICKNAME")) return LineKind::Nickname;
      break;
    case 9:
      if (Is(n, "X-ABLABEL")) return LineKind::Label;
      break;
    case 10:
      if (Is(n, "CATEGORIES")) return LineKind::Categories;
      break;
    case 11:
      if (Is(n, "SORT-STRING")) return LineKind::SortString;
      break;
    default:
      break;
  }
  return LineKind::Other;
}

class Mapper {
 public:
  // Ready for another card; the room of the last one's work is kept.
  void Reset(const Card& card) {
    card_ = &card;
    version_ = &card.version;
    out_ = Mapped();
    lost_lines_.clear();
    done_.reset();
    groups_.clear();
    tels_.clear();
    emails_.clear();
    adrs_.clear();
    unknown_types_.clear();
    tel_labels_known_.clear();
    email_labels_known_.clear();
    adr_labels_known_.clear();
    adr_unknown_types_.clear();
    nicknames_.items.clear();
    nicknames_.first = nullptr;
    categories_.items.clear();
    categories_.first = nullptr;
    name_done_ = org_done_ = false;
  }

  Mapped Run() {
    out_.assignments.reserve(card_->lines.size() * 3 + 8);
    FindLabels();
    for (const Line& l : card_->lines) One(l);
    Telephones();
    Emails();
    Addresses();
    Lists();
    Labels();
    // In the order of their lines in the file.
    if (!std::is_sorted(lost_lines_.begin(), lost_lines_.end())) {
      std::vector<std::size_t> order(out_.lost.size());
      for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
      std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
        return lost_lines_[a] < lost_lines_[b];
      });
      std::vector<Unplaced> lost;
      lost.reserve(order.size());
      for (const std::size_t i : order) lost.push_back(std::move(out_.lost[i]));
      out_.lost = std::move(lost);
    }
    return std::move(out_);
  }

 private:
  struct Tel {
    const Line* line;
    int rank;
    std::string number;
    TelFlags flags;
  };
  struct Email {
    const Line* line;
    int rank;
    std::string address;
    std::string type;
    bool pref;
  };
  struct Adr {
    const Line* line;
    int rank;
    std::array<std::string, slots::kAddressParts> parts;
    AdrFlags flags;
  };
  struct Group {
    const Line* label = nullptr;  // its X-ABLabel
    bool placed = false;          // a line of the group found its place
    bool unknown = false;         // and the label said nothing it could use
  };

  // The indexes of items, the preferred first, in file order otherwise (an
  // insertion sort: few items, and stable).
  template <typename Item>
  const std::vector<std::size_t>& ByPreference(const std::vector<Item>& items) {
    order_.clear();
    for (std::size_t i = 0; i < items.size(); ++i) {
      std::size_t at = order_.size();
      order_.push_back(i);
      for (; at > 0 && items[order_[at - 1]].rank > items[i].rank; --at)
        order_[at] = order_[at - 1];
      order_[at] = i;
    }
    return order_;
  }

  void Put(Property p, std::string&& value, const Line& from, bool escaped = false) {
    const auto i = static_cast<std::size_t>(p);
    if (done_.test(i)) return;  // never twice: callers check, this only guards
    done_.set(i);
    Assignment& a = out_.assignments.emplace_back();
    a.property = p;
    a.value = std::move(value);
    a.escaped = escaped;
    a.line = &from;
  }
  void Put(Property p, const char* value, const Line& from) { Put(p, std::string(value), from); }
  void SetFlag(Property p, const Line& from) {
    const auto i = static_cast<std::size_t>(p);
    if (done_.test(i)) return;
    done_.set(i);
    Assignment& a = out_.assignments.emplace_back();
    a.property = p;
    a.value.assign("true", 4);
    a.line = &from;
  }
  void Lose(const Line& l, std::string reason) {
    out_.lost.push_back({l.name, std::move(reason)});
    lost_lines_.push_back(l.line);
  }
  void LoseTypes(const Line& l, const std::vector<std::string>& words) {
    for (const std::string& w : words) Lose(l, std::string(kUnknownType) + ": " + w);
  }

  // The first non-empty line of a kind takes its property; later ones
  // have no place.
  bool First(Property p, const Line& l) {
    if (!done_.test(static_cast<std::size_t>(p))) return true;
    Lose(l, kSecondValue);
    return false;
  }

  Group* GroupOf(const Line& l) {
    if (l.group.empty()) return nullptr;
    const auto it = groups_.find(Upper(l.group));
    return it == groups_.end() ? nullptr : &it->second;
  }
  std::string_view LabelOf(const Line& l) {
    const Group* g = GroupOf(l);
    return g != nullptr && g->label != nullptr ? LabelText(g->label->value) : std::string_view();
  }
  void LabelUsed(const Line& l, bool known) {
    if (Group* g = GroupOf(l)) {
      g->placed = true;
      g->unknown = g->unknown || (!known && g->label != nullptr && !LabelOf(l).empty());
    }
  }

  void FindLabels() {
    for (const Line& l : card_->lines) {
      if (!l.group.empty() && KindOf(l.name) == LineKind::Label) {
        Group& g = groups_[Upper(l.group)];
        if (g.label == nullptr) g.label = &l;
      }
    }
  }

  void Text(Property p, const Line& l) {
    std::string text = TrimmedText(l.value, *version_);
    if (text.empty() || !First(p, l)) return;
    Put(p, std::move(text), l);
  }

  void One(const Line& l) {
    const LineKind kind = KindOf(l.name);
    // A BASE64 value is kept as it stands, undecoded: never text for the
    // card (photos and keys have no place anyway).
    if (!l.params.empty() && kind != LineKind::Written && l.Base64()) {
      if (kind != LineKind::Uid && !Trim(l.value).empty()) {
        Lose(l, kind == LineKind::Other ? kNoPlace : kBase64);
      }
      return;
    }
    switch (kind) {
      case LineKind::Tel:
        return Telephone(l);
      case LineKind::Email:
        return EmailLine(l);
      case LineKind::Adr:
        return Address(l);
      case LineKind::Name:
        return Name(l);
      case LineKind::FormattedName:
        return Text(Property::FormatedName, l);
      case LineKind::Org:
        return Organisation(l);
      case LineKind::Title:
        return Text(Property::Title, l);
      case LineKind::Role:
        return Text(Property::Role, l);
      case LineKind::Note:
        return Text(Property::Note, l);
      case LineKind::SortString:
        return Text(Property::SortString, l);
      case LineKind::TimeZone:
        return Text(Property::TimeZone, l);
      case LineKind::Url:
        return Url(l);
      case LineKind::Birthday:
        return Birthday(l);
      case LineKind::Geo:
        return Geo(l);
      case LineKind::Nickname:
        return ListItems(l, nicknames_);
      case LineKind::Categories:
        return ListItems(l, categories_, true);
      case LineKind::Uid:
        if (out_.uid.empty()) out_.uid = TrimmedText(l.value, *version_);
        return;
      case LineKind::Written:
        return;
      case LineKind::Label:
        if (!l.group.empty()) return;  // with its group, at the end
        break;
      case LineKind::Other:
        break;
    }
    // A 2.1 agent's card was read past: it had a value even when its line
    // shows none.
    if (!Trim(l.value).empty() || l.name == "AGENT") Lose(l, kNoPlace);
  }

  void Telephone(const Line& l) {
    const bool uri = IsUri(l.value, "tel:");
    std::string number = uri ? TelUriNumber(l.value) : TrimmedText(l.value, *version_);
    if (number.empty()) {
      // A tel: URI with parameters and no number.
      if (uri && !Trim(std::string_view(l.value).substr(4)).empty()) Lose(l, kNoPlace);
      return;
    }
    TelFlags flags = 0;
    std::vector<std::string> unknown;
    for (const Param& p : l.params) {
      if (p.name != std::string_view("TYPE")) continue;
      for (const std::string& v : p.values) {
        const auto w = std::find_if(std::begin(kTelWords), std::end(kTelWords),
                                    [&](const TelWord& t) { return EqualIgnoringCase(t.word, v); });
        if (w != std::end(kTelWords)) {
          flags |= w->flags;
        } else if (!EqualIgnoringCase(v, "INTERNET")) {
          unknown.push_back(Upper(v));
        }
      }
    }
    const int rank = Preference(l);
    if (rank == 1) flags |= Bit(TelType::Pref);
    if (const std::string_view label = LabelOf(l); !label.empty()) {
      const auto t = std::find_if(std::begin(kTelLabels), std::end(kTelLabels),
                                  [&](const TelLabel& x) { return SameLabel(x.label, label); });
      if (t != std::end(kTelLabels)) flags |= t->flags;
      tel_labels_known_.push_back(t != std::end(kTelLabels));
    } else {
      tel_labels_known_.push_back(true);
    }
    tels_.push_back({&l, rank, std::move(number), flags});
    unknown_types_.push_back(std::move(unknown));
  }

  void Telephones() {
    const std::vector<std::size_t>& order = ByPreference(tels_);
    int slot = 0;
    for (const std::size_t i : order) {
      Tel& t = tels_[i];
      if (slot == slots::kTelephoneSlots) {
        Lose(*t.line, kNoTelephoneSlot);
        continue;
      }
      ++slot;
      // A number of no kind (voice, fax, cell, ...) is a voice number, the
      // kind vCard gives it by default, and the card writes a telephone
      // only with a type: "HOME" is HOME and VOICE, as in the exports.
      constexpr TelFlags kNoKind = Bit(TelType::Pref) | Bit(TelType::Work) | Bit(TelType::Home);
      if ((t.flags & ~kNoKind) == 0) t.flags |= Bit(TelType::Voice);
      Put(slots::TelNumber(slot), std::move(t.number), *t.line);
      for (int f = 0; f < slots::kTelTypes; ++f) {
        const auto type = static_cast<TelType>(f);
        if ((t.flags & Bit(type)) != 0) SetFlag(slots::Tel(slot, type), *t.line);
      }
      LoseTypes(*t.line, unknown_types_[i]);
      LabelUsed(*t.line, tel_labels_known_[i]);
    }
  }

  void EmailLine(const Line& l) {
    std::string address = TrimmedText(l.value, *version_);
    if (IsUri(address, "mailto:")) address = Trim(std::string_view(address).substr(7));
    if (address.empty()) return;
    std::vector<std::string>& types = types_;
    types.clear();
    const auto add = [&](std::string word) {
      if (std::find(types.begin(), types.end(), word) == types.end()) {
        types.push_back(std::move(word));
      }
    };
    for (const Param& p : l.params) {
      if (p.name != std::string_view("TYPE")) continue;
      for (const std::string& v : p.values) {
        if (!EqualIgnoringCase(v, "PREF") && !Trim(v).empty()) add(Upper(Trim(v)));
      }
    }
    bool known = true;
    if (const std::string_view label = LabelOf(l); !label.empty()) {
      if (SameLabel(label, "Work")) {
        add("WORK");
      } else if (SameLabel(label, "Home")) {
        add("HOME");
      } else {
        known = SameLabel(label, "Other");
      }
    }
    // "INTERNET,WORK", as the exports write it; an address of the
    // default kind alone takes the card's default.
    const bool internet = std::find(types.begin(), types.end(), "INTERNET") != types.end();
    const bool x400 = std::find(types.begin(), types.end(), "X400") != types.end();
    std::string type;
    if (!types.empty() && !(types.size() == 1 && internet)) {
      if (!x400 || internet) type = "INTERNET";  // first, wherever it stood
      for (const std::string& t : types) {
        if (t == "INTERNET") continue;
        if (!type.empty()) type += ',';
        type += t;
      }
    }
    const int rank = Preference(l);
    emails_.push_back({&l, rank, std::move(address), std::move(type), rank == 1});
    email_labels_known_.push_back(known);
  }

  void Emails() {
    const std::vector<std::size_t>& order = ByPreference(emails_);
    int slot = 0;
    for (const std::size_t i : order) {
      Email& e = emails_[i];
      if (slot == slots::kEmailSlots) {
        Lose(*e.line, kNoEmailSlot);
        continue;
      }
      ++slot;
      Put(slots::EmailValue(slot), std::move(e.address), *e.line);
      if (!e.type.empty()) Put(slots::EmailType(slot), std::move(e.type), *e.line);
      if (e.pref) SetFlag(slots::EmailPref(slot), *e.line);
      LabelUsed(*e.line, email_labels_known_[i]);
    }
  }

  void Address(const Line& l) {
    Adr a{&l, Preference(l), {}, 0};
    bool any = false, beyond = false;
    std::size_t p = 0;
    ForEachPiece(l.value, ';', [&](std::string_view part) {
      const std::size_t at = p++;
      if (Trim(part).empty()) return;
      if (at < a.parts.size()) {
        a.parts[at] = TrimmedText(part, *version_);
        any = true;
      } else {
        beyond = true;  // a part after the country
      }
    });
    if (beyond) Lose(l, kNoPlace);
    if (!any) return;
    std::vector<std::string> unknown;
    for (const Param& p : l.params) {
      if (p.name != std::string_view("TYPE")) continue;
      for (const std::string& v : p.values) {
        const auto w = std::find_if(std::begin(kAdrWords), std::end(kAdrWords),
                                    [&](const AdrWord& t) { return EqualIgnoringCase(t.word, v); });
        if (w != std::end(kAdrWords)) {
          a.flags |= w->flags;
        } else {
          unknown.push_back(Upper(v));
        }
      }
    }
    bool known = true;
    if (const std::string_view label = LabelOf(l); !label.empty()) {
      if (SameLabel(label, "Work")) {
        a.flags |= Bit(AddressType::Work);
      } else if (SameLabel(label, "Home")) {
        a.flags |= Bit(AddressType::Home);
      } else {
        known = SameLabel(label, "Other");
      }
    }
    adrs_.push_back(std::move(a));
    adr_unknown_types_.push_back(std::move(unknown));
    adr_labels_known_.push_back(known);
  }

  void Addresses() {
    const std::vector<std::size_t>& order = ByPreference(adrs_);
    int slot = 0;
    for (const std::size_t i : order) {
      Adr& a = adrs_[i];
      if (slot == slots::kAddressSlots) {
        Lose(*a.line, kNoAddressSlot);
        continue;
      }
      ++slot;
      for (int p = 0; p < slots::kAddressParts; ++p) {
        if (!a.parts[p].empty()) {
          Put(slots::Address(slot, static_cast<AddressPart>(p)), std::move(a.parts[p]), *a.line);
        }
      }
      // The card writes an address only with a type: Postal for one
      // without.
      if (a.flags == 0) a.flags = Bit(AddressType::Postal);
      for (int f = 0; f < slots::kAddressTypes; ++f) {
        const auto type = static_cast<AddressType>(f);
        if ((a.flags & Bit(type)) != 0) SetFlag(slots::Address(slot, type), *a.line);
      }
      LoseTypes(*a.line, adr_unknown_types_[i]);
      LabelUsed(*a.line, adr_labels_known_[i]);
    }
  }

  void Name(const Line& l) {
    static constexpr Property kParts[] = {Property::NameFamily, Property::NameGiven,
                                          Property::NameAdditional, Property::NamePrefix,
                                          Property::NameSuffix};
    std::array<std::string, std::size(kParts)> texts;
    bool any = false, beyond = false;
    std::size_t p = 0;
    ForEachPiece(l.value, ';', [&](std::string_view part) {
      const std::size_t at = p++;
      if (Trim(part).empty()) return;
      if (at >= texts.size()) {
        beyond = true;  // a part after the suffix
        return;
      }
      texts[at] = TrimmedText(part, *version_);
      any = true;
    });
    if (!any) {
      if (beyond) Lose(l, kNoPlace);
      return;
    }
    if (name_done_) {
      Lose(l, kSecondValue);
      return;
    }
    if (beyond) Lose(l, kNoPlace);
    name_done_ = true;
    for (std::size_t p = 0; p < texts.size(); ++p) {
      if (!texts[p].empty()) Put(kParts[p], std::move(texts[p]), l);
    }
  }

  void Organisation(const Line& l) {
    std::string name;
    std::vector<std::string> units;
    bool first = true;
    ForEachPiece(l.value, ';', [&](std::string_view part) {
      if (first) {
        first = false;
        name = TrimmedText(part, *version_);
      } else if (!Trim(part).empty()) {
        units.push_back(TrimmedText(part, *version_));
      }
    });
    if (name.empty() && units.empty()) return;
    if (org_done_) {
      Lose(l, kSecondValue);
      return;
    }
    org_done_ = true;
    if (!name.empty()) Put(Property::OrgName, std::move(name), l);
    if (!units.empty()) {
      // The card has one unit: further units join the first in one text,
      // as a person would type them, so that the card reads the same after
      // a trip through a table.
      std::string joined;
      for (const std::string& u : units) {
        if (!joined.empty()) joined += ", ";
        joined += u;
      }
      Put(Property::OrgUnit, std::move(joined), l);
    }
  }

  void Url(const Line& l) {
    std::string url = TrimmedText(l.value, *version_);
    // Some writers escape the colon of a URL as well.
    for (std::size_t at; (at = url.find("\\:")) != std::string::npos;) url.erase(at, 1);
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
    Put(Property::Url, std::move(url), l);
    LabelUsed(l, known);
  }

  void Birthday(const Line& l) {
    const std::string text = TrimmedText(l.value, *version_);
    if (text.empty()) return;
    std::string date;
    const Param* v = l.Find("VALUE");
    const bool as_text =
        v != nullptr && !v->values.empty() && EqualIgnoringCase(v->values[0], "text");
    if (as_text || !BirthdayOf(text, date)) {
      Lose(l, kNotADate);
      return;
    }
    if (First(Property::Birthdate, l)) Put(Property::Birthdate, std::move(date), l);
  }

  void Geo(const Line& l) {
    std::string_view v = Trim(l.value);
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
    Put(Property::GeoLatDeg, std::to_string(ys / 3600), l);
    Put(Property::GeoLatMin, std::to_string(ys / 60 % 60), l);
    Put(Property::GeoLatSec, std::to_string(ys % 60), l);
    Put(Property::GeoLon, x < 0 && xs != 0 ? "W" : "E", l);
    Put(Property::GeoLonDeg, std::to_string(xs / 3600), l);
    Put(Property::GeoLonMin, std::to_string(xs / 60 % 60), l);
    Put(Property::GeoLonSec, std::to_string(xs % 60), l);
  }

  struct List {
    std::vector<std::string> items;
    const Line* first = nullptr;
  };
  void ListItems(const Line& l, List& list, bool categories = false) {
    ForEachPiece(l.value, ',', [&](std::string_view piece) {
      if (Trim(piece).empty()) return;
      std::string item = TrimmedText(piece, *version_);
      // The group a webmail export puts every contact in is no category,
      // as in its CSV export.
      if (categories && SameLabel(item, "myContacts")) return;
      if (list.first == nullptr) list.first = &l;
      if (std::find(list.items.begin(), list.items.end(), item) == list.items.end()) {
        list.items.push_back(std::move(item));
      }
    });
  }

  void Lists() {
    const auto put = [&](Property p, const List& list) {
      if (list.items.empty()) return;
      std::string joined;
      for (const std::string& item : list.items) {
        if (!joined.empty()) joined += ',';
        AppendEscaped(joined, item);
      }
      Put(p, std::move(joined), *list.first, true);
    };
    put(Property::Nickname, nicknames_);
    put(Property::Categorie, categories_);
  }

  // A label is used up with its group's line; an unknown one, and one
  // whose group found no place, are values with no place of their own.
  void Labels() {
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

  const Card* card_ = nullptr;
  const std::string* version_ = nullptr;
  Mapped out_;
  std::vector<std::size_t> order_;
  std::vector<std::string> types_;         // of the e-mail address in hand
  std::vector<std::uint64_t> lost_lines_;  // of each entry of out_.lost
  std::bitset<qv_VCard::kPropertyCount> done_;
  std::map<std::string, Group> groups_;
  std::vector<Tel> tels_;
  std::vector<bool> tel_labels_known_;
  std::vector<std::vector<std::string>> unknown_types_;
  std::vector<Email> emails_;
  std::vector<bool> email_labels_known_;
  std::vector<Adr> adrs_;
  std::vector<std::vector<std::string>> adr_unknown_types_;
  std::vector<bool> adr_labels_known_;
  List nicknames_, categories_;
  bool name_done_ = false;
  bool org_done_ = false;
};

}  // namespace

bool BirthdayOf(std::string_view value, std::string& out) {
  std::string_view v = Trim(value);
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

std::string SourceOf(const Line& l) {
  if (l.group.empty()) return l.name;
  std::string s;
  s.reserve(l.group.size() + 1 + l.name.size());
  return s.append(l.group).append(1, '.').append(l.name);
}

Mapped MapCard(const Card& card) {
  // Each thread keeps its mapper, so that its lists need no new room for
  // every card.
  thread_local Mapper mapper;
  mapper.Reset(card);
  return mapper.Run();
}

}  // namespace qvvcard::vcf
