// N, FN, BDAY and ORG, and the lines of the eight free-text properties.
#include "card/record.hpp"
#include "writer/line_text.hpp"

namespace qv_VCard {

using writer::AppendValue;
using writer::kLineEnd;

namespace {

struct TextLine {
  Property property;
  std::u16string_view prefix;
};

// The line-returning properties and the name of the line each returns.
constexpr TextLine kTextLines[] = {
    {Property::SortString, u"SORT-STRING:"},
    {Property::Nickname, u"NICKNAME:"},
    {Property::Categorie, u"CATEGORIES:"},
    {Property::TimeZone, u"TZ:"},
    {Property::Title, u"TITLE:"},
    {Property::Role, u"ROLE:"},
    {Property::Note, u"NOTE:"},
    {Property::Url, u"URL:"},
};

constexpr std::u16string_view PrefixOf(Property p) {
  for (const TextLine& t : kTextLines) {
    if (t.property == p) return t.prefix;
  }
  return {};
}

}  // namespace

Status qvVCard::BuildTextLine(Property p, Text& card) const {
  // These reads return the line itself, so the stored text is taken from
  // the field, as the getter does.
  const Text& stored = texts_[record::FieldOf(p)];
  if (stored.empty()) return kOk;
  card.append(PrefixOf(p));
  AppendValue(card, stored);
  card.append(kLineEnd);
  return kOk;
}

Status qvVCard::BuildNameLine(Text& card) const {
  // The first four reads already end in ";".
  card.append(u"N:");
  AppendValue(card, ReadText(Property::NameFamily));
  AppendValue(card, ReadText(Property::NameGiven));
  AppendValue(card, ReadText(Property::NameAdditional));
  AppendValue(card, ReadText(Property::NamePrefix));
  AppendValue(card, ReadText(Property::NameSuffix));
  card.append(kLineEnd);
  return kOk;
}

Status qvVCard::BuildFormattedNameLine(Text& card) const {
  card.append(u"FN:");
  AppendValue(card, ReadText(Property::FormatedName));
  card.append(kLineEnd);
  return kOk;
}

Status qvVCard::BuildBirthdayLine(Text& card) const {
  const std::u16string_view birthdate = ReadText(Property::Birthdate);
  if (birthdate.empty()) return kOk;
  card.append(u"BDAY:");
  AppendValue(card, birthdate);
  card.append(kLineEnd);
  return kOk;
}

Status qvVCard::BuildOrganizationLine(Text& card) const {
  // Both parts go through the one scratch buffer: read the unit after the
  // name has been written, and take the name back out if the unit shows
  // that the line is not written after all.
  const std::size_t start = card.size();
  const std::u16string_view name = ReadText(Property::OrgName);
  const bool has_name = !name.empty();
  card.append(u"ORG:");
  AppendValue(card, name);
  card.push_back(u';');
  const std::u16string_view unit = ReadText(Property::OrgUnit);
  if (!has_name && unit.empty()) {
    card.resize(start);
    return kOk;
  }
  AppendValue(card, unit);
  card.append(kLineEnd);
  return kOk;
}

}  // namespace qv_VCard
