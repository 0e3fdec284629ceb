// The text of a card while it is written: appends go straight into a buffer
// whose storage the card object keeps from read to read, so that writing a
// card costs little more than copying its characters.
#ifndef QV_VCARD_WRITER_CARD_TEXT_HPP
#define QV_VCARD_WRITER_CARD_TEXT_HPP

#include <cstdint>
#include <cstring>
#include <string_view>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "qv_vcard/qvVCard.hpp"

// The pieces of line writing are small; the compiler is told to inline them
// even where its estimate says otherwise, so that a line's cursor can stay
// in registers.
#if defined(__GNUC__)
#define QV_VCARD_WRITE_INLINE inline __attribute__((always_inline))
#else
#define QV_VCARD_WRITE_INLINE inline
#endif

namespace qv_VCard::writer {

// Nonzero when one of the four 16-bit units of w is below 14, the range
// that holds CR and LF: (w - 0x000E...) & ~w & 0x8000... is not zero
// exactly then.
constexpr std::uint64_t LowUnits(std::uint64_t w) noexcept {
  return (w - 0x000E000E000E000EULL) & ~w & 0x8000800080008000ULL;
}

// Copies n code units and tells whether one of them is below 14, so that a
// value without line breaks, the usual case, need not be looked at again.
// Values are moved in blocks, the last block overlapping the one before it,
// instead of through a library call: sixteen bytes at a time where the
// processor has SSE2 (every x86-64 does), eight bytes otherwise.
QV_VCARD_WRITE_INLINE bool CopyUnitsFindingLow(char16_t* dst, const char16_t* src,
                                               std::size_t n) noexcept {
  if (n < 4) {
    bool low = false;
    for (std::size_t i = 0; i < n; ++i) {
      dst[i] = src[i];
      low |= src[i] < 14;
    }
    return low;
  }
  std::uint64_t a, b;
  if (n < 8) {
    std::memcpy(&a, src, 8);
    std::memcpy(&b, src + n - 4, 8);
    std::memcpy(dst, &a, 8);
    std::memcpy(dst + n - 4, &b, 8);
    return (LowUnits(a) | LowUnits(b)) != 0;
  }
#if defined(__SSE2__)
  // A unit is below 14 exactly when subtracting 13 with unsigned saturation
  // leaves 0.
  const __m128i thirteen = _mm_set1_epi16(13);
  const __m128i zero = _mm_setzero_si128();
  __m128i low = zero;
  for (std::size_t i = 0; i + 8 < n; i += 8) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + i));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + i), v);
    low = _mm_or_si128(low, _mm_cmpeq_epi16(_mm_subs_epu16(v, thirteen), zero));
  }
  const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + n - 8));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + n - 8), v);
  low = _mm_or_si128(low, _mm_cmpeq_epi16(_mm_subs_epu16(v, thirteen), zero));
  return _mm_movemask_epi8(low) != 0;
#else
  std::uint64_t low = 0;
  for (std::size_t i = 0; i + 8 < n; i += 8) {
    std::memcpy(&a, src + i, 8);
    std::memcpy(&b, src + i + 4, 8);
    std::memcpy(dst + i, &a, 8);
    std::memcpy(dst + i + 4, &b, 8);
    low |= LowUnits(a) | LowUnits(b);
  }
  std::memcpy(&a, src + n - 8, 8);
  std::memcpy(&b, src + n - 4, 8);
  std::memcpy(dst + n - 8, &a, 8);
  std::memcpy(dst + n - 4, &b, 8);
  return (low | LowUnits(a) | LowUnits(b)) != 0;
#endif
}

// Appends to the end of a storage text that is kept at its full length: the
// characters beyond size() are room, not content. Offers the append,
// push_back, resize, data and size of a text, so that code written for texts
// writes cards too.
//
// The room is made once, up front, by EnsureRoom: the card asks for an upper
// bound of everything it will write, so the appends themselves do not check.
// Builds with QV_VCARD_CHECK_ROOM (the sanitizer and fuzzing builds) check
// every append against the room made and stop the program on a shortfall.
class CardText {
 public:
  // Starts empty; storage keeps whatever room it already has.
  explicit CardText(Text& storage) noexcept
      : storage_(storage),
        begin_(storage.data()),
        end_(storage.data()),
        limit_(storage.data() + storage.size()) {}
  CardText(const CardText&) = delete;
  CardText& operator=(const CardText&) = delete;

  // Makes room for n more units, keeping the text (std::bad_alloc when it
  // cannot).
  void EnsureRoom(std::size_t n) {
    if (n > static_cast<std::size_t>(limit_ - end_)) Grow(n);
  }

  std::size_t size() const noexcept { return static_cast<std::size_t>(end_ - begin_); }
  bool empty() const noexcept { return end_ == begin_; }
  char16_t* data() noexcept { return begin_; }
  const char16_t* data() const noexcept { return begin_; }
  std::u16string_view view() const noexcept { return {begin_, size()}; }

