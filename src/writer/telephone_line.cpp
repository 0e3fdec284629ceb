// TEL lines of the four telephone slots.
#include <bit>
#include <iterator>

#include "card/reads.hpp"

namespace qv_VCard {

using writer::IsSet;

namespace {

using writer::MakeTypeParameter;

// Type flags in the order their parameters are written: PREF first, WORK
// before HOME.
constexpr writer::TypeParameter kTelephoneTypes[] = {
    MakeTypeParameter(Property::Tel1_Pref, u";TYPE=PREF"),
    MakeTypeParameter(Property::Tel1_Work, u";TYPE=WORK"),
    MakeTypeParameter(Property::Tel1_Home, u";TYPE=HOME"),
    MakeTypeParameter(Property::Tel1_Voice, u";TYPE=VOICE"),
    MakeTypeParameter(Property::Tel1_Fax, u";TYPE=FAX"),
    MakeTypeParameter(Property::Tel1_Msg, u";TYPE=MSG"),
    MakeTypeParameter(Property::Tel1_Cell, u";TYPE=CELL"),
    MakeTypeParameter(Property::Tel1_Pager, u";TYPE=PAGER"),
    MakeTypeParameter(Property::Tel1_BBS, u";TYPE=BBS"),
    MakeTypeParameter(Property::Tel1_Modem, u";TYPE=MODEM"),
    MakeTypeParameter(Property::Tel1_Car, u";TYPE=CAR"),
    MakeTypeParameter(Property::Tel1_Isdn, u";TYPE=ISDN"),
    MakeTypeParameter(Property::Tel1_Video, u";TYPE=VIDEO"),
};

// The flags follow one another in the table in the order of their
// parameters, and the words ReadFlagBits reads for the last slot stay inside
// the stored values.
constexpr bool FlagsInParameterOrder() {
  for (std::size_t i = 0; i < std::size(kTelephoneTypes); ++i) {
    if (kTelephoneTypes[i].flag !=
        static_cast<Property>(static_cast<int>(Property::Tel1_Pref) + static_cast<int>(i)))
      return false;
  }
  return true;
}
static_assert(FlagsInParameterOrder());
static_assert(record::FieldOf(record::InSlot(Property::Tel1_Pref, 4, record::kTelephoneSlotSize)) +
                  (std::size(kTelephoneTypes) + 7) / 8 * 8 <=
              record::kValueFieldCount);

}  // namespace

Status qvVCard::BuildTelephoneLine(int slot, CardText& card) const {
  if (slot < 1 || slot > 4) return kInvalidArg;
  const auto in_slot = [slot](Property p) {
    return record::InAlikeSlot(p, slot, record::kTelephoneSlotSize);
  };
  // A number without a type is left off the card. The flags are read
  // first, then the parameters of those set are written in table order.
  unsigned set = ReadFlagBits(in_slot(Property::Tel1_Pref), std::size(kTelephoneTypes));
  if (set == 0) return kOk;
  writer::LineWriter line(card);
  line.append(u"TEL");
  for (; set != 0; set &= set - 1) {
    writer::AppendTypeParameter(line, kTelephoneTypes[std::countr_zero(set)]);
  }
  line.push_back(u':');
  AppendValueRead(in_slot(Property::Tel1_Number), line);
  line.append(writer::kLineEnd);
  line.Commit();
  return kOk;
}

}  // namespace qv_VCard
