// ADR lines of the three address slots.
#include "card/record.hpp"
#include "writer/line_text.hpp"

namespace qv_VCard {

using writer::AppendValue;
using writer::IsSet;

namespace {

struct TypeParameter {
  Property flag;  // slot 1's flag
  std::u16string_view text;
};

// Type flags in the order their parameters are written.
constexpr TypeParameter kAddressTypes[] = {
    {Property::Adr1_Dom, u";TYPE=DOM"},       {Property::Adr1_Intl, u";TYPE=INTL"},
    {Property::Adr1_Postal, u";TYPE=POSTAL"}, {Property::Adr1_Parcel, u";TYPE=PARCEL"},
    {Property::Adr1_Home, u";TYPE=HOME"},     {Property::Adr1_Work, u";TYPE=WORK"},
};

// Components in the order they make up the value; the first six reads end
// in ";".
constexpr Property kAddressComponents[] = {
    Property::Adr1_PostOffice, Property::Adr1_Extended, Property::Adr1_Street,
    Property::Adr1_Locality,   Property::Adr1_Region,   Property::Adr1_PostalCode,
    Property::Adr1_Country,
};

}  // namespace

Status qvVCard::BuildAddressLine(int slot, Text& card) const {
  if (slot < 1 || slot > 3) return kInvalidArg;
  const auto in_slot = [slot](Property p) {
    return record::InSlot(p, slot, record::kAddressSlotSize);
  };
  const std::size_t start = card.size();
  card.append(u"ADR");
  bool any = false;
  for (const TypeParameter& t : kAddressTypes) {
    if (IsSet(ReadValue(in_slot(t.flag)))) {
      card.append(t.text);
      any = true;
    }
  }
  if (!any) {  // the flags alone decide: no type, no line
    card.resize(start);
    return kOk;
  }
  card.push_back(u':');
  for (Property c : kAddressComponents) AppendValue(card, ReadText(in_slot(c)));
  card.append(writer::kLineEnd);
  return kOk;
}

}  // namespace qv_VCard
