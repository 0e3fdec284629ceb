// TEL lines of the four telephone slots.
#include "writer/flag_typed_line.hpp"

namespace qv_VCard::writer {

Status BuildTelephoneLine(const qvVCard& c, int slot, CardText& card) {
  return BuildFlagTypedLine<lines::kTelephoneLine>(c, slot, card);
}

}  // namespace qv_VCard::writer
