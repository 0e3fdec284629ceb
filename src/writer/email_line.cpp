// EMAIL lines of the three e-mail slots.
#include "card/record.hpp"
#include "writer/line_text.hpp"

namespace qv_VCard {

Status qvVCard::BuildEmailLine(int slot, Text& card) const {
  if (slot < 1 || slot > 3) return kInvalidArg;
  const auto in_slot = [slot](Property p) {
    return record::InSlot(p, slot, record::kEmailSlotSize);
  };
  // Reads in the order type, preference, address; the line is written
  // exactly when the address is not empty.
  const std::size_t start = card.size();
  card.append(u"EMAIL;TYPE=");
  const std::u16string_view type = ReadText(in_slot(Property::Email1_Type));
  if (type.empty()) {
    card.append(u"INTERNET");
  } else {
    writer::AppendValue(card, type);
  }
  if (writer::IsSet(ReadValue(in_slot(Property::Email1_Pref)))) card.append(u";TYPE=PREF");
  const std::u16string_view address = ReadText(in_slot(Property::Email1_Value));
  if (address.empty()) {
    card.resize(start);
    return kOk;
  }
  card.push_back(u':');
  writer::AppendValue(card, address);
  card.append(writer::kLineEnd);
  return kOk;
}

}  // namespace qv_VCard
