// The mapping's own parts, shared by its files: the helpers of labels and
// types, the kinds of lines, and the mapper, whose work on each kind of line
// lies in a file of its own (the scans of values: vcard_value_scan.hpp).
// Not for use outside the mapping.
#ifndef QVVCARD_VCARD_MAPPER_HPP
#define QVVCARD_VCARD_MAPPER_HPP

#include <array>
#include <bitset>
#include <charconv>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "card/ascii.hpp"
#include "card/simd.hpp"
#include "card/slot_table.hpp"
#include "common/scan.hpp"
#include "common/text.hpp"
#include "input/vcard_mapping.hpp"
#include "input/vcard_value_scan.hpp"

namespace qvvcard::vcf::mapping {

using qv_VCard::Property;
using qv_VCard::ascii::EqualIgnoringCase;
using qv_VCard::ascii::Fold;
namespace slots = qv_VCard::slots;
using slots::AddressPart;
using slots::AddressType;
using slots::TelType;

// Labels compared as people write them: in any case, blanks left out
// ("Home Fax", "HomeFAX").
bool SameLabel(std::string_view a, std::string_view b);
// A label an address book gives by itself stands as "_$!<Mobile>!$_"; one
// a person typed as it is.
std::string_view LabelText(std::string_view label);

using TelFlags = std::uint16_t;
constexpr TelFlags Bit(TelType t) { return static_cast<TelFlags>(1u << static_cast<int>(t)); }
using AdrFlags = std::uint8_t;
constexpr AdrFlags Bit(AddressType t) { return static_cast<AdrFlags>(1u << static_cast<int>(t)); }

inline constexpr int kNotPreferred = 101;

inline bool IsType(std::string_view name) {
  return name.size() == 4 && std::memcmp(name.data(), "TYPE", 4) == 0;
}

// Whether the value of l is BASE64, as Line::Base64 tells, looked at only
// when l has an ENCODING parameter at all.
inline bool Base64(const Line& l) {
  for (const Param& p : l.params) {
    if (p.name.size() == 8 && std::memcmp(p.name.data(), "ENCODING", 8) == 0) return l.Base64();
  }
  return false;
}

// 4.0's pref=1..100, or TYPE=PREF (as the most preferred); kNotPreferred
// for neither.
int Preference(const Line& l);

// Whether value is a URI of scheme, given in small letters ("tel:",
// "mailto:"), as 4.0 writes them with VALUE=uri (and some writers without).
inline bool IsUri(std::string_view value, std::string_view scheme) {
  // Mostly the first letter tells already (schemes start with a letter).
  return value.size() >= scheme.size() && Fold(value[0]) == scheme[0] &&
         EqualIgnoringCase(value.substr(0, scheme.size()), scheme);
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

inline constexpr char kTrue[] = "true";

// The flags of a TEL type word (any case), or nullptr for a word the card
// has no flag for.
const TelFlags* TelTypeFlags(std::string_view word);

// The plain route's own (vcard_plain_route.cpp): what it makes of a line,
// by its name, and the heads of lines it keeps from card to card.
enum class PlainKind : std::uint8_t { Text, Name, Org, Tel, Email, Uid, Skip, Profile, Version };
struct PlainName {
  PlainKind what;
  std::uint8_t size;  // of the name
  Property property;  // of a text
};

// The head of a line of the cards read last (its text up to the ":"
// before its value), kept by its place in the card, and what the route made
// of it: the cards of one file mostly repeat them line for line. A head is
// compared byte for byte, so what it gives is what reading it again would
// give.
struct PlainHead {
  static constexpr std::size_t kMost = 32;
  char bytes[kMost];
  std::size_t size = ~std::size_t{0};  // with its ":"; none is longer than any line
  std::uint32_t want = 0;              // a bit for each of its bytes
  PlainName name;
  TelFlags flags;  // of TEL
  int rank;        // of TEL and EMAIL

  // Whether line starts with this head; loadable: kMost bytes can be read
  // from the line's start.
  bool Starts(std::string_view line, [[maybe_unused]] bool loadable) const {
    if (line.size() < size) return false;
#if QV_VCARD_SSE2
    if (loadable) {
      const auto equal = [&](std::size_t k) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(line.data() + k));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + k));
        return static_cast<std::uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(a, b)));
      };
      const std::uint32_t same = size <= 16 ? equal(0) : equal(0) | equal(16) << 16;
      return (same & want) == want;
    }
