// N, FN, BDAY and ORG, and the lines of the eight free-text properties.
#include "card/reads.hpp"

namespace qv_VCard {

using writer::kLineEnd;

Status qvVCard::BuildNameLine(CardText& card) const {
  // The first four reads already end in ";".
  card.append(u"N:");
  AppendValueRead(Property::NameFamily, card);
  AppendValueRead(Property::NameGiven, card);
  AppendValueRead(Property::NameAdditional, card);
  AppendValueRead(Property::NamePrefix, card);
  AppendValueRead(Property::NameSuffix, card);
  card.append(kLineEnd);
  return kOk;
}

Status qvVCard::BuildFormattedNameLine(CardText& card) const {
  card.append(u"FN:");
  AppendValueRead(Property::FormatedName, card);
  card.append(kLineEnd);
  return kOk;
}

Status qvVCard::BuildBirthdayLine(CardText& card) const {
  // A birthdate that reads as empty gives no line.
  if (ReadIsEmpty(Property::Birthdate)) return kOk;
  card.append(u"BDAY:");
  AppendValueRead(Property::Birthdate, card);
  card.append(kLineEnd);
  return kOk;
}

Status qvVCard::BuildOrganizationLine(CardText& card) const {
  // Name, then unit, each read onto the line; there is no line when both
  // read as empty.
  if (ReadIsEmpty(Property::OrgName) && ReadIsEmpty(Property::OrgUnit)) return kOk;
  card.append(u"ORG:");
  AppendValueRead(Property::OrgName, card);
  card.push_back(u';');
  AppendValueRead(Property::OrgUnit, card);
  card.append(kLineEnd);
  return kOk;
}

}  // namespace qv_VCard