  // Fixed texts: names, parameters, line ends.
  void append(std::u16string_view s) {
    Room(s.size());
    std::memcpy(end_, s.data(), s.size() * sizeof(char16_t));
    end_ += s.size();
  }
  template <std::size_t N>
  void append(const char16_t (&s)[N]) {
    append(std::u16string_view(s, N - 1));
  }
  // Values, mostly a few dozen units long. Notes in the line-break hint
  // whether the value holds a unit below 14.
  void append(const Text& s) {
    Room(s.size());
    low_units_ |= CopyUnitsFindingLow(end_, s.data(), s.size());
    end_ += s.size();
  }
  void append(const char16_t* s, std::size_t n) { append(std::u16string_view(s, n)); }
  void push_back(char16_t c) {
    Room(1);
    *end_++ = c;
  }
  // Shortens, or lengthens (within the room) with units the caller then
  // overwrites.
  void resize(std::size_t n) {
    if (n > size()) Room(n - size());
    end_ = begin_ + n;
  }
  void clear() noexcept { end_ = begin_; }

  // Where n more units go (within the room); advance(k) then takes the
  // first k of them into the text.
  char16_t* Reserve(std::size_t n) {
    Room(n);
    return end_;
  }
  void advance(std::size_t k) noexcept { end_ += k; }

  // The line-break hint: false only when no value appended since the last
  // ClearBreakHint holds a unit below 14, and so no CR or LF.
  void ClearBreakHint() noexcept { low_units_ = false; }
  bool BreakHint() const noexcept { return low_units_; }

 private:
  friend class LineWriter;

#if defined(QV_VCARD_CHECK_ROOM)
  void Room(std::size_t n) const noexcept {
    if (n > static_cast<std::size_t>(limit_ - end_)) RoomExceeded(n);
  }
  [[noreturn]] void RoomExceeded(std::size_t n) const noexcept;
#else
  void Room(std::size_t) const noexcept {}
#endif
  // Enlarges the storage (std::bad_alloc when it cannot), keeping the text.
  void Grow(std::size_t n);

  Text& storage_;
  char16_t* begin_;
  char16_t* end_;
  char16_t* limit_;
  bool low_units_ = false;
};

// Rewrites [value, end) so that every line break in it (CR LF, a lone CR or
// a lone LF) becomes the two characters "\n"; returns the new end. The room
// after end must hold the growth (at most doubling).
char16_t* EscapeLineBreaksIn(char16_t* value, char16_t* end) noexcept;

// One content line written at the end of a card, through a cursor of its
// own: a local object whose address is never taken, so that the compiler
// keeps the cursor in a register while the line is written, rather than
// updating the card after every piece. Commit hands the line to the card;
// a line never committed leaves no trace. Writes go into the room the card
// made up front, checked as the card's own appends are.
class LineWriter {
 public:
  explicit LineWriter(CardText& card) noexcept : card_(card), begin_(card.end_), p_(card.end_) {}
  LineWriter(const LineWriter&) = delete;
  LineWriter& operator=(const LineWriter&) = delete;

  std::size_t size() const noexcept { return static_cast<std::size_t>(p_ - begin_); }

  QV_VCARD_WRITE_INLINE void append(std::u16string_view s) {
    Room(s.size());
    std::memcpy(p_, s.data(), s.size() * sizeof(char16_t));
    p_ += s.size();
  }
  template <std::size_t N>
  QV_VCARD_WRITE_INLINE void append(const char16_t (&s)[N]) {
    append(std::u16string_view(s, N - 1));
  }
  // A value: notes in the line-break hint whether it holds a unit below 14.
  QV_VCARD_WRITE_INLINE void append(const Text& s) {
    Room(s.size());
    low_units_ |= CopyUnitsFindingLow(p_, s.data(), s.size());
    p_ += s.size();
  }
  QV_VCARD_WRITE_INLINE void push_back(char16_t c) {
    Room(1);
    *p_++ = c;
  }
  QV_VCARD_WRITE_INLINE char16_t* Reserve(std::size_t n) {
    Room(n);
    return p_;
  }
  void advance(std::size_t k) noexcept { p_ += k; }
  // The last unit written.
  char16_t& back() noexcept { return p_[-1]; }

  void ClearBreakHint() noexcept { low_units_ = false; }
  bool BreakHint() const noexcept { return low_units_; }
  // Writes the line breaks of what follows the first from units as "\n",
  // which may double that much of the line.
  void EscapeLineBreaksFrom(std::size_t from) noexcept {
    Room(size() - from);
    p_ = EscapeLineBreaksIn(begin_ + from, p_);
  }

  // The line becomes part of the card.
  void Commit() noexcept {
    card_.Room(size());
    card_.end_ = p_;
  }

 private:
#if defined(QV_VCARD_CHECK_ROOM)
  void Room(std::size_t n) const noexcept {
    if (n > static_cast<std::size_t>(card_.limit_ - p_)) card_.RoomExceeded(n);
  }
#else
  void Room(std::size_t) const noexcept {}
#endif

  CardText& card_;
  char16_t* const begin_;
  char16_t* p_;
  bool low_units_ = false;
};

}  // namespace qv_VCard::writer

#endif
