// What each property holds, in words, for "qvvcard properties" and the
// column-map template: the properties' own words stand in one table, those
// of the slots are made from the slot table (slot, part, type word).
#ifndef QVVCARD_CLI_PROPERTY_WORDS_HPP
#define QVVCARD_CLI_PROPERTY_WORDS_HPP

#include <string>

#include "qv_vcard/qvVCard.hpp"

namespace qvvcard {

// "the family name (N)", "telephone 2 has the type CELL".
std::string WhatItHolds(qv_VCard::Property p);
// "text", "flag" or "number".
const char* KindWord(qv_VCard::Kind kind);

// Every property, one line each: name, kind, what it holds, and a last
// line for the Geo field.
std::string PropertyTable();
// A column map to start from: comments on the format, then a line for each
// common column, each valid as it stands.
std::string ColumnMapTemplate();

}  // namespace qvvcard

#endif
