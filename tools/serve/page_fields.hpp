// The words of the page's form: one row per field, naming its property,
// its box, what kind of input it takes, whether it is common enough to show
// at once, its label and its hint. A box of slots (phones, e-mail
// addresses, addresses) has the rows of its first slot; page.cpp repeats
// them for every slot of the record's layout, so every property has one
// field and the page never lists them by hand.
#ifndef QVVCARD_SERVE_PAGE_FIELDS_HPP
#define QVVCARD_SERVE_PAGE_FIELDS_HPP

#include <cstdint>
#include <optional>
#include <string_view>

#include "card/record.hpp"
#include "card/slot_table.hpp"
#include "qv_vcard/qvVCard.hpp"

namespace qvvcard::page {

// The boxes of the form, in the order they are shown.
enum class Box : std::uint8_t { Name, Organisation, Phone, Email, Address, Note, Other, Position };

enum class Input : std::uint8_t {
  Text,
  Area,       // several lines
  Tel,        // a telephone number: warned of when it holds no digit
  Email,      // an e-mail address: warned of without "@"
  Url,        // a web address
  Date,       // a date as text: warned of when it is none
  Number,     // a whole number (degrees, minutes, seconds)
  Check,      // a flag
  Latitude,   // a hemisphere, north or south; starts the latitude's fields
  Longitude,  // a hemisphere, east or west; starts the longitude's fields
};

// Common fields show at once; the others wait behind "more" in their box.
enum class Tier : std::uint8_t { Common, More };

struct FieldRow {
  Box box;
  qv_VCard::Property property;  // slot 1's in a box of slots
  Input input;
  Tier tier;
  std::string_view label;
  std::string_view hint = {};
  bool wide = false;  // as wide as its box (e-mail addresses, web sites and notes always are)
};

using qv_VCard::Property;
using qv_VCard::slots::Address;
using qv_VCard::slots::AddressPart;
using qv_VCard::slots::AddressType;
using qv_VCard::slots::EmailPref;
using qv_VCard::slots::EmailType;
using qv_VCard::slots::EmailValue;
using qv_VCard::slots::SlotKind;
using qv_VCard::slots::Tel;
using qv_VCard::slots::TelNumber;
using qv_VCard::slots::TelType;
inline constexpr Tier C = Tier::Common;
inline constexpr Tier M = Tier::More;

// Within a box, rows stand in the order shown.
inline constexpr FieldRow kFieldRows[] = {
    // clang-format off
    {Box::Name, Property::NameGiven, Input::Text, C, "Given name"},
    {Box::Name, Property::NameFamily, Input::Text, C, "Family name"},
    {Box::Name, Property::NameAdditional, Input::Text, M, "Middle names"},
    {Box::Name, Property::NamePrefix, Input::Text, M, "Title before the name", "Dr., Ms., Prof."},
    {Box::Name, Property::NameSuffix, Input::Text, M, "After the name", "Jr., PhD"},
    {Box::Name, Property::FormatedName, Input::Text, M, "Name as shown", "Leave it empty to use the parts above"},
    {Box::Name, Property::Nickname, Input::Text, M, "Nicknames", "Separate them with commas"},
    {Box::Name, Property::SortString, Input::Text, M, "Sort under", "What address books sort the card by"},

    {Box::Organisation, Property::OrgName, Input::Text, C, "Name"},
    {Box::Organisation, Property::Title, Input::Text, C, "Job title"},
    {Box::Organisation, Property::OrgUnit, Input::Text, M, "Department"},
    {Box::Organisation, Property::Role, Input::Text, M, "Role", "What the person does, such as Coordinator"},

    {Box::Phone, TelNumber(1), Input::Tel, C, "Number"},
    {Box::Phone, Tel(1, TelType::Cell), Input::Check, C, "Mobile"},
    {Box::Phone, Tel(1, TelType::Home), Input::Check, C, "Home"},
    {Box::Phone, Tel(1, TelType::Work), Input::Check, C, "Work"},
    {Box::Phone, Tel(1, TelType::Fax), Input::Check, C, "Fax"},
    {Box::Phone, Tel(1, TelType::Voice), Input::Check, M, "Voice"},
    {Box::Phone, Tel(1, TelType::Pref), Input::Check, M, "Preferred"},
    {Box::Phone, Tel(1, TelType::Msg), Input::Check, M, "Messages"},
    {Box::Phone, Tel(1, TelType::Pager), Input::Check, M, "Pager"},
    {Box::Phone, Tel(1, TelType::Video), Input::Check, M, "Video"},
    {Box::Phone, Tel(1, TelType::Car), Input::Check, M, "Car"},
    {Box::Phone, Tel(1, TelType::Isdn), Input::Check, M, "ISDN"},
    {Box::Phone, Tel(1, TelType::Modem), Input::Check, M, "Modem"},
    {Box::Phone, Tel(1, TelType::Bbs), Input::Check, M, "Bulletin board"},

    {Box::Email, EmailValue(1), Input::Email, C, "Address"},
    {Box::Email, EmailPref(1), Input::Check, C, "Preferred"},
    {Box::Email, EmailType(1), Input::Text, M, "Kind", "For example INTERNET; may stay empty"},

    {Box::Address, Address(1, AddressPart::Street), Input::Text, C, "Street and number", {}, true},
    {Box::Address, Address(1, AddressPart::PostalCode), Input::Text, C, "Postal code"},
    {Box::Address, Address(1, AddressPart::Locality), Input::Text, C, "City"},
    {Box::Address, Address(1, AddressPart::Region), Input::Text, C, "Region or state"},
    {Box::Address, Address(1, AddressPart::Country), Input::Text, C, "Country"},
    {Box::Address, Address(1, AddressPart::Extended), Input::Text, M, "Apartment, floor, building"},
    {Box::Address, Address(1, AddressPart::PostOffice), Input::Text, M, "Post office box"},
    {Box::Address, Address(1, AddressType::Home), Input::Check, C, "Home"},
    {Box::Address, Address(1, AddressType::Work), Input::Check, C, "Work"},
    {Box::Address, Address(1, AddressType::Postal), Input::Check, C, "For letters"},
    {Box::Address, Address(1, AddressType::Parcel), Input::Check, M, "For parcels"},
    {Box::Address, Address(1, AddressType::Dom), Input::Check, M, "Domestic"},
    {Box::Address, Address(1, AddressType::Intl), Input::Check, M, "International"},

    {Box::Note, Property::Note, Input::Area, C, "Note"},

    {Box::Other, Property::Birthdate, Input::Date, C, "Birthday", "For example 1990-05-17"},
    {Box::Other, Property::Url, Input::Url, C, "Web site"},
    {Box::Other, Property::Categorie, Input::Text, C, "Categories", "Separate them with commas"},
    {Box::Other, Property::TimeZone, Input::Text, C, "Time zone", "For example -05:00"},

    {Box::Position, Property::GeoLat, Input::Latitude, C, "North or south"},
    {Box::Position, Property::GeoLatDeg, Input::Number, C, "Degrees"},
    {Box::Position, Property::GeoLatMin, Input::Number, C, "Minutes"},
    {Box::Position, Property::GeoLatSec, Input::Number, C, "Seconds"},
    {Box::Position, Property::GeoLon, Input::Longitude, C, "East or west"},
    {Box::Position, Property::GeoLonDeg, Input::Number, C, "Degrees"},
    {Box::Position, Property::GeoLonMin, Input::Number, C, "Minutes"},
    {Box::Position, Property::GeoLonSec, Input::Number, C, "Seconds"},
    // clang-format on
};

// The boxes, in the order shown. A common box shows at once, in one of
// three columns on a wide screen; the others are sections that open. A box of slots shows its first
// slot where the box stands and the others in a section of their own (more_title); a slot of a
// typed kind that has a value and no type flag gets default_flag (slot 1's) before it is sent, so
// that the card holds it: the type address-book exports give such values.
struct BoxRow {
  Box box;
  std::string_view id;                // of its element; a slot's adds its number ("phone2")
  std::string_view title;             // of slot 1 in a box of slots; slot 2 is "Phone 2"
  int column;                         // 1 to 3 for a common box; 0 for a section
  std::string_view more_label = {};   // what opens the box's texts of Tier::More
  std::string_view flags_label = {};  // what the box's flags say of it
  int slots = 1;
  SlotKind kind = {};
  int slot_size = 0;
  std::string_view slot_name = {};  // as the server names the slot, without its number
  std::optional<Property> default_flag = {};
  std::string_view more_title = {};
};

inline constexpr BoxRow kBoxRows[] = {
    {Box::Name, "name", "Name", 1, "More of the name"},
    {Box::Organisation, "organisation", "Organisation", 1, "Department and role"},
    {Box::Phone, "phone", "Phone", 2, "", "This number is", qv_VCard::slots::kTelephoneSlots,
     SlotKind::Telephone, qv_VCard::record::kTelephoneSlotSize, "Tel", Tel(1, TelType::Voice),
     "More phones"},
    {Box::Email,
     "email",
     "E-mail",
     2,
     "Kind of address",
     "This address is",
     qv_VCard::slots::kEmailSlots,
     SlotKind::Email,
     qv_VCard::record::kEmailSlotSize,
     "Email",
     {},
     "More e-mail addresses"},
    {Box::Address, "address", "Address", 3, "Apartment, post office box", "This address is",
     qv_VCard::slots::kAddressSlots, SlotKind::Address, qv_VCard::record::kAddressSlotSize, "Adr",
     Address(1, AddressType::Postal), "More addresses"},
    {Box::Note, "note", "Note", 3},
    {Box::Other, "other", "Birthday, web site and more", 0},
    {Box::Position, "position", "Position on the globe", 0},
};

// The decimal position: not a property, but the server's pseudo-field that
// stands for the position's eight properties ("40.4168,-3.7038").
inline constexpr std::string_view kDecimalName = "Geo";
inline constexpr std::string_view kDecimalLabel = "Position in decimal degrees";
inline constexpr std::string_view kDecimalHint =
    "Latitude, longitude, such as 40.4168, -3.7038 (south and west below zero); it takes the "
    "place of the fields below";

}  // namespace qvvcard::page

#endif
