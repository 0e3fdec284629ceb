// The card document: header, the twenty-six body positions, footer.
#include "card/failure.hpp"
#include "card/reads.hpp"

namespace qv_VCard {

namespace writer {

namespace {
constexpr std::u16string_view kHeader = u"BEGIN:VCARD\r\nVERSION:3.0\r\nPROFILE:VCARD\r\n";
constexpr std::u16string_view kFooter = u"END:VCARD";

// A card that grew beyond this in the object's room gives the room back
// after the read, rather than holding it for the life of the object.
constexpr std::size_t kRoomKept = std::size_t{1} << 20;
}  // namespace

// Each source appends its line (or nothing) in position order; the first
// failing source ends the read and the caller discards what was written.
Status AssembleCard(const qvVCard& c, CardText& card) {
  WriteLine(card, [](auto& line) QV_VCARD_LINE_INLINE { line.append(kHeader); });
  Status s = kOk;
#define QV_SOURCE(call) \
  if (Failed(s = (call))) return s
  QV_SOURCE(BuildNameLine(c, card));                        // 1  N
  QV_SOURCE(BuildFormattedNameLine(c, card));               // 2  FN
  QV_SOURCE(BuildTextLine(c, Property::SortString, card));  // 3  SORT-STRING
  QV_SOURCE(BuildTextLine(c, Property::Nickname, card));    // 4  NICKNAME
  QV_SOURCE(BuildBirthdayLine(c, card));                    // 5  BDAY
  for (int slot = 1; slot <= 3; ++slot) {
    QV_SOURCE(BuildAddressLine(c, slot, card));  // 6-8  ADR
  }
  for (int slot = 1; slot <= 4; ++slot) {
    QV_SOURCE(BuildTelephoneLine(c, slot, card));  // 9-12 TEL
  }
  for (int slot = 1; slot <= 3; ++slot) {
    QV_SOURCE(BuildEmailLine(c, slot, card));  // 13-15 EMAIL
  }
  QV_SOURCE(BuildTextLine(c, Property::Categorie, card));  // 16 CATEGORIES
  QV_SOURCE(BuildGeoLine(c, card));                        // 17 GEO
  QV_SOURCE(BuildTextLine(c, Property::TimeZone, card));   // 18 TZ
  QV_SOURCE(BuildOrganizationLine(c, card));               // 19 ORG
  QV_SOURCE(BuildTextLine(c, Property::Title, card));      // 20 TITLE
  QV_SOURCE(BuildTextLine(c, Property::Role, card));       // 21 ROLE
  QV_SOURCE(BuildTextLine(c, Property::Note, card));       // 22 NOTE
  QV_SOURCE(BuildTextLine(c, Property::Url, card));        // 23 URL
  QV_SOURCE(BuildRevisionLine(c, card));                   // 24 REV
  QV_SOURCE(BuildUidLine(c, card));                        // 25 UID
  QV_SOURCE(BuildProductIdLine(c, card));                  // 26 PRODID
#undef QV_SOURCE
  WriteLine(card, [](auto& line) QV_VCARD_LINE_INLINE { line.append(kFooter); });
  // A write past its room is the card's failure, whatever came after it.
  return card.failure();
}

// Keeps the object's room for the next read, unless one card made it large.
void ReleaseLargeRoom(Text& room) {
  if (room.size() > kRoomKept) Text().swap(room);
}

}  // namespace writer

// A text with room for a card as long as the last one is written into
// directly; any other (and any on an object's first read) receives a copy of
// the card, written in the object's own room, which survives from read to
// read. Either way a failing read leaves out empty, and a caller who passes
// the same text again reads without any allocation.
Status qvVCard::get_vCard(Text& out) const noexcept {
  try {
    const bool direct = room_.last != 0 && out.capacity() >= room_.last;
    if (direct && out.size() < room_.last) out.resize(room_.last);
    writer::CardText card(direct ? out : room_.text);
    Status s = writer::AssembleCard(*this, card);
    if (Succeeded(s)) s = card.Finish();
    if (Failed(s)) {
      out.clear();
      writer::ReleaseLargeRoom(room_.text);
      return s;
    }
    const std::size_t n = card.view().size();
    if (direct) {
      out.resize(n);
    } else {
      out.assign(card.view());
      writer::ReleaseLargeRoom(room_.text);
    }
    room_.last = n;
    return kOk;
  } catch (...) {
    out.clear();
    return detail::StatusOfCurrentException();
  }
}

// The same card, handed to the sink through a window of the room.
Status qvVCard::get_vCard(TextSink& sink) const noexcept {
  try {
    writer::CardText card(room_.text, sink);
    const Status s = writer::AssembleCard(*this, card);
    // A failed card is not handed on any further.
    return Failed(s) ? s : card.Finish();
  } catch (...) {
    return detail::StatusOfCurrentException();
  }
}

}  // namespace qv_VCard
