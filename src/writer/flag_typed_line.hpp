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
template <const lines::FlagTypedLine& kKind, int... kI>
QV_VCARD_READ_INLINE void AppendComponents(const qvVCard& c, int slot, Cursor& line,
                                           std::integer_sequence<int, kI...>) {
  (reads::AppendRead(
       c,
       record::InAlikeSlot(static_cast<Property>(static_cast<int>(kKind.first_component) + kI),
                           slot, kKind.slot_size),
       line),
   ...);
}

template <const lines::FlagTypedLine& kKind>
Status BuildFlagTypedLine(const qvVCard& c, int slot, CardText& card) {
  if (slot < 1 || slot > kKind.slots) return kInvalidArg;
  const auto in_slot = [slot](Property p) { return record::InAlikeSlot(p, slot, kKind.slot_size); };
  // The flags alone decide: no type, no line. They are read first, then
  // the parameters of those set are written in table order.
  unsigned set =
      reads::ReadFlagBits(c, in_slot(kKind.types[0].flag), static_cast<unsigned>(kKind.type_count));
  if (set == 0) return kOk;
  Cursor line(card);
  // One room for the name, the parameters of all the line's flags and the
  // colon; each parameter's block is copied whole and only its text taken.
  const Room room =
      line.Reserve(kKind.name.size() + std::size_t{kKind.type_count} * lines::TypeFlag::kBlock + 1);
  char16_t* at = room.at;
  std::memcpy(at, kKind.name.data(), kKind.name.size() * sizeof(char16_t));
  at += kKind.name.size();
  for (; set != 0; set &= set - 1) {
    const lines::TypeFlag& t = kKind.types[std::countr_zero(set)];
    std::memcpy(at, t.parameter, sizeof t.parameter);
    at += t.size;  // at most a block
  }
  *at++ = u':';
  line.Advance(room, static_cast<std::size_t>(at - room.at));
  // The components in the order they make up the value (an address's first
  // six reads end in ";").
  AppendComponents<kKind>(c, slot, line, std::make_integer_sequence<int, kKind.components>());
  line.append(kLineEnd);
  line.Commit();
  return kOk;
}

}  // namespace qv_VCard::writer

#endif
