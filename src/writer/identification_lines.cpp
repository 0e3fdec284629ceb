// N, FN, BDAY and ORG.
#include "card/reads.hpp"

namespace qv_VCard::writer {

using reads::AppendRead;
using reads::ReadIsEmpty;

Status BuildNameLine(const qvVCard& c, CardText& card) {
  // The first four reads already end in ";".
  Cursor line(card);
  line.append(lines::kName);
  AppendRead(c, Property::NameFamily, line);
  AppendRead(c, Property::NameGiven, line);
  AppendRead(c, Property::NameAdditional, line);
  AppendRead(c, Property::NamePrefix, line);
  AppendRead(c, Property::NameSuffix, line);
  line.append(kLineEnd);
  line.Commit();
  return kOk;
}

Status BuildFormattedNameLine(const qvVCard& c, CardText& card) {
  Cursor line(card);
  line.append(lines::kFormattedName);
  AppendRead(c, Property::FormatedName, line);
  line.append(kLineEnd);
  line.Commit();
  return kOk;
}

Status BuildBirthdayLine(const qvVCard& c, CardText& card) {
  // A birthdate that reads as empty gives no line.
  if (ReadIsEmpty(c, Property::Birthdate)) return kOk;
  Cursor line(card);
  line.append(lines::kBirthday);
  AppendRead(c, Property::Birthdate, line);
  line.append(kLineEnd);
  line.Commit();
  return kOk;
}

Status BuildOrganizationLine(const qvVCard& c, CardText& card) {
  // Name, then unit, each read onto the line; there is no line when both
  // read as empty.
  if (ReadIsEmpty(c, Property::OrgName) && ReadIsEmpty(c, Property::OrgUnit)) return kOk;
  Cursor line(card);
  line.append(lines::kOrganization);
  AppendRead(c, Property::OrgName, line);
  line.push_back(u';');
  AppendRead(c, Property::OrgUnit, line);
  line.append(kLineEnd);
  line.Commit();
  return kOk;
}

}  // namespace qv_VCard::writer
