// A card read from a vCard file, as the properties of the card object:
// which value goes where, and which values have no place on it.
//
// The rules are those of the address-book exports. Telephones, e-mail
// addresses and addresses fill their slots in order, the preferred ones
// first (TYPE=PREF; 4.0's pref=1..100, lower first; then file order).
// Types become the slot's flags; a telephone without one is a voice
// number and an address without one a postal address, since the card
// writes those lines only with a type. In item groups ("item1.TEL" beside
// "item1.X-ABLabel:_$!<Mobile>!$_") the label gives the kind of its
// telephone, e-mail or address. Every value that finds no place is listed
// with the reason, one entry per property line; REV, PRODID, VERSION,
// PROFILE:VCARD and UID are no such values (the card writes its own), and
// the source's UID is handed back for callers that keep it.
//
// The texts of the result are views: of the card's own texts where a value
// is taken as it stands, of the result's store where it is made (unescaped,
// joined, a number). They stay valid while neither the card nor the result
// is read or mapped into again.
#ifndef QVVCARD_VCARD_MAPPING_HPP
#define QVVCARD_VCARD_MAPPING_HPP

#include <string>
#include <string_view>
#include <vector>

#include "input/vcard_reader.hpp"
#include "qv_vcard/qvVCard.hpp"

namespace qvvcard::vcf {

struct Assignment {
  qv_VCard::Property property;
  // UTF-8; flags as "true", integers in decimal, hemispheres as N, S, E, W.
  std::string_view value;
  // false: the text as typed, which the caller escapes for the card as it
  // does any text; true: in card form already (the lists CATEGORIES and
  // NICKNAME, whose items' own commas are escaped as "\,").
  bool escaped = false;
  // The line it came from, in the card mapped; SourceOf names it for
  // messages.
  const Line* line = nullptr;
};

// The name of a line for messages: "TEL", "item2.EMAIL".
std::string SourceOf(const Line& line);

struct Unplaced {
  std::string_view property;  // the line's name: "X-ABLABEL", "TEL"
  std::string_view reason;    // "no place on the card", "no telephone slot left"
};

struct Mapped {
  std::vector<Assignment> assignments;  // each property at most once
  std::vector<Unplaced> lost;           // in the order of their lines
  std::string_view uid;                 // the source's UID, unescaped; "" without one
  TextStore text;                       // what the texts made for the card point into
};

// The reasons a value finds no place.
inline constexpr const char* kNoPlace = "no place on the card";
inline constexpr const char* kNoTelephoneSlot = "no telephone slot left";
inline constexpr const char* kNoEmailSlot = "no e-mail slot left";
inline constexpr const char* kNoAddressSlot = "no address slot left";
inline constexpr const char* kNoWebsiteSlot = "no website slot left";
inline constexpr const char* kSecondValue = "a second one has no place on the card";
inline constexpr const char* kNotADate = "not a date the card can hold";
inline constexpr const char* kNotAPosition = "not a position the card can hold";
inline constexpr const char* kUnknownLabel = "a label with no place on the card";
inline constexpr const char* kUnknownType = "a type with no place on the card";
inline constexpr const char* kBase64 = "a value in BASE64, which has no place on the card";

// Maps card into out, whose vectors and store are reused.
void MapCard(const Card& card, Mapped& out);
Mapped MapCard(const Card& card);

// The plain route: the next card of ahead (the reader's Ahead, whose first
// line is line + 1) read and mapped at once when it and every line of it
// are of the plain forms (vcard_plain_route.cpp) and every value finds its
// place. Returns the bytes of ahead it took (lines: their lines), 0 for any
// other card, which the reader and MapCard then take. card holds the lines
// the assignments come from, as the reader would (without their
// parameters). uid false: the caller has no use for out.uid, which may
// then stay empty.
std::size_t MapPlainCard(std::string_view ahead, std::uint64_t line, const Limits& limits,
                         Card& card, Mapped& out, std::uint64_t& lines, bool uid = true);

// The next card of reader into card and, unless it has an error, mapped
// into out: by the plain route when it takes the card, by the reader and
// MapCard otherwise, with the same result (but out.uid, which may stay
// empty when uid is false). false when the input has no more cards.
bool ReadMapped(Reader& reader, Card& card, Mapped& out, bool uid = true);

// A birthday (YYYY-MM-DD, YYYYMMDD, --MMDD, --MM-DD, any of them with a
// time after "T") as the card writes it, YYYY-MM-DD or --MM-DD; false for
// anything else, impossible dates included.
bool BirthdayOf(std::string_view value, std::string& out);

}  // namespace qvvcard::vcf

#endif
