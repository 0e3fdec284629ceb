#include "input/vcard_mapping.hpp"

#include <algorithm>
#include <array>
#include <bitset>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <stdexcept>

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

[[gnu::always_inline]] inline std::string_view Trim(std::string_view s) {
  const char* b = s.data();
  const char* e = b + s.size();
  while (b != e && (*b == ' ' || *b == '\t')) ++b;
  while (e != b && (e[-1] == ' ' || e[-1] == '\t')) --e;
  return {b, static_cast<std::size_t>(e - b)};
}

// Calls f with each piece of value between the separators no backslash
// escapes, escapes kept (as Split gives them, without a vector), and
// whether it holds a backslash.
template <typename F>
void ForEachPiece(std::string_view value, char separator, F&& f) {
  std::size_t start = 0;
  bool escaped = false;
  for (std::size_t i = 0;;) {
    i = FindEither(value, i, separator, '\\');
    if (i >= value.size()) break;
    if (value[i] == '\\') {
      escaped = true;
      i += 2;
      continue;
    }
    f(std::string_view(value.data() + start, i - start), escaped);
    start = ++i;
    escaped = false;
  }
  f(std::string_view(value.data() + start, value.size() - start), escaped);
}

// A small set of words, each told in any case by one look into a table: a
// perfect hash of its length and first, second and last letters, its seed
// found when the table is built.
template <typename T, std::size_t N>
class Words {
 public:
  struct Entry {
    std::string_view word;  // in capitals
    T value;
  };
  consteval explicit Words(const Entry (&entries)[N]) {
    for (std::size_t i = 0; i < N; ++i) entries_[i] = entries[i];
    for (seed_ = 1; seed_ < 100000; ++seed_) {
      std::array<std::uint8_t, kSlots> slots{};
      bool clash = false;
      for (std::size_t i = 0; i < N && !clash; ++i) {
        std::uint8_t& s = slots[Slot(entries_[i].word)];
        clash = s != 0;
        s = static_cast<std::uint8_t>(i + 1);
      }
      if (!clash) {
        slots_ = slots;
        return;
      }
    }
    throw std::logic_error("no seed parts these words");
  }
  // The value of word, or nullptr when it is none of the words.
  const T* Find(std::string_view word) const {
    if (word.empty() || word.size() > kLongest) return nullptr;
    const std::uint8_t s = slots_[Slot(word)];
    if (s == 0) return nullptr;
    const Entry& e = entries_[s - 1];
    if (e.word.size() != word.size()) return nullptr;
    for (std::size_t i = 0; i < word.size(); ++i) {
      if (Up(word[i]) != e.word[i]) return nullptr;
    }
    return &e.value;
  }

 private:
  static constexpr std::size_t kSlots = 64;
  static constexpr std::size_t kLongest = 32;
  static constexpr char Up(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c; }
  static constexpr auto Byte(char c) {
    return static_cast<std::uint32_t>(static_cast<unsigned char>(Up(c)));
  }
  constexpr std::size_t Slot(std::string_view w) const {
    const std::uint32_t key = ((static_cast<std::uint32_t>(w.size()) * 31 + Byte(w[0])) * 31 +
                               Byte(w.size() > 1 ? w[1] : '\0')) *
                                  31 +
                              Byte(w.back());
    return (key * seed_ >> 10) & (kSlots - 1);
  }
  std::array<Entry, N> entries_{};
  std::array<std::uint8_t, kSlots> slots_{};
  std::uint32_t seed_ = 1;
};

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
constexpr Words<TelFlags, 18> kTelWords({
    {"PREF", Bit(TelType::Pref)},
    {"WORK", Bit(TelType::Work)},
    {"HOME", Bit(TelType::Home)},
    {"VOICE", Bit(TelType::Voice)},
    {"FAX", Bit(TelType::Fax)},
    {"MSG", Bit(TelType::Msg)},
    {"CELL", Bit(TelType::Cell)},
    {"PAGER", Bit(TelType::Pager)},
    {"BBS", Bit(TelType::Bbs)},
    {"MODEM", Bit(TelType::Modem)},
    {"CAR", Bit(TelType::Car)},
    {"ISDN", Bit(TelType::Isdn)},
    {"VIDEO", Bit(TelType::Video)},
    {"TEXT", Bit(TelType::Msg)},
    {"IPHONE", Bit(TelType::Cell)},
    {"MOBILE", Bit(TelType::Cell)},
    {"MAIN", Bit(TelType::Voice)},
    {"OTHER", 0},
});

