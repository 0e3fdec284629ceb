// The read rules of the text and 16-bit properties. The public getters and
// the card builders share these definitions, so what a caller reads is what
// the card is built from; they are inline so that a builder's reads cost no
// more than the rule itself.
#ifndef QV_VCARD_CARD_READS_HPP
#define QV_VCARD_CARD_READS_HPP

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <type_traits>

#include "card/record.hpp"
#include "writer/card_text.hpp"
#include "writer/line_text.hpp"

// The reads are small once their rule is known; builders want them inline
// even where the compiler's estimate says otherwise.
#if defined(__GNUC__)
#define QV_VCARD_READ_INLINE inline __attribute__((always_inline))
#else
#define QV_VCARD_READ_INLINE inline
#endif

namespace qv_VCard {

namespace record {

// The line-returning properties and the name of the line each returns.
constexpr std::u16string_view LinePrefixOf(Property p) {
  switch (p) {
    case Property::SortString:
      return u"SORT-STRING:";
    case Property::Nickname:
      return u"NICKNAME:";
    case Property::Categorie:
      return u"CATEGORIES:";
    case Property::TimeZone:
      return u"TZ:";
    case Property::Title:
      return u"TITLE:";
    case Property::Role:
      return u"ROLE:";
    case Property::Note:
      return u"NOTE:";
    case Property::Url:
      return u"URL:";
    default:
      return {};
  }
}

}  // namespace record

template <typename Out>
QV_VCARD_READ_INLINE Status qvVCard::BuildTextLine(Property p, Out& line) const {
  // These reads return the line itself, so the stored text is taken from
  // the field, as the getter does.
  const Text& stored = texts_[record::FieldOf(p)];
  if (stored.empty()) return kOk;
  if constexpr (std::is_same_v<Out, writer::CardText>) {
    writer::LineWriter w(line);
    BuildTextLine(p, w);
    w.Commit();
  } else {
    line.append(record::LinePrefixOf(p));
    writer::AppendValue(line, stored);
    line.append(writer::kLineEnd);
  }
  return kOk;
}

template <typename Out>
QV_VCARD_READ_INLINE void qvVCard::AppendRead(Property p, Out& out) const {
  const Text& stored = texts_[record::FieldOf(p)];
  switch (record::Of(p).rule) {
    case ReadRule::Stored:
      out.append(stored);
      return;
    case ReadRule::Separator:
      out.append(stored);
      out.push_back(u';');
      return;
    case ReadRule::FormattedName:
      if (!stored.empty()) {
        out.append(stored);
        return;
      }
      // Composed from the stored name parts; the prefix takes no part.
      out.append(texts_[record::FieldOf(Property::NameFamily)]);
      out.push_back(u' ');
      out.append(texts_[record::FieldOf(Property::NameGiven)]);
      out.push_back(u' ');
      out.append(texts_[record::FieldOf(Property::NameAdditional)]);
      out.push_back(u' ');
      out.append(texts_[record::FieldOf(Property::NameSuffix)]);
      return;
    case ReadRule::ContentLine:
      (void)BuildTextLine(p, out);  // cannot fail other than by bad_alloc
      return;
    case ReadRule::GeoLatSign:
      out.push_back(stored == u"N" ? u'+' : u'-');
      return;
    case ReadRule::GeoLonSign:
      out.push_back(stored == u"W" ? u'-' : u'+');
      return;
  }
}

inline std::u16string_view qvVCard::ReadText(Property p) const {
  scratch_.clear();
  AppendRead(p, scratch_);
  return scratch_;
}

template <typename Line>
QV_VCARD_READ_INLINE void qvVCard::AppendValueRead(Property p, Line& line) const {
  const std::size_t from = line.size();
  line.ClearBreakHint();
  AppendRead(p, line);
  if (line.BreakHint()) writer::EscapeLineBreaks(line, from);
}

// Only a stored text can read as empty: a separator read ends in ";", a
// composed name holds its blanks, and a hemisphere read is one sign.
QV_VCARD_READ_INLINE bool qvVCard::ReadIsEmpty(Property p) const noexcept {
  switch (record::Of(p).rule) {
    case ReadRule::Stored:
    case ReadRule::ContentLine:
      return texts_[record::FieldOf(p)].empty();
    case ReadRule::FormattedName:
      return false;  // composed when empty
    case ReadRule::Separator:
    case ReadRule::GeoLatSign:
    case ReadRule::GeoLonSign:
      return false;
  }
  return false;
}

// Flags and integers read as stored.
QV_VCARD_READ_INLINE std::int16_t qvVCard::ReadValue(Property p) const noexcept {
  return values_[record::FieldOf(p)];
}

// The flags are read several at a time: eight to a 16-byte vector where the
// processor has SSE2, compared with 0 and packed into one bit each; four to
// a 64-bit word otherwise, where a unit's top bit in (w & 0x7FFF...) +
// 0x7FFF... | w is set exactly when the unit is not 0 and one multiply
// gathers the four top bits side by side. The reads may run past the last
// flag asked for, up to a multiple of eight (never past the stored values,
// which the builders check); those bits are dropped.
QV_VCARD_READ_INLINE unsigned qvVCard::ReadFlagBits(Property first, unsigned count) const noexcept {
  const std::int16_t* flags = values_.data() + record::FieldOf(first);
#if defined(__SSE2__)
  const __m128i zero = _mm_setzero_si128();
  const __m128i low =
      _mm_cmpeq_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(flags)), zero);
  __m128i high = _mm_cmpeq_epi16(zero, zero);  // flags 8 to 15: none set
  if (count > 8) {
    high = _mm_cmpeq_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(flags + 8)), zero);
  }
  const auto unset = static_cast<unsigned>(_mm_movemask_epi8(_mm_packs_epi16(low, high)));
  return ~unset & ((1U << count) - 1);
#else
  constexpr std::uint64_t kLow15 = 0x7FFF7FFF7FFF7FFFULL;
  constexpr std::uint64_t kTop = 0x8000800080008000ULL;
  constexpr std::uint64_t kGather = (1ULL << 48) | (1ULL << 33) | (1ULL << 18) | (1ULL << 3);
  unsigned bits = 0;
  for (unsigned i = 0; i < count; i += 4) {
    std::uint64_t w;
    std::memcpy(&w, flags + i, sizeof w);
    const std::uint64_t set = (((w & kLow15) + kLow15) | w) & kTop;
    bits |= static_cast<unsigned>(((set >> 15) * kGather) >> 48 & 0xF) << i;
  }
  return bits & ((1U << count) - 1);
#endif
}

}  // namespace qv_VCard

#endif
