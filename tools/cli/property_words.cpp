#include "cli/property_words.hpp"

#include <cstdio>
#include <string_view>

#include "card/slot_table.hpp"
#include "input/values.hpp"

namespace qvvcard {

namespace {

using qv_VCard::Property;
namespace slots = qv_VCard::slots;

struct Words {
  Property property;
  const char* holds;
};

// The properties outside the slots.
constexpr Words kWords[] = {
    {Property::NameFamily, "the family name (N)"},
    {Property::NameGiven, "the given name (N)"},
    {Property::NameAdditional, "middle names (N)"},
    {Property::NamePrefix, "a title before the name: Dr., Ms. (N)"},
    {Property::NameSuffix, "what follows the name: Jr., PhD (N)"},
    {Property::FormatedName, "the name as shown (FN); made from the name's parts when empty"},
    {Property::SortString, "what address books sort the card by (SORT-STRING)"},
    {Property::Nickname, "nicknames, separated by commas (NICKNAME)"},
    {Property::Birthdate, "the birthday, such as 1980-04-01 (BDAY)"},
    {Property::OrgName, "the organisation (ORG)"},
    {Property::OrgUnit, "its department (ORG)"},
    {Property::Title, "the job title (TITLE)"},
    {Property::Role, "the role, such as Coordinator (ROLE)"},
    {Property::GeoLat, "the latitude's hemisphere: N or S (GEO)"},
    {Property::GeoLatDeg, "the latitude's degrees, 0 to 90 (GEO)"},
    {Property::GeoLatMin, "the latitude's minutes (GEO)"},
    {Property::GeoLatSec, "the latitude's seconds (GEO)"},
    {Property::GeoLon, "the longitude's hemisphere: E or W (GEO)"},
    {Property::GeoLonDeg, "the longitude's degrees, 0 to 180 (GEO)"},
    {Property::GeoLonMin, "the longitude's minutes (GEO)"},
    {Property::GeoLonSec, "the longitude's seconds (GEO)"},
    {Property::Note, "a note; may hold several lines (NOTE)"},
    {Property::Url, "a web site (URL)"},
    {Property::Categorie, "categories, separated by commas (CATEGORIES)"},
    {Property::TimeZone, "the time zone, such as -05:00 (TZ)"},
};

constexpr const char* kAddressParts[] = {
    "post office box", "extended address (flat, suite)", "street",
    "locality (town)", "region (state, province)",       "postal code",
    "country"};
static_assert(std::size(kAddressParts) == slots::kAddressParts);

std::string Narrow(std::u16string_view ascii) { return std::string(ascii.begin(), ascii.end()); }

}  // namespace

const char* KindWord(qv_VCard::Kind kind) {
  switch (kind) {
    case qv_VCard::Kind::Text:
      return "text";
    case qv_VCard::Kind::Flag:
      return "flag";
    case qv_VCard::Kind::Int16:
      break;
  }
  return "number";
}

std::string WhatItHolds(Property p) {
  for (const Words& w : kWords) {
    if (w.property == p) return w.holds;
  }
  const auto place = slots::PlaceOf(p);
  if (!place) return {};
  const std::string n = std::to_string(place->number);
  switch (place->kind) {
    case slots::SlotKind::Address:
      if (place->offset < slots::kAddressParts) {
        return "address " + n + ": " + kAddressParts[place->offset] + " (ADR)";
      }
      return "address " + n + " has the type " +
             Narrow(slots::TypeWord(
                 static_cast<slots::AddressType>(place->offset - slots::kAddressParts)));
    case slots::SlotKind::Telephone:
      if (place->offset == 0) {
        return "telephone " + n + ": the number (TEL); written once a type flag is set";
      }
      return "telephone " + n + " has the type " +
             Narrow(slots::TypeWord(static_cast<slots::TelType>(place->offset - 1)));
    case slots::SlotKind::Email:
      if (p == slots::EmailValue(place->number)) return "e-mail address " + n + " (EMAIL)";
      if (p == slots::EmailType(place->number)) {
        return "e-mail address " + n + ": its types, such as INTERNET,WORK";
      }
      return "e-mail address " + n + " is the preferred one";
  }
  return {};
}

std::string PropertyTable() {
  std::string out;
  char line[256];
  std::snprintf(line, sizeof line, "%-16s %-7s %s\n", "PROPERTY", "KIND", "HOLDS");
  out += line;
  for (const qv_VCard::PropertyInfo& info : qv_VCard::Properties()) {
    std::snprintf(line, sizeof line, "%-16s %-7s %s\n", info.name, KindWord(info.kind),
                  WhatItHolds(info.property).c_str());
    out += line;
  }
  std::snprintf(line, sizeof line, "%-16s %-7s %s\n", std::string(kGeoField).c_str(), "text",
                "a position in decimal degrees, \"40.4168,-3.7038\": set into the Geo "
                "properties above (a field of input, not of the card)");
  out += line;
  out +=
      "\nNames are matched in any case. Flags take true, false, yes, no, 1 or 0; numbers are "
      "16-bit integers.\n";
  return out;
}

std::string ColumnMapTemplate() {
  using slots::Address;
  using slots::AddressPart;
  using slots::AddressType;
  using slots::Tel;
  using slots::TelNumber;
  using slots::TelType;
  const auto name = [](Property p) { return std::string(qv_VCard::Info(p).name); };
  struct Column {
    const char* column;
    std::string fills;
  };
  const Column columns[] = {
      {"First Name", name(Property::NameGiven)},
      {"Last Name", name(Property::NameFamily)},
      {"Company", name(Property::OrgName)},
      {"Job Title", name(Property::Title)},
      {"Mobile", name(TelNumber(1)) + ", " + name(Tel(1, TelType::Cell)) + "=true"},
      {"Work Phone", name(TelNumber(2)) + ", " + name(Tel(2, TelType::Work)) + "=true, " +
                         name(Tel(2, TelType::Voice)) + "=true"},
      {"Home Phone", name(TelNumber(3)) + ", " + name(Tel(3, TelType::Home)) + "=true"},
      {"E-mail", name(slots::EmailValue(1))},
      {"Street", name(Address(1, AddressPart::Street)) + ", " +
                     name(Address(1, AddressType::Home)) + "=true"},
      {"City", name(Address(1, AddressPart::Locality))},
      {"Postcode", name(Address(1, AddressPart::PostalCode))},
      {"Country", name(Address(1, AddressPart::Country))},
      {"Birthday", name(Property::Birthdate)},
      {"Website", name(Property::Url)},
      {"Notes", name(Property::Note)},
      {"Photo", ""},
  };
  std::string out =
      "# A column map for qvvcard batch --columns FILE, one line per column of the\n"
      "# CSV header:\n"
      "#   Column name = Property[, Property=VALUE ...]\n"
      "# The column name is matched in any case; the assignments after the first are\n"
      "# made when the column is not empty (a telephone number or an address needs a\n"
      "# type flag). Nothing after \"=\" leaves the column out on purpose. Rename the\n"
      "# columns below to those of your header and delete the lines you do not need;\n"
      "# \"qvvcard properties\" lists every property.\n";
  for (const Column& c : columns) {
    out += c.column;
    out += c.fills.empty() ? " =\n" : " = " + c.fills + "\n";
  }
  return out;
}

}  // namespace qvvcard
