// N, FN, BDAY and ORG.
#include "card/reads.hpp"

namespace qv_VCard::writer {

using reads::AppendRead;
using reads::ReadIsEmpty;

Status BuildNameLine(const qvVCard& c, CardText& card) {
  // The first four reads already end in ";".
  WriteLine(card, [&](auto& line) QV_VCARD_LINE_INLINE {
    line.append(lines::kName);
    AppendRead(c, Property::NameFamily, line);
    AppendRead(c, Property::NameGiven, line);
    AppendRead(c, Property::NameAdditional, line);
    AppendRead(c, Property::NamePrefix, line);
    AppendRead(c, Property::NameSuffix, line);
    line.append(kLineEnd);
  });
  return kOk;
}

Status BuildFormattedNameLine(const qvVCard& c, CardText& card) {
  WriteLine(card, [&](auto& line) QV_VCARD_LINE_INLINE {
    line.append(lines::kFormattedName);
    AppendRead(c, Property::FormatedName, line);
    line.append(kLineEnd);
  });
  return kOk;
}

Status BuildBirthdayLine(const qvVCard& c, CardText& card) {
  // A birthdate that reads as empty gives no line.
  if (ReadIsEmpty(c, Property::Birthdate)) return kOk;
  WriteLine(card, [&](auto& line) QV_VCARD_LINE_INLINE {
    line.append(lines::kBirthday);
    AppendRead(c, Property::Birthdate, line);
    line.append(kLineEnd);
  });
  return kOk;
}

Status BuildOrganizationLine(const qvVCard& c, CardText& card) {
  // Name, then unit, each read onto the line; there is no line when both
  // read as empty.
  if (ReadIsEmpty(c, Property::OrgName) && ReadIsEmpty(c, Property::OrgUnit)) return kOk;
  WriteLine(card, [&](auto& line) QV_VCARD_LINE_INLINE {
    line.append(lines::kOrganization);
    AppendRead(c, Property::OrgName, line);
    line.push_back(u';');
    AppendRead(c, Property::OrgUnit, line);
    line.append(kLineEnd);
  });
  return kOk;
}

}  // namespace qv_VCard::writer
