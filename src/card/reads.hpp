// The read rules of the text and 16-bit properties, and the line builders
// that read through them. The public getters and the builders share these
// definitions, so what a caller reads is what the card is built from; they
// are inline so that a builder's reads cost no more than the rule itself.
#ifndef QV_VCARD_CARD_READS_HPP
#define QV_VCARD_CARD_READS_HPP

#include <type_traits>

#include "card/line_table.hpp"
#include "card/record.hpp"
#include "writer/card_text.hpp"

// The reads are small once their rule is known; builders want them inline
// even where the compiler's estimate says otherwise.
#if defined(__GNUC__)
#define QV_VCARD_READ_INLINE inline __attribute__((always_inline))
#else
#define QV_VCARD_READ_INLINE inline
#endif

namespace qv_VCard {

namespace detail {

// The record of a card, for its reads and its writer.
struct Access {
  static const Text& Stored(const qvVCard& c, Property p) { return c.texts_[record::FieldOf(p)]; }
  static std::int16_t Value(const qvVCard& c, Property p) { return c.values_[record::FieldOf(p)]; }
  static const std::int16_t* Values(const qvVCard& c) { return c.values_.data(); }
  static Clock& ClockOf(const qvVCard& c) { return *c.clock_; }
  static GuidSource& GuidsOf(const qvVCard& c) { return *c.guids_; }
  static Text& Room(const qvVCard& c) { return c.room_.text; }
};

}  // namespace detail

namespace reads {

using detail::Access;
using writer::CardText;
using writer::Cursor;

// The content line of one of the eight line-returning properties, onto a
// card or into a Text (the getter).
template <typename Out>
QV_VCARD_READ_INLINE void TextLine(const qvVCard& c, Property p, Out& out) {
  // These reads return the line itself, so the stored text is taken from
  // the field, as the getter does.
  const Text& stored = Access::Stored(c, p);
  if (stored.empty()) return;
  if constexpr (std::is_same_v<Out, CardText>) {
    Cursor line(out);
    line.append(lines::PrefixOf(p));
    writer::AppendValueThen(line, stored, u"\r\n");
    line.Commit();
  } else {
    writer::TextLine line(out);
    line.append(lines::PrefixOf(p));
    writer::AppendCleanedRuns(line, stored, false);
    line.append(writer::kLineEnd);
  }
}

// The read rule of a property, appended to out (which it does not clear):
// a Text, a line's cursor, or a quoted parameter value. A Text receives the
// read as it is; a cursor writes each stored text as a value of its line.
template <typename Out>
QV_VCARD_READ_INLINE void AppendRead(const qvVCard& c, Property p, Out& out) {
  const Text& stored = Access::Stored(c, p);
  switch (record::Of(p).rule) {
    case ReadRule::Stored:
      out.append(stored);
      return;
    case ReadRule::Separator:
      if constexpr (std::is_same_v<Out, Cursor>) {
        writer::AppendValueThen(out, stored, u";");
      } else {
        out.append(stored);
        out.append(std::u16string_view(u";"));
      }
      return;
    case ReadRule::FormattedName:
      if (!stored.empty()) {
        out.append(stored);
        return;
      }
      // Composed from the stored name parts; the prefix takes no part.
      out.append(Access::Stored(c, Property::NameFamily));
      out.append(std::u16string_view(u" "));
      out.append(Access::Stored(c, Property::NameGiven));
      out.append(std::u16string_view(u" "));
      out.append(Access::Stored(c, Property::NameAdditional));
      out.append(std::u16string_view(u" "));
      out.append(Access::Stored(c, Property::NameSuffix));
      return;
    case ReadRule::ContentLine:
      if constexpr (std::is_same_v<Out, Text>) TextLine(c, p, out);
      return;
    case ReadRule::GeoLatSign:
      out.append(std::u16string_view(stored == u"N" ? u"+" : u"-"));
      return;
    case ReadRule::GeoLonSign:
      out.append(std::u16string_view(stored == u"W" ? u"-" : u"+"));
      return;
  }
}

// Only a stored text can read as empty: a separator read ends in ";", a
// composed name holds its blanks, and a hemisphere read is one sign.
QV_VCARD_READ_INLINE bool ReadIsEmpty(const qvVCard& c, Property p) noexcept {
  switch (record::Of(p).rule) {
    case ReadRule::Stored:
    case ReadRule::ContentLine:
      return Access::Stored(c, p).empty();
    case ReadRule::FormattedName:
    case ReadRule::Separator:
    case ReadRule::GeoLatSign:
    case ReadRule::GeoLonSign:
      return false;
  }
  return false;
}

// Flags and integers read as stored.
QV_VCARD_READ_INLINE std::int16_t ReadValue(const qvVCard& c, Property p) noexcept {
  return Access::Value(c, p);
}

// Reads count (at most 16) flags that follow one another in the table from
// first: bit i is set when flag first + i counts as set. The flags are read
// four to a 64-bit word, in which a unit's top bit in
// (w & 0x7FFF...) + 0x7FFF... | w is set exactly when the unit is not 0; the
// top bits of word k are moved to bits 16j + 4k (j the unit), and one
// multiply then gathers all of them in flag order into the top 16 bits (the
// other products stay below those or fall off the word). The reads may run
// past the last flag asked for, to a multiple of four (never past the stored
// values: see kFlagReadsFit); those bits are dropped.
QV_VCARD_READ_INLINE unsigned ReadFlagBits(const qvVCard& c, Property first,
                                           unsigned count) noexcept {
  constexpr std::uint64_t kLow15 = 0x7FFF7FFF7FFF7FFFULL;
  constexpr std::uint64_t kTop = 0x8000800080008000ULL;
  constexpr std::uint64_t kGather = (1ULL << 48) | (1ULL << 33) | (1ULL << 18) | (1ULL << 3);
  const std::int16_t* flags = Access::Values(c) + record::FieldOf(first);
  std::uint64_t spread = 0;
  for (unsigned k = 0; 4 * k < count; ++k) {
    std::uint64_t w;
    std::memcpy(&w, flags + 4 * k, sizeof w);
    spread |= ((((w & kLow15) + kLow15) | w) & kTop) >> (15 - 4 * k);
  }
  return static_cast<unsigned>((spread * kGather) >> 48) & ((1U << count) - 1);
}

// The flag reads of a line whose types are flags stay inside the stored
// values for every slot.
constexpr bool FlagReadsFit(const lines::FlagTypedLine& line) {
  const Property last_slot_first = record::InSlot(line.types[0].flag, line.slots, line.slot_size);
  return std::size_t{record::FieldOf(last_slot_first)} +
             static_cast<std::size_t>((line.type_count + 7) / 8 * 8) <=
         record::kValueFieldCount;
}
static_assert(FlagReadsFit(lines::kAddressLine) && FlagReadsFit(lines::kTelephoneLine));

}  // namespace reads

// The line builders. Each appends its content line (or nothing) to the card
// and reports failures by status; memory failures propagate as
// std::bad_alloc.
namespace writer {

Status BuildNameLine(const qvVCard& c, CardText& card);
Status BuildFormattedNameLine(const qvVCard& c, CardText& card);
Status BuildBirthdayLine(const qvVCard& c, CardText& card);
Status BuildOrganizationLine(const qvVCard& c, CardText& card);
Status BuildAddressLine(const qvVCard& c, int slot, CardText& card);
Status BuildTelephoneLine(const qvVCard& c, int slot, CardText& card);
Status BuildEmailLine(const qvVCard& c, int slot, CardText& card);
Status BuildGeoLine(const qvVCard& c, CardText& card);
Status BuildRevisionLine(const qvVCard& c, CardText& card);
Status BuildUidLine(const qvVCard& c, CardText& card);
Status BuildProductIdLine(const qvVCard& c, CardText& card);
// One of the eight line-returning properties, onto the card.
inline Status BuildTextLine(const qvVCard& c, Property p, CardText& card) {
  reads::TextLine(c, p, card);
  return kOk;
}
// The whole card: header, the twenty-six body positions, footer.
Status AssembleCard(const qvVCard& c, CardText& card);

}  // namespace writer

}  // namespace qv_VCard

#endif
