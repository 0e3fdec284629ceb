// The lines whose types are flags, ADR and TEL: one builder, driven by the
// line's table (its name, its type flags in writing order, its components).
// It is a template on the table, so that every read of a component folds to
// that component's rule.
#ifndef QV_VCARD_WRITER_FLAG_TYPED_LINE_HPP
#define QV_VCARD_WRITER_FLAG_TYPED_LINE_HPP

#include <bit>
#include <cstring>
#include <utility>

#include "card/reads.hpp"

namespace qv_VCard::writer {

// The reads of a line's components, one after the other, each folded to its
// rule.
template <const lines::FlagTypedLine& kKind, typename Line, int... kI>
QV_VCARD_READ_INLINE void AppendComponents(const qvVCard& c, const reads::SlotFields& slot,
                                           Line& line, std::integer_sequence<int, kI...>) {
  constexpr auto component = [](int i) {
    return static_cast<Property>(static_cast<int>(kKind.first_component) + i);
  };
  (reads::AppendRead(c, component(kI), slot.Stored(component(kI)), line), ...);
}

template <const lines::FlagTypedLine& kKind>
Status BuildFlagTypedLine(const qvVCard& c, int slot, CardText& card) {
  if (slot < 1 || slot > kKind.slots) return kInvalidArg;
  static constexpr record::SlotGroup kGroup =
      record::GroupOf(kKind.first_component, kKind.slot_size);
  const reads::SlotFields fields(c, kGroup, slot);
  // The flags alone decide: no type, no line. They are read first, then
  // the parameters of those set are written in table order.
  const unsigned set =
      fields.FlagBits(kKind.types[0].flag, static_cast<unsigned>(kKind.type_count));
  if (set == 0) return kOk;
  WriteLine(card, [&](auto& line) QV_VCARD_LINE_INLINE {
    // The name, the parameters of the flags set and the colon in one room
    // for all the line's flags; each parameter's block is copied whole and
    // only its text taken.
    line.Write(kKind.name.size() + std::size_t{kKind.type_count} * lines::TypeFlag::kBlock + 1,
               [&](char16_t* const begin) QV_VCARD_LINE_INLINE {
                 char16_t* at = begin;
                 std::memcpy(at, kKind.name.data(), kKind.name.size() * sizeof(char16_t));
                 at += kKind.name.size();
                 for (unsigned rest = set; rest != 0; rest &= rest - 1) {
                   const lines::TypeFlag& t = kKind.types[std::countr_zero(rest)];
                   std::memcpy(at, t.parameter, sizeof t.parameter);
                   at += t.size;  // at most a block
                 }
                 *at++ = u':';
                 return static_cast<std::size_t>(at - begin);
               });
    // The components in the order they make up the value (an address's
    // first six reads end in ";").
    AppendComponents<kKind>(c, fields, line, std::make_integer_sequence<int, kKind.components>());
    line.append(kLineEnd);
  });
  return kOk;
}

}  // namespace qv_VCard::writer

#endif
