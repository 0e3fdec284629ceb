// ADR lines of the three address slots.
#include <bit>
#include <iterator>

#include "card/reads.hpp"

namespace qv_VCard {

using writer::IsSet;

namespace {

using writer::MakeTypeParameter;

// Type flags in the order their parameters are written.
constexpr writer::TypeParameter kAddressTypes[] = {
    MakeTypeParameter(Property::Adr1_Dom, u";TYPE=DOM"),
    MakeTypeParameter(Property::Adr1_Intl, u";TYPE=INTL"),
    MakeTypeParameter(Property::Adr1_Postal, u";TYPE=POSTAL"),
    MakeTypeParameter(Property::Adr1_Parcel, u";TYPE=PARCEL"),
    MakeTypeParameter(Property::Adr1_Home, u";TYPE=HOME"),
    MakeTypeParameter(Property::Adr1_Work, u";TYPE=WORK"),
};

// The flags follow one another in the table in the order of their
// parameters, and the words ReadFlagBits reads for the last slot stay inside
// the stored values.
constexpr bool FlagsInParameterOrder() {
  for (std::size_t i = 0; i < std::size(kAddressTypes); ++i) {
    if (kAddressTypes[i].flag !=
        static_cast<Property>(static_cast<int>(Property::Adr1_Dom) + static_cast<int>(i)))
      return false;
  }
  return true;
}
static_assert(FlagsInParameterOrder());
static_assert(record::FieldOf(record::InSlot(Property::Adr1_Dom, 3, record::kAddressSlotSize)) +
                  (std::size(kAddressTypes) + 7) / 8 * 8 <=
              record::kValueFieldCount);

}  // namespace

Status qvVCard::BuildAddressLine(int slot, CardText& card) const {
  if (slot < 1 || slot > 3) return kInvalidArg;
  const auto in_slot = [slot](Property p) {
    return record::InAlikeSlot(p, slot, record::kAddressSlotSize);
  };
  // The flags alone decide: no type, no line. They are read first, then
  // the parameters of those set are written in table order.
  unsigned set = ReadFlagBits(in_slot(Property::Adr1_Dom), std::size(kAddressTypes));
  if (set == 0) return kOk;
  writer::LineWriter line(card);
  line.append(u"ADR");
  for (; set != 0; set &= set - 1) {
    writer::AppendTypeParameter(line, kAddressTypes[std::countr_zero(set)]);
  }
  line.push_back(u':');
  // The components in the order they make up the value; the first six
  // reads end in ";".
  AppendValueRead(in_slot(Property::Adr1_PostOffice), line);
  AppendValueRead(in_slot(Property::Adr1_Extended), line);
  AppendValueRead(in_slot(Property::Adr1_Street), line);
  AppendValueRead(in_slot(Property::Adr1_Locality), line);
  AppendValueRead(in_slot(Property::Adr1_Region), line);
  AppendValueRead(in_slot(Property::Adr1_PostalCode), line);
  AppendValueRead(in_slot(Property::Adr1_Country), line);
  line.append(writer::kLineEnd);
  line.Commit();
  return kOk;
}

}  // namespace qv_VCard
