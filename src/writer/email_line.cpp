// EMAIL lines of the three e-mail slots.
#include "card/reads.hpp"

namespace qv_VCard {

Status qvVCard::BuildEmailLine(int slot, CardText& card) const {
  if (slot < 1 || slot > 3) return kInvalidArg;
  const auto in_slot = [slot](Property p) {
    return record::InAlikeSlot(p, slot, record::kEmailSlotSize);
  };
  // The line is written exactly when the address reads as not empty; then
  // its reads go onto it in the order type, preference, address.
  if (ReadIsEmpty(in_slot(Property::Email1_Value))) return kOk;
  card.append(u"EMAIL;TYPE=");
  const std::size_t value = card.size();
  AppendValueRead(in_slot(Property::Email1_Type), card);
  if (card.size() == value) card.append(u"INTERNET");
  if (writer::IsSet(ReadValue(in_slot(Property::Email1_Pref)))) card.append(u";TYPE=PREF");
  card.push_back(u':');
  AppendValueRead(in_slot(Property::Email1_Value), card);
  card.append(writer::kLineEnd);
  return kOk;
}

}  // namespace qv_VCard
