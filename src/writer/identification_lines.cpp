// N, FN, BDAY and ORG, and the lines of the eight free-text properties.
#include "card/reads.hpp"

namespace qv_VCard {

using writer::kLineEnd;
using writer::LineWriter;

Status qvVCard::BuildNameLine(CardText& card) const {
  // The first four reads already end in ";".
  LineWriter line(card);
  line.append(u"N:");
  AppendValueRead(Property::NameFamily, line);
  AppendValueRead(Property::NameGiven, line);
  AppendValueRead(Property::NameAdditional, line);
  AppendValueRead(Property::NamePrefix, line);
  AppendValueRead(Property::NameSuffix, line);
  line.append(kLineEnd);
  line.Commit();
  return kOk;
}

Status qvVCard::BuildFormattedNameLine(CardText& card) const {
  LineWriter line(card);
  line.append(u"FN:");
  AppendValueRead(Property::FormatedName, line);
  line.append(kLineEnd);
  line.Commit();
  return kOk;
}

Status qvVCard::BuildBirthdayLine(CardText& card) const {
  // A birthdate that reads as empty gives no line.
  if (ReadIsEmpty(Property::Birthdate)) return kOk;
  LineWriter line(card);
  line.append(u"BDAY:");
  AppendValueRead(Property::Birthdate, line);
  line.append(kLineEnd);
  line.Commit();
  return kOk;
}

Status qvVCard::BuildOrganizationLine(CardText& card) const {
  // Name, then unit, each read onto the line; there is no line when both
  // read as empty.
  if (ReadIsEmpty(Property::OrgName) && ReadIsEmpty(Property::OrgUnit)) return kOk;
  LineWriter line(card);
  line.append(u"ORG:");
  AppendValueRead(Property::OrgName, line);
  line.push_back(u';');
  AppendValueRead(Property::OrgUnit, line);
  line.append(kLineEnd);
  line.Commit();
  return kOk;
}

}  // namespace qv_VCard
