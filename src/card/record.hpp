// Compile-time facts about the record, expanded from the property table:
// each property's kind, read rule and field index, and the layout of the
// repeated slots.
#ifndef QV_VCARD_CARD_RECORD_HPP
#define QV_VCARD_CARD_RECORD_HPP

#include <array>
#include <cstddef>

#include "qv_vcard/qvVCard.hpp"

namespace qv_VCard::record {

struct Facts {
  Kind kind;
  ReadRule rule;
  std::uint8_t field;
};

constexpr std::array<Facts, kPropertyCount> MakeFacts() {
  constexpr Kind kinds[] = {
#define QV_VCARD_PROPERTY(name, kind, dispid, rule) Kind::kind,
#include "card/property_table.inc"
#undef QV_VCARD_PROPERTY
  };
  constexpr ReadRule rules[] = {
#define QV_VCARD_PROPERTY(name, kind, dispid, rule) ReadRule::rule,
#include "card/property_table.inc"
#undef QV_VCARD_PROPERTY
  };
  std::array<Facts, kPropertyCount> f{};
  std::uint8_t texts = 0;
  std::uint8_t values = 0;
  for (std::size_t i = 0; i < kPropertyCount; ++i) {
    f[i] = Facts{kinds[i], rules[i], kinds[i] == Kind::Text ? texts++ : values++};
  }
  return f;
}

inline constexpr auto kFacts = MakeFacts();

// Number of flag and integer fields.
inline constexpr std::size_t kValueFieldCount = [] {
  std::size_t n = 0;
  for (const Facts& f : kFacts) n += f.kind == Kind::Text ? 0 : 1;
  return n;
}();

constexpr const Facts& Of(Property p) { return kFacts[static_cast<std::size_t>(p)]; }
constexpr std::uint8_t FieldOf(Property p) { return Of(p).field; }
constexpr bool IsText(Property p) { return Of(p).kind == Kind::Text; }

// Slot n (1-based) of a repeated group: the same field of slot 1 moved by
// whole slots.
constexpr Property InSlot(Property slot1_field, int slot, int slot_size) {
  return static_cast<Property>(static_cast<int>(slot1_field) + (slot - 1) * slot_size);
}

// Slot n's property whose slot 1 property is given, for a group whose slots
// are alike (checked below): the compiler is told that its read rule and
// kind are those of slot 1, so a builder's read folds to that one rule.
inline Property InAlikeSlot(Property slot1_field, int slot, int slot_size) {
  const Property p = InSlot(slot1_field, slot, slot_size);
  if (Of(p).rule != Of(slot1_field).rule || Of(p).kind != Of(slot1_field).kind) {
#if defined(__GNUC__)
    __builtin_unreachable();
#elif defined(_MSC_VER)
    __assume(0);
#endif
  }
  return p;
}

// True when every slot of a group has slot 1's kinds and read rules.
constexpr bool SlotsAlike(Property first, int slots, int slot_size) {
  for (int s = 2; s <= slots; ++s) {
    for (int i = 0; i < slot_size; ++i) {
      const Property a = static_cast<Property>(static_cast<int>(first) + i);
      const Property b = InSlot(a, s, slot_size);
      if (Of(a).rule != Of(b).rule || Of(a).kind != Of(b).kind) return false;
    }
  }
  return true;
}

inline constexpr int kAddressSlotSize = 13;
inline constexpr int kTelephoneSlotSize = 14;
inline constexpr int kEmailSlotSize = 3;

static_assert(SlotsAlike(Property::Adr1_PostOffice, 3, kAddressSlotSize));
static_assert(SlotsAlike(Property::Tel1_Number, 4, kTelephoneSlotSize));
static_assert(SlotsAlike(Property::Email1_Value, 3, kEmailSlotSize));
static_assert(InSlot(Property::Adr1_PostOffice, 3, kAddressSlotSize) == Property::Adr3_PostOffice);
static_assert(InSlot(Property::Adr1_Work, 2, kAddressSlotSize) == Property::Adr2_Work);
static_assert(InSlot(Property::Tel1_Number, 4, kTelephoneSlotSize) == Property::Tel4_Number);
static_assert(InSlot(Property::Tel1_Video, 3, kTelephoneSlotSize) == Property::Tel3_Video);
static_assert(InSlot(Property::Email1_Value, 3, kEmailSlotSize) == Property::Email3_Value);
static_assert(InSlot(Property::Email1_Pref, 2, kEmailSlotSize) == Property::Email2_Pref);

// A group of alike slots as the record stores it: each slot's texts and
// values lie texts and values fields after the previous slot's.
struct SlotGroup {
  int texts;
  int values;
};

// The fields a slot of the group from first (of slot 1) takes.
constexpr SlotGroup GroupOf(Property first, int slot_size) {
  SlotGroup g{0, 0};
  for (int i = 0; i < slot_size; ++i) {
    ++(IsText(static_cast<Property>(static_cast<int>(first) + i)) ? g.texts : g.values);
  }
  return g;
}

// True when every field of every slot lies whole slots of fields after its
// slot 1 field.
constexpr bool FieldsMoveBySlots(Property first, int slots, int slot_size) {
  const SlotGroup g = GroupOf(first, slot_size);
  for (int s = 2; s <= slots; ++s) {
    for (int i = 0; i < slot_size; ++i) {
      const Property a = static_cast<Property>(static_cast<int>(first) + i);
      const int step = IsText(a) ? g.texts : g.values;
      if (FieldOf(InSlot(a, s, slot_size)) != FieldOf(a) + (s - 1) * step) return false;
    }
  }
  return true;
}

inline constexpr SlotGroup kAddressGroup = GroupOf(Property::Adr1_PostOffice, kAddressSlotSize);
inline constexpr SlotGroup kTelephoneGroup = GroupOf(Property::Tel1_Number, kTelephoneSlotSize);
inline constexpr SlotGroup kEmailGroup = GroupOf(Property::Email1_Value, kEmailSlotSize);
static_assert(FieldsMoveBySlots(Property::Adr1_PostOffice, 3, kAddressSlotSize));
static_assert(FieldsMoveBySlots(Property::Tel1_Number, 4, kTelephoneSlotSize));
static_assert(FieldsMoveBySlots(Property::Email1_Value, 3, kEmailSlotSize));

}  // namespace qv_VCard::record

#endif
