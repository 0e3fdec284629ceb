// The repeated slots of the record as the adapters see them: which
// properties form each address, telephone and e-mail slot, and which flags
// type it. Made from the record's layout and the line table, so that no
// adapter works them out from property names.
#ifndef QV_VCARD_CARD_SLOT_TABLE_HPP
#define QV_VCARD_CARD_SLOT_TABLE_HPP

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

#include "card/line_table.hpp"
#include "card/record.hpp"

namespace qv_VCard::slots {

enum class SlotKind : std::uint8_t { Address, Telephone, Email };

inline constexpr int kAddressSlots = lines::kAddressLine.slots;
inline constexpr int kTelephoneSlots = lines::kTelephoneLine.slots;
inline constexpr int kEmailSlots = 3;

// The parts of an address, in the order of the ADR value.
enum class AddressPart : std::uint8_t {
  PostOffice,
  Extended,
  Street,
  Locality,
  Region,
  PostalCode,
  Country
};
inline constexpr int kAddressParts = lines::kAddressLine.components;

// The types of an address and of a telephone number, in the order of their
// flags (and of the line's type parameters).
enum class AddressType : std::uint8_t { Dom, Intl, Postal, Parcel, Home, Work };
inline constexpr int kAddressTypes = lines::kAddressLine.type_count;
enum class TelType : std::uint8_t {
  Pref,
  Work,
  Home,
  Voice,
  Fax,
  Msg,
  Cell,
  Pager,
  Bbs,
  Modem,
  Car,
  Isdn,
  Video
};
inline constexpr int kTelTypes = lines::kTelephoneLine.type_count;

// Slot numbers count from 1.
constexpr Property Address(int slot, AddressPart part) {
  return record::InSlot(
      static_cast<Property>(static_cast<int>(lines::kAddressLine.first_component) +
                            static_cast<int>(part)),
      slot, record::kAddressSlotSize);
}
constexpr Property Address(int slot, AddressType type) {
  return record::InSlot(lines::kAddressTypes[static_cast<int>(type)].flag, slot,
                        record::kAddressSlotSize);
}
constexpr Property TelNumber(int slot) {
  return record::InSlot(lines::kTelephoneLine.first_component, slot, record::kTelephoneSlotSize);
}
constexpr Property Tel(int slot, TelType type) {
  return record::InSlot(lines::kTelephoneTypes[static_cast<int>(type)].flag, slot,
                        record::kTelephoneSlotSize);
}
constexpr Property EmailValue(int slot) {
  return record::InSlot(Property::Email1_Value, slot, record::kEmailSlotSize);
}
constexpr Property EmailType(int slot) {
  return record::InSlot(Property::Email1_Type, slot, record::kEmailSlotSize);
}
constexpr Property EmailPref(int slot) {
  return record::InSlot(Property::Email1_Pref, slot, record::kEmailSlotSize);
}

// The type word of a flag as the card writes it ("CELL", "POSTAL").
constexpr std::u16string_view TypeWord(TelType t) {
  return lines::kTelephoneTypes[static_cast<int>(t)].type();
}
constexpr std::u16string_view TypeWord(AddressType t) {
  return lines::kAddressTypes[static_cast<int>(t)].type();
}

// A slot whose line the card writes only when one of its type flags is
// set: the addresses and the telephone numbers. Its texts and its flags
// each follow one another in the record.
struct TypedSlot {
  SlotKind kind;
  int number;  // from 1
  Property first_text;
  int texts;
  Property first_flag;
  int flags;
};

inline constexpr int kTypedSlotCount = kAddressSlots + kTelephoneSlots;
inline constexpr std::array<TypedSlot, kTypedSlotCount> kTypedSlots = [] {
  std::array<TypedSlot, kTypedSlotCount> all{};
  int i = 0;
  for (int s = 1; s <= kAddressSlots; ++s) {
    all[i++] = {SlotKind::Address,
                s,
                Address(s, AddressPart::PostOffice),
                kAddressParts,
                Address(s, AddressType::Dom),
                kAddressTypes};
  }
  for (int s = 1; s <= kTelephoneSlots; ++s) {
    all[i++] = {SlotKind::Telephone, s, TelNumber(s), 1, Tel(s, TelType::Pref), kTelTypes};
  }
  return all;
}();

// Where a property stands among the slots.
struct Place {
  SlotKind kind;
  int number;  // the slot, from 1
  int offset;  // within the slot's fields (see record.hpp)
};
constexpr std::optional<Place> PlaceOf(Property p) {
  const auto in = [p](Property first, int slot_size, int slots,
                      SlotKind kind) -> std::optional<Place> {
    const int offset = static_cast<int>(p) - static_cast<int>(first);
    if (offset < 0 || offset >= slot_size * slots) return std::nullopt;
    return Place{kind, offset / slot_size + 1, offset % slot_size};
  };
  if (auto a = in(Address(1, AddressPart::PostOffice), record::kAddressSlotSize, kAddressSlots,
                  SlotKind::Address)) {
    return a;
  }
  if (auto t = in(TelNumber(1), record::kTelephoneSlotSize, kTelephoneSlots, SlotKind::Telephone)) {
    return t;
  }
  return in(EmailValue(1), record::kEmailSlotSize, kEmailSlots, SlotKind::Email);
}

// The typed slot a property belongs to (an address or telephone text or
// flag), or nullptr.
constexpr const TypedSlot* TypedSlotOf(Property p) {
  for (const TypedSlot& s : kTypedSlots) {
    const int t = static_cast<int>(p) - static_cast<int>(s.first_text);
    const int f = static_cast<int>(p) - static_cast<int>(s.first_flag);
    if ((t >= 0 && t < s.texts) || (f >= 0 && f < s.flags)) return &s;
  }
  return nullptr;
}
constexpr bool IsTypeFlag(const TypedSlot& s, Property p) {
  const int f = static_cast<int>(p) - static_cast<int>(s.first_flag);
  return f >= 0 && f < s.flags;
}

static_assert(Address(2, AddressPart::Street) == Property::Adr2_Street);
static_assert(Address(3, AddressPart::Country) == Property::Adr3_Country);
static_assert(Address(1, AddressType::Postal) == Property::Adr1_Postal);
static_assert(Address(3, AddressType::Work) == Property::Adr3_Work);
static_assert(TelNumber(4) == Property::Tel4_Number);
static_assert(Tel(2, TelType::Cell) == Property::Tel2_Cell);
static_assert(Tel(4, TelType::Video) == Property::Tel4_Video);
static_assert(Tel(1, TelType::Bbs) == Property::Tel1_BBS);
static_assert(EmailType(3) == Property::Email3_Type);
static_assert(EmailPref(2) == Property::Email2_Pref);
static_assert(kTypedSlots[6].first_text == Property::Tel4_Number);
static_assert(PlaceOf(Property::Tel3_Fax)->number == 3 &&
              PlaceOf(Property::Email2_Pref)->offset == 2);
static_assert(!PlaceOf(Property::Note) && TypedSlotOf(Property::Email1_Value) == nullptr);
static_assert(TypedSlotOf(Property::Adr2_Home) == &kTypedSlots[1]);

}  // namespace qv_VCard::slots

#endif
