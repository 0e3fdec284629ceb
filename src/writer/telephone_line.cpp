// TEL lines of the four telephone slots.
#include "card/record.hpp"
#include "writer/line_text.hpp"

namespace qv_VCard {

using writer::IsSet;

namespace {

struct TypeParameter {
  Property flag;  // slot 1's flag
  std::u16string_view text;
};

// Type flags in the order their parameters are written: PREF first, WORK
// before HOME.
constexpr TypeParameter kTelephoneTypes[] = {
    {Property::Tel1_Pref, u";TYPE=PREF"},   {Property::Tel1_Work, u";TYPE=WORK"},
    {Property::Tel1_Home, u";TYPE=HOME"},   {Property::Tel1_Voice, u";TYPE=VOICE"},
    {Property::Tel1_Fax, u";TYPE=FAX"},     {Property::Tel1_Msg, u";TYPE=MSG"},
    {Property::Tel1_Cell, u";TYPE=CELL"},   {Property::Tel1_Pager, u";TYPE=PAGER"},
    {Property::Tel1_BBS, u";TYPE=BBS"},     {Property::Tel1_Modem, u";TYPE=MODEM"},
    {Property::Tel1_Car, u";TYPE=CAR"},     {Property::Tel1_Isdn, u";TYPE=ISDN"},
    {Property::Tel1_Video, u";TYPE=VIDEO"},
};

}  // namespace

Status qvVCard::BuildTelephoneLine(int slot, Text& card) const {
  if (slot < 1 || slot > 4) return kInvalidArg;
  const auto in_slot = [slot](Property p) {
    return record::InSlot(p, slot, record::kTelephoneSlotSize);
  };
  const std::size_t start = card.size();
  card.append(u"TEL");
  bool any = false;
  for (const TypeParameter& t : kTelephoneTypes) {
    if (IsSet(ReadValue(in_slot(t.flag)))) {
      card.append(t.text);
      any = true;
    }
  }
  if (!any) {  // a number without a type is left off the card
    card.resize(start);
    return kOk;
  }
  card.push_back(u':');
  writer::AppendValue(card, ReadText(in_slot(Property::Tel1_Number)));
  card.append(writer::kLineEnd);
  return kOk;
}

}  // namespace qv_VCard