using AdrFlags = std::uint8_t;
constexpr AdrFlags Bit(AddressType t) { return static_cast<AdrFlags>(1u << static_cast<int>(t)); }
constexpr Words<AdrFlags, 8> kAdrWords({
    {"DOM", Bit(AddressType::Dom)},
    {"INTL", Bit(AddressType::Intl)},
    {"POSTAL", Bit(AddressType::Postal)},
    {"PARCEL", Bit(AddressType::Parcel)},
    {"HOME", Bit(AddressType::Home)},
    {"WORK", Bit(AddressType::Work)},
    {"OTHER", 0},
    {"PREF", 0},
});

// Labels of websites, which the card's one URL has no room to say.
constexpr std::string_view kUrlLabels[] = {"HomePage", "Home", "Work", "Other"};

constexpr int kNotPreferred = 101;

bool IsType(std::string_view name) {
  return name.size() == 4 && std::memcmp(name.data(), "TYPE", 4) == 0;
}

// 4.0's pref=1..100, or TYPE=PREF (as the most preferred); kNotPreferred
// for neither.
int Preference(const Line& l) {
  int rank = kNotPreferred;
  for (const Param& p : l.params) {
    if (p.name.size() != 4 || p.values.empty()) continue;
    if (IsType(p.name)) {
      for (const std::string_view v : p.values) {
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
  Profile,
  Label,
  Other
};

// Whether name, of the size of word, is word.
template <std::size_t N>
bool Is(std::string_view name, const char (&word)[N]) {
  return std::memcmp(name.data(), word, N - 1) == 0;
}

// The names are in capitals (the reader's): by length first, then one
// comparison of known size.
[[gnu::always_inline]] inline LineKind KindOf(std::string_view n) {
  switch (n.size()) {
    case 1:
      if (n[0] == 'N') return LineKind::Name;
      break;
    case 2:
      if (Is(n, "FN")) return LineKind::FormattedName;
      if (Is(n, "TZ")) return LineKind::TimeZone;
      break;
    case 3:
      switch (n[0]) {
        case 'T':
          if (Is(n, "TEL")) return LineKind::Tel;
          break;
        case 'A':
          if (Is(n, "ADR")) return LineKind::Adr;
          break;
        case 'O':
          if (Is(n, "ORG")) return LineKind::Org;
          break;
        case 'U':
          if (Is(n, "URL")) return LineKind::Url;
          if (Is(n, "UID")) return LineKind::Uid;
          break;
        case 'G':
          if (Is(n, "GEO")) return LineKind::Geo;
          break;
        case 'R':
          if (Is(n, "REV")) return LineKind::Written;
          break;
        default:
          break;
      }
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
      if (Is(n, "PROFILE")) return LineKind::Profile;
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

constexpr char kTrue[] = "true";

class Mapper {
 public:
  void Run(const Card& card, Mapped& out) {
    card_ = &card;
    out_ = &out;
    store_ = &out.text;
    v21_ = card.version == "2.1";
    out.assignments.clear();
    out.lost.clear();
    out.uid = {};
    out.text.Clear();
    lost_lines_.clear();
    done_.reset();
    tels_.clear();
    emails_.clear();
    adrs_.clear();
    unknown_.clear();
    nicknames_.items.clear();
    nicknames_.first = nullptr;
    categories_.items.clear();
    categories_.first = nullptr;
    name_done_ = org_done_ = false;

    // Labels first: a group's label may come after its lines.
    labels_ = std::any_of(card.lines.begin(), card.lines.end(),
                          [](const Line& l) { return !l.group.empty(); });
    if (labels_) FindLabels();
    for (const Line& l : card.lines) One(l, KindOf(l.name));
    if (!tels_.empty()) Telephones();
    if (!emails_.empty()) Emails();
    if (!adrs_.empty()) Addresses();
    Lists();
    if (labels_) Labels();
    // In the order of their lines in the file.
    if (!std::is_sorted(lost_lines_.begin(), lost_lines_.end())) SortLost();
  }

 private:
  struct Tel {
    const Line* line;
    int rank;
    std::string_view number;
    TelFlags flags;
    std::size_t unknown_first, unknown_count;  // its types with no place, in unknown_
    bool label_known;
  };
  struct Email {
    const Line* line;
    int rank;
    std::string_view address;
    std::string_view type;
    bool pref;
    bool label_known;
  };
  struct Adr {
    const Line* line;
    int rank;
    std::array<std::string_view, slots::kAddressParts> parts;
    AdrFlags flags;
    std::size_t unknown_first, unknown_count;
    bool label_known;
  };
  struct Group {
    std::string_view name;        // as written
    const Line* label = nullptr;  // its X-ABLabel
    bool placed = false;          // a line of the group found its place
    bool unknown = false;         // and the label said nothing it could use
  };
  struct List {
    std::vector<std::string_view> items;
    const Line* first = nullptr;
  };

  // A value as typed: blanks around it are no part of it, its escapes
  // undone (into the store: the card's own text stays as it is).
  std::string_view Typed(std::string_view value) {
    return Typed(value, FindEither(value, 0, '\\', '\\') != value.size());
  }
  // The same for a value that holds a backslash or not.
  std::string_view Typed(std::string_view value, bool escaped) {
    value = Trim(value);
    if (!escaped) return value;
    char* to = store_->Room(value.size());
    const std::size_t n = UnescapeTo(value, v21_, to);
    store_->GiveBack(to + n);
    return {to, n};
  }

  std::string_view Number(long long n) {
    char* to = store_->Room(24);
    const auto end = std::to_chars(to, to + 24, n).ptr;
    store_->GiveBack(end);
    return {to, static_cast<std::size_t>(end - to)};
  }

  // The indexes of items, the preferred first, in file order otherwise (an
  // insertion sort: few items, and stable).
  template <typename Item>
  const std::vector<std::size_t>& ByPreference(const std::vector<Item>& items) {
    order_.clear();
    if (items.size() == 1) {
      order_.push_back(0);
      return order_;
    }
    for (std::size_t i = 0; i < items.size(); ++i) {
      std::size_t at = order_.size();
      order_.push_back(i);
      for (; at > 0 && items[order_[at - 1]].rank > items[i].rank; --at)
        order_[at] = order_[at - 1];
      order_[at] = i;
    }
    return order_;
  }

  void Put(Property p, std::string_view value, const Line& from, bool escaped = false) {
    const auto i = static_cast<std::size_t>(p);
    if (done_.test(i)) return;  // never twice: callers check, this only guards
    done_.set(i);
    out_->assignments.push_back({p, value, escaped, &from});
  }
  void SetFlag(Property p, const Line& from) { Put(p, {kTrue, 4}, from); }
  void Lose(const Line& l, std::string_view reason) {
    out_->lost.push_back({l.name, reason});
    lost_lines_.push_back(l.line);
  }
  // Each type word of unknown_[first, first + count): "a type with no
  // place on the card: X-RADIO".
  void LoseTypes(const Line& l, std::size_t first, std::size_t count) {
    static constexpr std::string_view kHead = std::string_view(kUnknownType);
    for (std::size_t k = first; k < first + count; ++k) {
      const std::string_view w = unknown_[k];
      char* to = store_->Room(kHead.size() + 2 + w.size());
      std::memcpy(to, kHead.data(), kHead.size());
      to[kHead.size()] = ':';
      to[kHead.size() + 1] = ' ';
      char* o = to + kHead.size() + 2;
      for (const char c : w) *o++ = c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c;
      Lose(l, {to, kHead.size() + 2 + w.size()});
    }
  }

  void SortLost() {
    order_.resize(out_->lost.size());
    for (std::size_t i = 0; i < order_.size(); ++i) order_[i] = i;
    std::sort(order_.begin(), order_.end(), [&](std::size_t a, std::size_t b) {
      return lost_lines_[a] != lost_lines_[b] ? lost_lines_[a] < lost_lines_[b] : a < b;
    });
    sorted_lost_.clear();
    for (const std::size_t i : order_) sorted_lost_.push_back(out_->lost[i]);
    out_->lost.swap(sorted_lost_);
  }

  // The first non-empty line of a kind takes its property; later ones
  // have no place.
  bool First(Property p, const Line& l) {
    if (!done_.test(static_cast<std::size_t>(p))) return true;
    Lose(l, kSecondValue);
    return false;
  }

  static int CompareGroups(std::string_view a, std::string_view b) {
    for (std::size_t i = 0; i < a.size() && i < b.size(); ++i) {
      const char x = Fold(a[i]), y = Fold(b[i]);
      if (x != y) return static_cast<unsigned char>(x) < static_cast<unsigned char>(y) ? -1 : 1;
    }
    return a.size() == b.size() ? 0 : a.size() < b.size() ? -1 : 1;
  }
  Group* GroupOf(const Line& l) {
    if (l.group.empty() || !labels_ || groups_.empty()) return nullptr;
    const auto it = std::lower_bound(
        groups_.begin(), groups_.end(), l.group,
        [](const Group& g, std::string_view name) { return CompareGroups(g.name, name) < 0; });
    return it != groups_.end() && CompareGroups(it->name, l.group) == 0 ? &*it : nullptr;
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

  // The groups with a label (the first one of each group, in any case).
  void FindLabels() {
    groups_.clear();
    for (const Line& l : card_->lines) {
      if (!l.group.empty() && KindOf(l.name) == LineKind::Label) groups_.push_back({l.group, &l});
    }
    if (groups_.size() < 2) return;
    std::sort(groups_.begin(), groups_.end(), [](const Group& a, const Group& b) {
      const int c = CompareGroups(a.name, b.name);
      return c != 0 ? c < 0 : a.label < b.label;
    });
    groups_.erase(std::unique(groups_.begin(), groups_.end(),
                              [](const Group& a, const Group& b) {
                                return CompareGroups(a.name, b.name) == 0;
                              }),
                  groups_.end());
  }

  void Text(Property p, const Line& l) {
    const std::string_view text = Typed(l.value);
    if (text.empty() || !First(p, l)) return;
    Put(p, text, l);
  }

  void One(const Line& l, LineKind kind) {
    // A BASE64 value is kept as it stands, undecoded: never text for the
    // card (photos and keys have no place anyway).
    if (!l.params.empty() && kind != LineKind::Written && l.Base64()) {
      if (kind != LineKind::Uid && !Trim(l.value).empty()) {
        Lose(l, kind == LineKind::Other || kind == LineKind::Profile ? kNoPlace : kBase64);
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
        if (out_->uid.empty()) out_->uid = Typed(l.value);
        return;
      case LineKind::Written:
        return;
      case LineKind::Profile:
        // The card says PROFILE:VCARD itself.
        if (EqualIgnoringCase(Trim(l.value), "VCARD")) return;
        break;
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

  // A tel: URI as the number a person dials: the extension kept
  // ("+1-555-0100 ext. 7"), other URI parameters left out.
  std::string_view TelUriNumber(std::string_view uri) {
    uri.remove_prefix(4);
    const std::size_t semi = uri.find(';');
    const std::string_view number = Trim(uri.substr(0, semi));
    if (semi == uri.npos || number.empty()) return number;
    std::string& joined = scratch_;
    joined.assign(number);
    for (std::string_view rest = uri.substr(semi + 1); !rest.empty();) {
      const std::size_t next = rest.find(';');
      const std::string_view param = rest.substr(0, next);
      const std::string_view ext = param.size() > 4 && EqualIgnoringCase(param.substr(0, 4), "ext=")
                                       ? Trim(param.substr(4))
                                       : std::string_view();
      if (!ext.empty()) joined.append(" ext. ").append(ext);
      rest = next == rest.npos ? "" : rest.substr(next + 1);
    }
    return joined.size() == number.size() ? number : store_->Copy(joined);
  }

  void Telephone(const Line& l) {
    const bool uri = IsUri(l.value, "tel:");
    const std::string_view number = uri ? TelUriNumber(l.value) : Typed(l.value);
    if (number.empty()) {
      // A tel: URI with parameters and no number.
      if (uri && !Trim(l.value.substr(4)).empty()) Lose(l, kNoPlace);
      return;
    }
    TelFlags flags = 0;
    const std::size_t first = unknown_.size();
    for (const Param& p : l.params) {
      if (!IsType(p.name)) continue;
      for (const std::string_view v : p.values) {
        if (const TelFlags* f = kTelWords.Find(v)) {
          flags |= *f;
        } else if (!EqualIgnoringCase(v, "INTERNET")) {
          unknown_.push_back(v);
        }
      }
    }
    const int rank = Preference(l);
    if (rank == 1) flags |= Bit(TelType::Pref);
    bool known = true;
    if (const std::string_view label = LabelOf(l); !label.empty()) {
      const auto t = std::find_if(std::begin(kTelLabels), std::end(kTelLabels),
                                  [&](const TelLabel& x) { return SameLabel(x.label, label); });
      if (t != std::end(kTelLabels)) flags |= t->flags;
      known = t != std::end(kTelLabels);
    }
    tels_.push_back({&l, rank, number, flags, first, unknown_.size() - first, known});
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
      Put(slots::TelNumber(slot), t.number, *t.line);
      for (unsigned bits = t.flags; bits != 0; bits &= bits - 1) {
        SetFlag(slots::Tel(slot, static_cast<TelType>(__builtin_ctz(bits))), *t.line);
      }
      LoseTypes(*t.line, t.unknown_first, t.unknown_count);
      LabelUsed(*t.line, t.label_known);
    }
  }

  void EmailLine(const Line& l) {
    std::string_view address = Typed(l.value);
    if (IsUri(address, "mailto:")) address = Trim(address.substr(7));
    if (address.empty()) return;
    // The types, each once in any case; capitals when they are written.
    std::vector<std::string_view>& types = types_;
    types.clear();
    const auto add = [&](std::string_view word) {
      for (const std::string_view t : types) {
        if (EqualIgnoringCase(t, word)) return;
      }
      types.push_back(word);
    };
    for (const Param& p : l.params) {
      if (!IsType(p.name)) continue;
      for (const std::string_view v : p.values) {
        if (!EqualIgnoringCase(v, "PREF") && !Trim(v).empty()) add(Trim(v));
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
    const auto has = [&](std::string_view word) {
      return std::any_of(types.begin(), types.end(),
                         [&](std::string_view t) { return EqualIgnoringCase(t, word); });
    };
    const bool internet = has("INTERNET");
    std::string_view type;
    if (!types.empty() && !(types.size() == 1 && internet)) {
      static constexpr std::string_view kInternet = "INTERNET";
      const bool lead = !has("X400") || internet;  // first, wherever it stood
      std::size_t size = lead ? kInternet.size() : 0;
      for (const std::string_view t : types) {
        if (!EqualIgnoringCase(t, kInternet)) size += t.size() + 1;
      }
      char* to = store_->Room(size);
      char* o = to;
      if (lead) o = std::copy(kInternet.begin(), kInternet.end(), o);
      for (const std::string_view t : types) {
        if (EqualIgnoringCase(t, kInternet)) continue;
        if (o != to) *o++ = ',';
        for (const char c : t) *o++ = c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c;
      }
      store_->GiveBack(o);
      type = {to, static_cast<std::size_t>(o - to)};
    }
    const int rank = Preference(l);
    emails_.push_back({&l, rank, address, type, rank == 1, known});
  }

  void Emails() {
    const std::vector<std::size_t>& order = ByPreference(emails_);
    int slot = 0;
    for (const std::size_t i : order) {
      const Email& e = emails_[i];
      if (slot == slots::kEmailSlots) {
        Lose(*e.line, kNoEmailSlot);
        continue;
      }
      ++slot;
      Put(slots::EmailValue(slot), e.address, *e.line);
      if (!e.type.empty()) Put(slots::EmailType(slot), e.type, *e.line);
      if (e.pref) SetFlag(slots::EmailPref(slot), *e.line);
      LabelUsed(*e.line, e.label_known);
    }
  }

  void Address(const Line& l) {
    Adr a{&l, Preference(l), {}, 0, 0, 0, true};
    bool any = false, beyond = false;
    std::size_t p = 0;
    ForEachPiece(l.value, ';', [&](std::string_view part, bool escaped) {
      const std::size_t at = p++;
      if (Trim(part).empty()) return;
      if (at < a.parts.size()) {
        a.parts[at] = Typed(part, escaped);
        any = true;
      } else {
        beyond = true;  // a part after the country
      }
    });
    if (beyond) Lose(l, kNoPlace);
    if (!any) return;
    a.unknown_first = unknown_.size();
    for (const Param& param : l.params) {
      if (!IsType(param.name)) continue;
      for (const std::string_view v : param.values) {
        if (const AdrFlags* f = kAdrWords.Find(v)) {
          a.flags |= *f;
        } else {
          unknown_.push_back(v);
        }
      }
    }
    a.unknown_count = unknown_.size() - a.unknown_first;
    if (const std::string_view label = LabelOf(l); !label.empty()) {
      if (SameLabel(label, "Work")) {
        a.flags |= Bit(AddressType::Work);
      } else if (SameLabel(label, "Home")) {
        a.flags |= Bit(AddressType::Home);
      } else {
        a.label_known = SameLabel(label, "Other");
      }
    }
    adrs_.push_back(a);
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
          Put(slots::Address(slot, static_cast<AddressPart>(p)), a.parts[p], *a.line);
        }
      }
      // The card writes an address only with a type: Postal for one
      // without.
      if (a.flags == 0) a.flags = Bit(AddressType::Postal);
      for (int f = 0; f < slots::kAddressTypes; ++f) {
        const auto type = static_cast<AddressType>(f);
        if ((a.flags & Bit(type)) != 0) SetFlag(slots::Address(slot, type), *a.line);
      }
      LoseTypes(*a.line, a.unknown_first, a.unknown_count);
      LabelUsed(*a.line, a.label_known);
    }
  }

  void Name(const Line& l) {
    static constexpr Property kParts[] = {Property::NameFamily, Property::NameGiven,
                                          Property::NameAdditional, Property::NamePrefix,
                                          Property::NameSuffix};
    std::array<std::string_view, std::size(kParts)> texts;
    bool any = false, beyond = false;
    std::size_t p = 0;
    ForEachPiece(l.value, ';', [&](std::string_view part, bool escaped) {
      const std::size_t at = p++;
      if (Trim(part).empty()) return;
      if (at >= texts.size()) {
        beyond = true;  // a part after the suffix
        return;
      }
      texts[at] = Typed(part, escaped);
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
    for (std::size_t k = 0; k < texts.size(); ++k) {
      if (!texts[k].empty()) Put(kParts[k], texts[k], l);
    }
  }

  void Organisation(const Line& l) {
    std::string_view name;
    units_.clear();
    bool first = true;
    ForEachPiece(l.value, ';', [&](std::string_view part, bool escaped) {
      if (first) {
        first = false;
        name = Typed(part, escaped);
      } else if (!Trim(part).empty()) {
        units_.push_back(Typed(part, escaped));
      }
    });
    if (name.empty() && units_.empty()) return;
    if (org_done_) {
      Lose(l, kSecondValue);
      return;
    }
    org_done_ = true;
    if (!name.empty()) Put(Property::OrgName, name, l);
    if (units_.empty()) return;
    // The card has one unit: further units join the first in one text, as
    // a person would type them, so that the card reads the same after a
    // trip through a table.
    std::string_view joined = units_.front();
    if (units_.size() > 1) {
      std::size_t size = 0;
      for (const std::string_view u : units_) size += u.size() + 2;
      char* to = store_->Room(size);
      char* o = to;
      for (const std::string_view u : units_) {
        if (o != to) o = std::copy_n(", ", 2, o);
        o = std::copy(u.begin(), u.end(), o);
      }
      store_->GiveBack(o);
      joined = {to, static_cast<std::size_t>(o - to)};
    }
    Put(Property::OrgUnit, joined, l);
  }

  void Url(const Line& l) {
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

  void Birthday(const Line& l) {
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
    Put(Property::GeoLatDeg, Number(ys / 3600), l);
    Put(Property::GeoLatMin, Number(ys / 60 % 60), l);
    Put(Property::GeoLatSec, Number(ys % 60), l);
    Put(Property::GeoLon, x < 0 && xs != 0 ? "W" : "E", l);
    Put(Property::GeoLonDeg, Number(xs / 3600), l);
    Put(Property::GeoLonMin, Number(xs / 60 % 60), l);
    Put(Property::GeoLonSec, Number(xs % 60), l);
  }

  void ListItems(const Line& l, List& list, bool categories = false) {
    ForEachPiece(l.value, ',', [&](std::string_view piece, bool escaped) {
      if (Trim(piece).empty()) return;
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

  void Lists() {
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
  void Labels() {
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

  const Card* card_ = nullptr;
  Mapped* out_ = nullptr;
  TextStore* store_ = nullptr;
  bool v21_ = false;
  bool labels_ = false;  // some line has a group
  std::vector<std::size_t> order_;
  std::vector<std::string_view> types_;    // of the e-mail address in hand
  std::vector<std::string_view> units_;    // of the organisation in hand
  std::vector<std::string_view> unknown_;  // type words with no place
  std::vector<std::uint64_t> lost_lines_;  // of each entry of out_->lost
  std::vector<Unplaced> sorted_lost_;
  std::string scratch_;
  std::bitset<qv_VCard::kPropertyCount> done_;
  std::vector<Group> groups_;  // sorted by name, in any case
  std::vector<Tel> tels_;
  std::vector<Email> emails_;
  std::vector<Adr> adrs_;
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
  std::string s;
  s.reserve(l.group.size() + 1 + l.name.size());
  if (!l.group.empty()) s.append(l.group).append(1, '.');
  return s.append(l.name);
}

void MapCard(const Card& card, Mapped& out) {
  // Each thread keeps its mapper, so that its lists need no new room for
  // every card.
  thread_local Mapper mapper;
  mapper.Run(card, out);
}

Mapped MapCard(const Card& card) {
  Mapped out;
  MapCard(card, out);
  return out;
}

}  // namespace qvvcard::vcf
