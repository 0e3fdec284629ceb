// The slots of a card: telephones, e-mail addresses and addresses, their
// types and labels, the preferred ones first.
#include <algorithm>
#include <stdexcept>

#include "card/ascii.hpp"
#include "input/vcard_mapper.hpp"

namespace qvvcard::vcf::mapping {

namespace {

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

}  // namespace

const TelFlags* TelTypeFlags(std::string_view word) { return kTelWords.Find(word); }

// A tel: URI as the number a person dials: the extension kept
// ("+1-555-0100 ext. 7"), other URI parameters left out.
std::string_view Mapper::TelUriNumber(std::string_view uri) {
  uri.remove_prefix(4);
  const std::size_t semi = uri.find(';');
  const std::string_view number = TrimBlanks(uri.substr(0, semi));
  if (semi == uri.npos || number.empty()) return number;
  std::string& joined = scratch_;
  joined.assign(number);
  for (std::string_view rest = uri.substr(semi + 1); !rest.empty();) {
    const std::size_t next = rest.find(';');
    const std::string_view param = rest.substr(0, next);
    const std::string_view ext = param.size() > 4 && EqualIgnoringCase(param.substr(0, 4), "ext=")
                                     ? TrimBlanks(param.substr(4))
                                     : std::string_view();
    if (!ext.empty()) joined.append(" ext. ").append(ext);
    rest = next == rest.npos ? "" : rest.substr(next + 1);
  }
  return joined.size() == number.size() ? number : store_->Copy(joined);
}

void Mapper::Telephone(const Line& l) {
  const bool uri = IsUri(l.value, "tel:");
  const std::string_view number = uri ? TelUriNumber(l.value) : Typed(l.value);
  if (number.empty()) {
    // A tel: URI with parameters and no number.
    if (uri && !TrimBlanks(l.value.substr(4)).empty()) Lose(l, kNoPlace);
    return;
  }
  TelFlags flags = 0;
  const std::size_t first = unknown_.size();
  for (const Param& p : l.params) {
    if (!IsType(p.name)) continue;
    for (const std::string_view v : p.values) {
      if (const TelFlags* f = TelTypeFlags(v)) {
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

void Mapper::Telephones() {
  IntoSlots(tels_, slots::kTelephoneSlots, kNoTelephoneSlot, [this](Tel& t, const int slot) {
    // A number of no kind (voice, fax, cell, ...) is a voice number, the
    // kind vCard gives it by default, and the card writes a telephone
    // only with a type: "HOME" is HOME and VOICE, as in the exports.
    constexpr TelFlags kNoKind = Bit(TelType::Pref) | Bit(TelType::Work) | Bit(TelType::Home);
    if ((t.flags & ~kNoKind) == 0) t.flags |= Bit(TelType::Voice);
    Put(slots::TelNumber(slot), t.number, *t.line);
    for (unsigned bits = t.flags; bits != 0; bits &= bits - 1) {
      SetFlag(slots::Tel(slot, static_cast<TelType>(__builtin_ctz(bits))), *t.line);
    }
    if (t.unknown_count != 0) LoseTypes(*t.line, t.unknown_first, t.unknown_count);
    LabelUsed(*t.line, t.label_known);
  });
}

void Mapper::EmailLine(const Line& l) {
  std::string_view address = Typed(l.value);
  if (IsUri(address, "mailto:")) address = TrimBlanks(address.substr(7));
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
      if (!EqualIgnoringCase(v, "PREF") && !TrimBlanks(v).empty()) add(TrimBlanks(v));
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

void Mapper::Emails() {
  IntoSlots(emails_, slots::kEmailSlots, kNoEmailSlot, [this](const Email& e, const int slot) {
    Put(slots::EmailValue(slot), e.address, *e.line);
    if (!e.type.empty()) Put(slots::EmailType(slot), e.type, *e.line);
    if (e.pref) SetFlag(slots::EmailPref(slot), *e.line);
    LabelUsed(*e.line, e.label_known);
  });
}

void Mapper::Address(const Line& l) {
  Adr a{&l, Preference(l), {}, 0, 0, 0, true};
  bool any = false, beyond = false;
  std::size_t p = 0;
  ForEachPiece(l.value, ';', [&](std::string_view part, bool escaped) {
    const std::size_t at = p++;
    if (TrimBlanks(part).empty()) return;
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

void Mapper::Addresses() {
  IntoSlots(adrs_, slots::kAddressSlots, kNoAddressSlot, [this](Adr& a, const int slot) {
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
  });
}

}  // namespace qvvcard::vcf::mapping
