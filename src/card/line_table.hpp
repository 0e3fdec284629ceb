// The content lines of a card, beside the property table: the names that
// begin them, the type parameters of the lines whose types are flags, and
// the part each text property plays in its line's value. The writer, the
// adapters (which escape values for card readers) and the fuzz model all
// read these tables; nobody writes the texts again.
#ifndef QV_VCARD_CARD_LINE_TABLE_HPP
#define QV_VCARD_CARD_LINE_TABLE_HPP

#include <cstdint>
#include <string_view>

#include "card/record.hpp"

namespace qv_VCard::lines {

// The eight properties whose read is their whole content line, and the text
// that begins it.
struct TextLine {
  Property property;
  std::u16string_view prefix;
};
inline constexpr TextLine kTextLines[] = {
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

// The names of the lines the builders write.
inline constexpr std::u16string_view kName = u"N:";
inline constexpr std::u16string_view kFormattedName = u"FN:";
inline constexpr std::u16string_view kBirthday = u"BDAY:";
inline constexpr std::u16string_view kOrganization = u"ORG:";
inline constexpr std::u16string_view kAddress = u"ADR";
inline constexpr std::u16string_view kTelephone = u"TEL";
inline constexpr std::u16string_view kEmail = u"EMAIL";
inline constexpr std::u16string_view kGeo = u"GEO:";
inline constexpr std::u16string_view kRevision = u"REV:";
inline constexpr std::u16string_view kUid = u"UID:";
inline constexpr std::u16string_view kProductId = u"PRODID:";
inline constexpr std::u16string_view kTypeParameter = u";TYPE=";
inline constexpr std::u16string_view kInternetType = u"INTERNET";
inline constexpr std::u16string_view kPreferredType = u"PREF";

// A type flag of slot 1 and the parameter it adds (";TYPE=WORK"), kept in a
// block of fixed size so that the writer copies it whole.
struct TypeFlag {
  static constexpr std::size_t kBlock = 16;
  Property flag;
  char16_t parameter[kBlock];
  std::uint8_t size;

  constexpr TypeFlag(Property f, std::u16string_view type) : flag(f), parameter{}, size(0) {
    constexpr std::u16string_view kPrefix = u";TYPE=";
    for (char16_t ch : kPrefix) parameter[size++] = ch;
    for (char16_t ch : type) parameter[size++] = ch;
  }
  constexpr std::u16string_view text() const { return {parameter, size}; }
  constexpr std::u16string_view type() const { return text().substr(6); }
};

// A line whose types are flags: its name, its flags in the order their
// parameters are written, and its value, the reads of `components`
// properties from `first_component` on.
struct FlagTypedLine {
  std::u16string_view name;
  const TypeFlag* types;
  int type_count;
  Property first_component;  // of slot 1
  int components;
  int slot_size;
  int slots;
};

inline constexpr TypeFlag kAddressTypes[] = {
    {Property::Adr1_Dom, u"DOM"},       {Property::Adr1_Intl, u"INTL"},
    {Property::Adr1_Postal, u"POSTAL"}, {Property::Adr1_Parcel, u"PARCEL"},
    {Property::Adr1_Home, u"HOME"},     {Property::Adr1_Work, u"WORK"},
};
// PREF first, WORK before HOME: the order of the flags on the card object.
inline constexpr TypeFlag kTelephoneTypes[] = {
    {Property::Tel1_Pref, u"PREF"},   {Property::Tel1_Work, u"WORK"},
    {Property::Tel1_Home, u"HOME"},   {Property::Tel1_Voice, u"VOICE"},
    {Property::Tel1_Fax, u"FAX"},     {Property::Tel1_Msg, u"MSG"},
    {Property::Tel1_Cell, u"CELL"},   {Property::Tel1_Pager, u"PAGER"},
    {Property::Tel1_BBS, u"BBS"},     {Property::Tel1_Modem, u"MODEM"},
    {Property::Tel1_Car, u"CAR"},     {Property::Tel1_Isdn, u"ISDN"},
    {Property::Tel1_Video, u"VIDEO"},
};

inline constexpr FlagTypedLine kAddressLine = {
    kAddress, kAddressTypes, 6, Property::Adr1_PostOffice, 7, record::kAddressSlotSize, 3};
inline constexpr FlagTypedLine kTelephoneLine = {
    kTelephone, kTelephoneTypes, 13, Property::Tel1_Number, 1, record::kTelephoneSlotSize, 4};

// What a line's table promises the builder: the flags of each slot follow
// one another in the order of their parameters, and the components too.
constexpr bool InWritingOrder(const FlagTypedLine& line) {
  for (int i = 0; i < line.type_count; ++i) {
    if (line.types[i].flag != static_cast<Property>(static_cast<int>(line.types[0].flag) + i)) {
      return false;
    }
  }
  return line.type_count <= 16 &&
         record::SlotsAlike(line.first_component, line.slots, line.slot_size);
}
static_assert(InWritingOrder(kAddressLine) && InWritingOrder(kTelephoneLine));

// The part a text property plays in the value of its line, which decides
// what card readers take as structure in it.
enum class ValueRole : std::uint8_t {
  Component,  // of a structured value (N, ADR, ORG): ";" and "," separate
  Text,       // a single text (FN, NOTE, TITLE, ROLE, SORT-STRING): "," and ";" are text
  ListItems,  // a comma-separated list (CATEGORIES, NICKNAME)
  Verbatim,   // URL, TZ, BDAY, numbers, e-mail addresses and types, hemispheres
};

constexpr ValueRole RoleOf(Property p) {
  switch (p) {
    case Property::NameFamily:
    case Property::NameGiven:
    case Property::NameAdditional:
    case Property::NamePrefix:
    case Property::NameSuffix:
    case Property::OrgName:
    case Property::OrgUnit:
      return ValueRole::Component;
    case Property::FormatedName:
    case Property::SortString:
    case Property::Title:
    case Property::Role:
    case Property::Note:
      return ValueRole::Text;
    case Property::Categorie:
    case Property::Nickname:
      return ValueRole::ListItems;
    default:
      break;
  }
  // The seven text components of every address slot.
  const int offset = static_cast<int>(p) - static_cast<int>(kAddressLine.first_component);
  if (offset >= 0 && offset < kAddressLine.slot_size * kAddressLine.slots &&
      offset % kAddressLine.slot_size < kAddressLine.components) {
    return ValueRole::Component;
  }
  return ValueRole::Verbatim;
}
static_assert(RoleOf(Property::Adr3_Country) == ValueRole::Component);
static_assert(RoleOf(Property::Adr3_Dom) == ValueRole::Verbatim);
static_assert(RoleOf(Property::Tel1_Number) == ValueRole::Verbatim);

}  // namespace qv_VCard::lines

#endif
