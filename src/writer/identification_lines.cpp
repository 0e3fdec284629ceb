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
  // The birthdate is read onto the line; an empty read takes the line back.
  const std::size_t start = card.size();
  card.append(u"BDAY:");
  const std::size_t value = card.size();
  AppendValueRead(Property::Birthdate, card);
  if (card.size() == value) {
    card.resize(start);
    return kOk;
  }
  card.append(kLineEnd);
  return kOk;
}

Status qvVCard::BuildOrganizationLine(CardText& card) const {
  // Name, then unit, each read onto the line; when both reads are empty the
  // line is taken back.
  const std::size_t start = card.size();
  card.append(u"ORG:");
  std::size_t value = card.size();
  AppendValueRead(Property::OrgName, card);
  const bool has_name = card.size() != value;
  card.push_back(u';');
  value = card.size();
  AppendValueRead(Property::OrgUnit, card);
  if (!has_name && card.size() == value) {
    card.resize(start);
    return kOk;
  }
  card.append(kLineEnd);
  return kOk;
}

}  // namespace qv_VCard
