// ADR lines of the three address slots.
#include "writer/flag_typed_line.hpp"

namespace qv_VCard::writer {

Status BuildAddressLine(const qvVCard& c, int slot, CardText& card) {
  return BuildFlagTypedLine<lines::kAddressLine>(c, slot, card);
}

}  // namespace qv_VCard::writer
