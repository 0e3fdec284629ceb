// The card document: header, the twenty-six body positions, footer.
#include <cstdint>
#include <limits>

#include "card/reads.hpp"

namespace qv_VCard {

namespace {
constexpr std::u16string_view kHeader = u"BEGIN:VCARD\r\nVERSION:3.0\r\nPROFILE:VCARD\r\n";
constexpr std::u16string_view kFooter = u"END:VCARD";

// Everything a card can hold besides its values, with room to spare. The
// longest case comes to 1,677 units: header 41; N 8; FN 8 (with the three
// blanks of a composed name); eight text lines of at most 14; BDAY 7; three
// ADR lines of 108 and four TEL lines of 214 (every type parameter is
// copied as a block of 16 units); three EMAIL lines of 32; GEO 49 (each
// number is given 20 units of room); ORG 7; REV 32; UID 42; PRODID 86;
// footer 9.
constexpr std::size_t kFixedRoom = 2048;
}  // namespace

// The values are the record's texts read onto the card, each at most once,
// except the name parts, which a composed formatted name reads again. A line
// break written as "\n" at most doubles a value.
// Counted in 64 bits, so that on a 32-bit system a bound too large for
// memory cannot wrap around to a small one: it saturates, and asking for
// that much room fails as out of memory.
std::size_t qvVCard::CardRoom() const noexcept {
  std::uint64_t texts = 0;
#if defined(__GNUC__)
#pragma GCC unroll 10
#endif
  for (const Text& t : texts_) texts += t.size();
  const std::uint64_t name_parts =
      std::uint64_t{texts_[record::FieldOf(Property::NameFamily)].size()} +
      texts_[record::FieldOf(Property::NameGiven)].size() +
      texts_[record::FieldOf(Property::NameAdditional)].size() +
      texts_[record::FieldOf(Property::NameSuffix)].size();
  const std::uint64_t room = kFixedRoom + 2 * (texts + name_parts);
  return room < std::numeric_limits<std::size_t>::max() ? static_cast<std::size_t>(room)
                                                        : std::numeric_limits<std::size_t>::max();
}

// Each source appends its line (or nothing) in position order; the first
// failing source ends the read and the caller discards what was written.
Status qvVCard::AssembleCard(CardText& card) const {
  card.append(kHeader);
  Status s = kOk;
#define QV_SOURCE(call) \
  if (Failed(s = (call))) return s
  QV_SOURCE(BuildNameLine(card));                        // 1  N
  QV_SOURCE(BuildFormattedNameLine(card));               // 2  FN
  QV_SOURCE(BuildTextLine(Property::SortString, card));  // 3  SORT-STRING
  QV_SOURCE(BuildTextLine(Property::Nickname, card));    // 4  NICKNAME
  QV_SOURCE(BuildBirthdayLine(card));                    // 5  BDAY
  for (int slot = 1; slot <= 3; ++slot) {
    QV_SOURCE(BuildAddressLine(slot, card));  // 6-8  ADR
  }
  for (int slot = 1; slot <= 4; ++slot) {
    QV_SOURCE(BuildTelephoneLine(slot, card));  // 9-12 TEL
  }
  for (int slot = 1; slot <= 3; ++slot) {
    QV_SOURCE(BuildEmailLine(slot, card));  // 13-15 EMAIL
  }
  QV_SOURCE(BuildTextLine(Property::Categorie, card));  // 16 CATEGORIES
  QV_SOURCE(BuildGeoLine(card));                        // 17 GEO
  QV_SOURCE(BuildTextLine(Property::TimeZone, card));   // 18 TZ
  QV_SOURCE(BuildOrganizationLine(card));               // 19 ORG
  QV_SOURCE(BuildTextLine(Property::Title, card));      // 20 TITLE
  QV_SOURCE(BuildTextLine(Property::Role, card));       // 21 ROLE
  QV_SOURCE(BuildTextLine(Property::Note, card));       // 22 NOTE
  QV_SOURCE(BuildTextLine(Property::Url, card));        // 23 URL
  QV_SOURCE(BuildRevisionLine(card));                   // 24 REV
  QV_SOURCE(BuildUidLine(card));                        // 25 UID
  QV_SOURCE(BuildProductIdLine(card));                  // 26 PRODID
#undef QV_SOURCE
  card.append(kFooter);
  return kOk;
}

// The card is written in the object's own storage, whose room survives from
// read to read, and copied out whole once it is complete: a failing read
// leaves out empty, and a caller who passes the same text again reads
// without any allocation.
Status qvVCard::get_vCard(Text& out) const noexcept {
  try {
    // The card is sized once; the builders then append without checking.
    CardText card(card_);
    card.EnsureRoom(CardRoom());
    const Status s = AssembleCard(card);
    if (Failed(s)) {
      out.clear();
      return s;
    }
    out.assign(card.data(), card.size());
    return kOk;
  } catch (...) {
    out.clear();
    return kOutOfMemory;
  }
}

}  // namespace qv_VCard
