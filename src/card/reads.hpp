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
  static const Text* Texts(const qvVCard& c) { return c.texts_.data(); }
  static std::int16_t Value(const qvVCard& c, Property p) { return c.values_[record::FieldOf(p)]; }
  static const std::int16_t* Values(const qvVCard& c) { return c.values_.data(); }
  static const std::uint64_t* SetValues(const qvVCard& c) { return c.set_values_.data(); }
  static Clock& ClockOf(const qvVCard& c) { return *c.clock_; }
  static GuidSource& GuidsOf(const qvVCard& c) { return *c.guids_; }
  static Text& Room(const qvVCard& c) { return c.room_.text; }
};

}  // namespace detail

namespace reads {

using detail::Access;
using writer::CardText;

// The content line of one of the eight line-returning properties, onto a
// card or into a Text (the getter).
template <typename Out>
QV_VCARD_READ_INLINE void TextLine(const qvVCard& c, Property p, Out& out) {
  // These reads return the line itself, so the stored text is taken from
  // the field, as the getter does.
  const Text& stored = Access::Stored(c, p);
  if (stored.empty()) return;
  if constexpr (std::is_same_v<Out, CardText>) {
    writer::WriteLine(out, [&](auto& line) QV_VCARD_LINE_INLINE {
      line.append(lines::PrefixOf(p));
      line.append(stored);
      line.append(writer::kLineEnd);
    });
  } else {
    writer::TextLine line(out);
    line.append(lines::PrefixOf(p));
    writer::AppendCleanedRuns(line, stored, false);
    line.append(writer::kLineEnd);
  }
}

// True when text is the one character c.
QV_VCARD_READ_INLINE bool IsExactly(const Text& text, char16_t c) noexcept {
  return text.size() == 1 && text[0] == c;
}

// The read rule of property p on the text stored for it, appended to out
// (which it does not clear): a Text, a line (see writer::WriteLine), or a
// quoted parameter value. A Text receives the read as it is; a line writes
// each stored text as a value of its line.
template <typename Out>
QV_VCARD_READ_INLINE void AppendRead(const qvVCard& c, Property p, const Text& stored, Out& out) {
  switch (record::Of(p).rule) {
    case ReadRule::Stored:
      out.append(stored);
      return;
    case ReadRule::Separator:
      out.append(stored);
      out.append(std::u16string_view(u";"));
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
      out.append(std::u16string_view(IsExactly(stored, u'N') ? u"+" : u"-"));
      return;
    case ReadRule::GeoLonSign:
      out.append(std::u16string_view(IsExactly(stored, u'W') ? u"-" : u"+"));
      return;
  }
}

// The read rule of property p, appended to out.
template <typename Out>
QV_VCARD_READ_INLINE void AppendRead(const qvVCard& c, Property p, Out& out) {
  AppendRead(c, p, Access::Stored(c, p), out);
}

// Only a stored text can read as empty: a separator read ends in ";", a
// composed name holds its blanks, and a hemisphere read is one sign.
QV_VCARD_READ_INLINE bool ReadIsEmpty(Property p, const Text& stored) noexcept {
  switch (record::Of(p).rule) {
    case ReadRule::Stored:
    case ReadRule::ContentLine:
      return stored.empty();
    case ReadRule::FormattedName:
    case ReadRule::Separator:
    case ReadRule::GeoLatSign:
    case ReadRule::GeoLonSign:
      return false;
  }
  return false;
}

QV_VCARD_READ_INLINE bool ReadIsEmpty(const qvVCard& c, Property p) noexcept {
  return ReadIsEmpty(p, Access::Stored(c, p));
}

// Flags and integers read as stored.
QV_VCARD_READ_INLINE std::int16_t ReadValue(const qvVCard& c, Property p) noexcept {
  return Access::Value(c, p);
}

// Reads count (at most 16) flags that follow one another among the values
// from field on (or, in the table, from first): bit i is set when flag i
// counts as set, taken from the bits the record keeps of its values that are
// not 0.
QV_VCARD_READ_INLINE unsigned ReadFlagBits(const qvVCard& c, std::size_t field,
                                           unsigned count) noexcept {
  const std::uint64_t* const words = Access::SetValues(c);
  const std::size_t bit = field % 64;
  std::uint64_t bits = words[field / 64] >> bit;
  if (bit + count > 64) bits |= words[field / 64 + 1] << (64 - bit);  // the next word's first
  return static_cast<unsigned>(bits) & ((1U << count) - 1);
}

QV_VCARD_READ_INLINE unsigned ReadFlagBits(const qvVCard& c, Property first,
                                           unsigned count) noexcept {
  return ReadFlagBits(c, record::FieldOf(first), count);
}

// The fields of one slot of a group of alike slots (the addresses, the
// telephones, the e-mail addresses), reached through the properties of slot
// 1: a slot's texts and values lie a fixed number of fields after the
// previous slot's, so no field is looked up in the table at run time. Their
// read rules are those of slot 1 (see record::SlotsAlike).
class SlotFields {
 public:
  QV_VCARD_READ_INLINE SlotFields(const qvVCard& c, const record::SlotGroup& group,
                                  int slot) noexcept
      : c_(c),
        texts_(Access::Texts(c) + (slot - 1) * group.texts),
        values_from_(static_cast<std::size_t>((slot - 1) * group.values)) {}

  // The stored text or value of slot 1's property p in this slot.
  QV_VCARD_READ_INLINE const Text& Stored(Property p) const noexcept {
    return texts_[record::FieldOf(p)];
  }
  QV_VCARD_READ_INLINE std::int16_t Value(Property p) const noexcept {
    return Access::Values(c_)[values_from_ + record::FieldOf(p)];
  }
  // count flags from slot 1's flag first on, as ReadFlagBits reads them.
  QV_VCARD_READ_INLINE unsigned FlagBits(Property first, unsigned count) const noexcept {
    return ReadFlagBits(c_, values_from_ + record::FieldOf(first), count);
  }

 private:
  const qvVCard& c_;
  const Text* texts_;
  std::size_t values_from_;
};

// The flag reads of a line whose types are flags stay inside the stored
// values for every slot, at most 16 at a time.
constexpr bool FlagReadsFit(const lines::FlagTypedLine& line) {
  const Property last_slot_first = record::InSlot(line.types[0].flag, line.slots, line.slot_size);
  return line.type_count <= 16 && std::size_t{record::FieldOf(last_slot_first)} +
                                          static_cast<std::size_t>(line.type_count) <=
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
QV_VCARD_READ_INLINE Status BuildTextLine(const qvVCard& c, Property p, CardText& card) {
  reads::TextLine(c, p, card);
  return kOk;
}
// The whole card: header, the twenty-six body positions, footer.
Status AssembleCard(const qvVCard& c, CardText& card);

}  // namespace writer

}  // namespace qv_VCard

#endif
