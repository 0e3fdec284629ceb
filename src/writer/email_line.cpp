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
  writer::LineWriter line(card);
  line.append(u"EMAIL;TYPE=");
  const std::size_t value = line.size();
  AppendValueRead(in_slot(Property::Email1_Type), line);
  if (line.size() == value) line.append(u"INTERNET");
  if (writer::IsSet(ReadValue(in_slot(Property::Email1_Pref)))) line.append(u";TYPE=PREF");
  line.push_back(u':');
  AppendValueRead(in_slot(Property::Email1_Value), line);
  line.append(writer::kLineEnd);
  line.Commit();
  return kOk;
}

}  // namespace qv_VCard