#endif
    return std::memcmp(line.data(), bytes, size) == 0;
  }
  // Keeps the head of line that read gives.
  void Keep(std::string_view line, const PlainHead& read) {
    std::memcpy(bytes, line.data(), read.size);
    size = read.size;
    want = size == 32 ? ~0u : (1u << size) - 1;
    name = read.name;
    flags = read.flags;
    rank = read.rank;
  }
};

class Mapper {
 public:
  void Run(const Card& card, Mapped& out);
  // The plain route (vcard_plain_route.cpp): MapPlainCard.
  std::size_t Plain(std::string_view ahead, std::uint64_t line, const Limits& limits, Card& card,
                    Mapped& out, std::uint64_t& lines, bool uid);

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
    value = TrimBlanks(value);
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

  // Gives each item, the preferred first, its slot (from 1) through place;
  // those beyond the last of the slots are lost for the reason given.
  template <typename Item, typename Place>
  void IntoSlots(std::vector<Item>& items, int slots, std::string_view lost, Place&& place) {
    if (items.size() == 1 && slots > 0) return place(items.front(), 1);  // mostly
    int slot = 0;
    for (const std::size_t i : ByPreference(items)) {
      Item& item = items[i];
      if (slot == slots) {
        Lose(*item.line, lost);
        continue;
      }
      place(item, ++slot);
    }
  }

  void Put(Property p, std::string_view value, const Line& from, bool escaped = false) {
    const auto i = static_cast<std::size_t>(p);
    // (A property is always below kPropertyCount: no bounds check.)
    if (done_[i]) return;  // never twice: callers check, this only guards
    done_[i] = true;
    out_->assignments.push_back({p, value, escaped, &from});
  }
  void SetFlag(Property p, const Line& from) { Put(p, {kTrue, 4}, from); }
  void Lose(const Line& l, std::string_view reason) {
    out_->lost.push_back({l.name, reason});
    lost_lines_.push_back(l.line);
  }
  // Each type word of unknown_[first, first + count): "a type with no
  // place on the card: X-RADIO".
  void LoseTypes(const Line& l, std::size_t first, std::size_t count);
  void SortLost();
  // Empties what the card before left, for card and out.
  void Start(const Card& card, Mapped& out);

  // The first non-empty line of a kind takes its property; later ones
  // have no place.
  bool First(Property p, const Line& l) {
    if (!done_[static_cast<std::size_t>(p)]) return true;
    Lose(l, kSecondValue);
    return false;
  }
  static int CompareGroups(std::string_view a, std::string_view b);
  // Most cards have no groups: that is told here, the group looked up
  // only when there are.
  Group* GroupOf(const Line& l) {
    if (l.group.empty() || !labels_ || groups_.empty()) return nullptr;
    return FindGroup(l);
  }
  Group* FindGroup(const Line& l);
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
  void FindLabels();

  void Text(Property p, const Line& l);
  // The line by its kind; the slots, lists and labels are filled after
  // the last line.
  void One(const Line& l, LineKind kind);
  [[gnu::noinline]] void Base64Line(const Line& l, LineKind kind);
  [[gnu::noinline]] void UidLine(const Line& l);
  // PROFILE other than PROFILE:VCARD, a label outside a group, and lines
  // of no kind the card knows.
  [[gnu::noinline]] void OtherLine(const Line& l, LineKind kind);

  // Telephones, e-mail addresses and addresses (vcard_map_slots.cpp).
  // A tel: URI as the number a person dials: the extension kept
  // ("+1-555-0100 ext. 7"), other URI parameters left out.
  std::string_view TelUriNumber(std::string_view uri);
  void Telephone(const Line& l);
  void Telephones();
  void EmailLine(const Line& l);
  void Emails();
  void Address(const Line& l);
  void Addresses();

  // Names and organisations (vcard_map_names.cpp).
  void Name(const Line& l);
  void Organisation(const Line& l);

  // The rest (vcard_map_other.cpp).
  void Url(const Line& l);
  void Birthday(const Line& l);
  void Geo(const Line& l);
  void ListItems(const Line& l, List& list, bool categories = false);
  void Lists();
  // A label is used up with its group's line; an unknown one, and one
  // whose group found no place, are values with no place of their own.
  void Labels();

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
  std::vector<Group> groups_;              // sorted by name, in any case
  std::array<PlainHead, 24> plain_heads_;  // by the place of their lines in the card
  std::vector<Tel> tels_;
  std::vector<Email> emails_;
  std::vector<Adr> adrs_;
  List nicknames_, categories_;
  bool name_done_ = false;
  bool org_done_ = false;
};

}  // namespace qvvcard::vcf::mapping

#endif
