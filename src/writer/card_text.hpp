// The text of a card while it is written.
//
// A content line is written by WriteLine, from a body that writes the
// line's pieces to whatever line it is given. The body runs first on a
// LineSize, which measures the line; when the card has that much room
// already, it runs again on a LineFill, which copies the pieces into that
// one room without looking at the room again, and the line's length is then
// checked once against its room. Otherwise (no room yet, or a value that
// must be cleaned) the body runs on a Cursor, which checks every piece: a
// piece that would not fit makes more room first (the storage grows, or its
// text is handed to the sink). In every build a write past its room is
// refused and fails the card with kUnexpected. The room is made where each
// line is written; there is no card-wide bound to keep in step.
//
// Values (the texts of the record) go onto the card as content lines carry
// them: a line break (CR LF, a lone CR or a lone LF) is written as the two
// characters "\n", every other control character but TAB, and DEL, is left
// out.
#ifndef QV_VCARD_WRITER_CARD_TEXT_HPP
#define QV_VCARD_WRITER_CARD_TEXT_HPP

#include <cstdint>
#include <cstring>
#include <string_view>

#include "card/simd.hpp"
#include "qv_vcard/qvVCard.hpp"

// The pieces of line writing are small; the compiler is told to inline them
// even where its estimate says otherwise, so that a line's ends can stay in
// registers. A line's body (see WriteLine), which runs once for each way of
// writing the line, is marked QV_VCARD_LINE_INLINE for the same reason.
#if defined(__GNUC__)
#define QV_VCARD_WRITE_INLINE inline __attribute__((always_inline))
#define QV_VCARD_LINE_INLINE __attribute__((always_inline))
#define QV_VCARD_UNLIKELY(x) __builtin_expect(!!(x), 0)
#else
#define QV_VCARD_WRITE_INLINE inline
#define QV_VCARD_LINE_INLINE
#define QV_VCARD_UNLIKELY(x) (x)
#endif

namespace qv_VCard::writer {

inline constexpr std::u16string_view kLineEnd = u"\r\n";

// True when a 16-bit flag counts as set.
constexpr bool IsSet(std::int16_t flag) { return flag != 0; }

// The largest piece a value is copied in, and so the least room a window
// handed to a sink must have.
inline constexpr std::size_t kPiece = 2048;

// Room made on a line for n units at `at`; Advance takes at most n of them.
struct Room {
  char16_t* at;
  std::size_t size;
};

// A card being written: into its storage, kept whole, or through a window of
// that storage that is handed to a sink whenever it is full.
class CardText {
 public:
  explicit CardText(Text& storage) noexcept;
  CardText(Text& storage, TextSink& sink) noexcept;
  CardText(const CardText&) = delete;
  CardText& operator=(const CardText&) = delete;

  // The first failure of the writing: a write past its room, or a sink's
  // status (kOk when there was none).
  Status failure() const noexcept { return failure_; }
  // Hands what is left to the sink; then the card's status.
  Status Finish() noexcept;

  // The text written so far (the whole card when there is no sink).
  std::u16string_view view() const noexcept {
    return {begin_, static_cast<std::size_t>(end_ - begin_)};
  }

  void Fail(Status s) noexcept {
    if (Succeeded(failure_)) failure_ = s;
  }
  // Starts again from nothing, keeping the room.
  void clear() noexcept {
    end_ = begin_;
    failure_ = kOk;
  }

 private:
  friend class Cursor;
  // The end of the text and the end of its room.
  struct Ends {
    char16_t* end;
    char16_t* limit;
  };
  // Takes the text up to `end` and makes room for n more units after it:
  // grows the storage (std::bad_alloc when it cannot), or hands the window
  // to the sink.
  Ends MakeRoom(char16_t* end, std::size_t n);
  // Takes the text up to `end` and writes value after it, cleaned as a
  // value (or a quoted parameter value) must be.
  Ends AppendCleaned(char16_t* end, std::u16string_view value, bool quoted);
  void Deliver() noexcept;

  Text& storage_;
  TextSink* sink_;
  char16_t* begin_;
  char16_t* end_;
  char16_t* limit_;
  Status failure_ = kOk;
};

// Writes at the end of a card through a cursor of its own: a local object
// whose address is never taken (its slow paths take and give back its ends
// by value), so that the compiler keeps it in registers while a line is
// written. Commit hands what it wrote to the card.
class Cursor {
 public:
  explicit Cursor(CardText& card) noexcept : card_(card), p_(card.end_), limit_(card.limit_) {}
  Cursor(const Cursor&) = delete;
  Cursor& operator=(const Cursor&) = delete;

  // Room for n more units; Advance(room, k) then takes the first k of them,
  // and nothing may be written past them.
  QV_VCARD_WRITE_INLINE Room Reserve(std::size_t n) {
    if (QV_VCARD_UNLIKELY(!Fits(n))) Take(card_.MakeRoom(p_, n));
    return {p_, n};
  }
  // Whether the card has room for n more units already; room is then that
  // room (none is made).
  QV_VCARD_WRITE_INLINE bool RoomIfAny(std::size_t n, Room& room) const noexcept {
    room = {p_, n};
    return Fits(n);
  }
  // Takes k units of a room into the text; more than the room holds is
  // refused, and fails the card.
  QV_VCARD_WRITE_INLINE void Advance(const Room& room, std::size_t k) noexcept {
    if (QV_VCARD_UNLIKELY(k > room.size)) return card_.Fail(kUnexpected);
    p_ += k;
  }

  // Fixed texts: names, parameters, separators, line ends.
  QV_VCARD_WRITE_INLINE void append(std::u16string_view s) {
    const Room room = Reserve(s.size());
    std::memcpy(room.at, s.data(), s.size() * sizeof(char16_t));
    p_ += s.size();
  }
  template <std::size_t N>
  QV_VCARD_WRITE_INLINE void append(const char16_t (&s)[N]) {
    append(std::u16string_view(s, N - 1));
  }
  QV_VCARD_WRITE_INLINE void push_back(char16_t c) {
    *Reserve(1).at = c;
    ++p_;
  }
  // A value of the record (see AppendValue below).
  inline void append(const Text& value);
  // value, cleaned as a value (or a quoted parameter value) must be.
  void AppendCleaned(std::u16string_view value, bool quoted) {
    Take(card_.AppendCleaned(p_, value, quoted));
  }
  // At most n units written by write(at), which returns how many it wrote.
  template <typename Writer>
  QV_VCARD_WRITE_INLINE void Write(std::size_t n, Writer&& write) {
    const Room room = Reserve(n);
    Advance(room, write(room.at));
  }
  // The unit written last.
  char16_t& back() noexcept { return p_[-1]; }

  // The line (or whatever was written) becomes part of the card.
  void Commit() noexcept { card_.end_ = p_; }

 private:
  // Compared in bytes, so that the check is one subtraction and one
  // comparison.
  QV_VCARD_WRITE_INLINE bool Fits(std::size_t n) const noexcept {
    return n <= (reinterpret_cast<std::uintptr_t>(limit_) - reinterpret_cast<std::uintptr_t>(p_)) /
                    sizeof(char16_t);
  }
  void Take(CardText::Ends ends) noexcept {
    p_ = ends.end;
    limit_ = ends.limit;
  }

  CardText& card_;
  char16_t* p_;
  char16_t* limit_;
};

// ---------------------------------------------------------------------------
// Values.

// True for a unit a value cannot keep as it is: a control character (TAB
// excepted) or DEL, and, in a quoted parameter value, the quotation mark.
constexpr bool IsSpecial(char16_t c, bool quoted) noexcept {
  return (c < 0x20 && c != u'\t') || c == 0x7F || (quoted && c == u'"');
}

// The offset of the first special unit in [p, p + n), or n. Four units at a
// time: a word holds a unit below 0x20 when (w - 0x0020...) & ~w & 0x8000...
// is not 0, and a unit equal to x when the word XOR x... has a zero unit.
inline std::size_t FindSpecial(const char16_t* p, std::size_t n, bool quoted) noexcept {
  constexpr std::uint64_t kOnes = 0x0001000100010001ULL;
  constexpr std::uint64_t kHigh = 0x8000800080008000ULL;
  const auto has_zero = [](std::uint64_t w) { return (w - kOnes) & ~w & kHigh; };
  std::size_t i = 0;
  for (; i + 4 <= n; i += 4) {
    std::uint64_t w;
    std::memcpy(&w, p + i, sizeof w);
    std::uint64_t hit = ((w - 0x20 * kOnes) & ~w & kHigh) | has_zero(w ^ (0x7F * kOnes));
    if (quoted) hit |= has_zero(w ^ (0x22 * kOnes));
    if (hit == 0) continue;
    for (std::size_t j = i; j < i + 4; ++j) {
      if (IsSpecial(p[j], quoted)) return j;
    }
  }
  for (; i < n; ++i) {
    if (IsSpecial(p[i], quoted)) return i;
  }
  return n;
}

// Writes value onto a line run by run, each run checked into the line's
// room: line breaks become "\n", other special units are left out. Line is
// a Cursor or a TextLine.
template <typename Line>
void AppendCleanedRuns(Line& line, std::u16string_view value, bool quoted) {
  const char16_t* const src = value.data();
  const std::size_t n = value.size();
  std::size_t i = 0;
  while (i < n) {
    const std::size_t piece = n - i < kPiece ? n - i : kPiece;
    const std::size_t run = FindSpecial(src + i, piece, quoted);
    if (run > 0) {
      const Room room = line.Reserve(run);
      std::memcpy(room.at, src + i, run * sizeof(char16_t));
      line.Advance(room, run);
      i += run;
    }
    if (run == piece) continue;
    const char16_t c = src[i++];
    if (c == u'\r' || c == u'\n') {
      if (c == u'\r' && i < n && src[i] == u'\n') ++i;  // CR LF is one break
      line.append(u"\\n");
    }
  }
}

// Nonzero when one of the four 16-bit units of w is below 0x20 or is 0x7F.
constexpr std::uint64_t SpecialUnits(std::uint64_t w) noexcept {
  constexpr std::uint64_t kOnes = 0x0001000100010001ULL;
  constexpr std::uint64_t kHigh = 0x8000800080008000ULL;
  const std::uint64_t del = w ^ (0x7F * kOnes);
  return ((w - 0x20 * kOnes) & ~w & kHigh) | ((del - kOnes) & ~del & kHigh);
}

#if QV_VCARD_SSE2
// All ones in each 16-bit lane of v that holds a unit below 0x20 or DEL. A
// unit is below 0x20 exactly when subtracting 0x1F with unsigned saturation
// leaves 0.
QV_VCARD_WRITE_INLINE __m128i SpecialLanes(__m128i v) noexcept {
  const __m128i zero = _mm_setzero_si128();
  return _mm_or_si128(_mm_cmpeq_epi16(_mm_subs_epu16(v, _mm_set1_epi16(0x1F)), zero),
                      _mm_cmpeq_epi16(v, _mm_set1_epi16(0x7F)));
}
#endif

// Copies n code units to dst (writing nothing beyond them) and tells whether
// one of them is below 0x20 (TAB included) or DEL, so that a value without
// one, the usual case, need not be looked at again. Values are moved in
// blocks, the last block overlapping the one before it: sixteen bytes at a
// time where the processor has SSE2 (every x86-64 does), eight otherwise.
QV_VCARD_WRITE_INLINE bool CopyUnitsFindingSpecial(char16_t* dst, const char16_t* src,
                                                   std::size_t n) noexcept {
  if (n < 4) {
    bool special = false;
    for (std::size_t i = 0; i < n; ++i) {
      dst[i] = src[i];
      special |= src[i] < 0x20 || src[i] == 0x7F;
    }
    return special;
  }
  std::uint64_t a, b;
#if QV_VCARD_SSE2
  __m128i special = _mm_setzero_si128();
  if (n < 8) {
    std::memcpy(&a, src, 8);
    std::memcpy(&b, src + n - 4, 8);
    std::memcpy(dst, &a, 8);
    std::memcpy(dst + n - 4, &b, 8);
    special |= SpecialLanes(_mm_set_epi64x(static_cast<long long>(b), static_cast<long long>(a)));
    return _mm_movemask_epi8(special) != 0;
  }
  for (std::size_t i = 0; i + 8 < n; i += 8) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + i));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + i), v);
    special |= SpecialLanes(v);
  }
  const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + n - 8));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + n - 8), v);
  special |= SpecialLanes(v);
  return _mm_movemask_epi8(special) != 0;
#else
  if (n < 8) {
    std::memcpy(&a, src, 8);
    std::memcpy(&b, src + n - 4, 8);
    std::memcpy(dst, &a, 8);
    std::memcpy(dst + n - 4, &b, 8);
    return (SpecialUnits(a) | SpecialUnits(b)) != 0;
  }
  std::uint64_t found = 0;
  for (std::size_t i = 0; i + 8 < n; i += 8) {
    std::memcpy(&a, src + i, 8);
    std::memcpy(&b, src + i + 4, 8);
    std::memcpy(dst + i, &a, 8);
    std::memcpy(dst + i + 4, &b, 8);
    found |= SpecialUnits(a) | SpecialUnits(b);
  }
  std::memcpy(&a, src + n - 8, 8);
  std::memcpy(&b, src + n - 4, 8);
  std::memcpy(dst + n - 8, &a, 8);
  std::memcpy(dst + n - 4, &b, 8);
  return (found | SpecialUnits(a) | SpecialUnits(b)) != 0;
#endif
}

// A value onto a card, piece by piece: one that fits in the room the card
// has is copied whole and looked at again only when it holds a special unit;
// any other goes run by run, making room as it goes, so that the room a card
// needs never depends on the size of a value.
QV_VCARD_WRITE_INLINE void AppendValue(Cursor& line, const Text& value) {
  const std::size_t n = value.size();
  Room room{nullptr, 0};
  if (line.RoomIfAny(n, room) && !CopyUnitsFindingSpecial(room.at, value.data(), n)) {
    line.Advance(room, n);
    return;
  }
  line.AppendCleaned(value, false);
}

inline void Cursor::append(const Text& value) { AppendValue(*this, value); }

// The size of a line: what its body would write, for the room it needs.
// Values count with their stored size (the texts of one line are distinct
// objects, so their sizes cannot add up beyond memory), a Write with its
// bound. A value to be cleaned as a quoted parameter value has no size known
// in advance: the line is then written piece by piece.
class LineSize {
 public:
  QV_VCARD_WRITE_INLINE void append(std::u16string_view s) noexcept { n_ += s.size(); }
  template <std::size_t N>
  QV_VCARD_WRITE_INLINE void append(const char16_t (&)[N]) noexcept {
    n_ += N - 1;
  }
  QV_VCARD_WRITE_INLINE void append(const Text& value) noexcept { n_ += value.size(); }
  QV_VCARD_WRITE_INLINE void push_back(char16_t) noexcept { ++n_; }
  void AppendCleaned(std::u16string_view, bool) noexcept { piecewise_ = true; }
  template <typename Writer>
  QV_VCARD_WRITE_INLINE void Write(std::size_t n, Writer&&) noexcept {
    n_ += n;
  }

  bool piecewise() const noexcept { return piecewise_; }
  std::size_t size() const noexcept { return n_; }

 private:
  std::size_t n_ = 0;
  bool piecewise_ = false;
};

// Writes a line into a room LineSize measured for it: every piece is copied
// where the one before it ended, without a check of its own. A value that
// holds a special unit, or a Write that says it wrote more than its bound
// (it is held to the bound), asks for the line to be written again piece by
// piece, where it is cleaned or refused.
class LineFill {
 public:
  explicit LineFill(const Room& room) noexcept : at_(room.at), begin_(room.at) {}
  LineFill(const LineFill&) = delete;
  LineFill& operator=(const LineFill&) = delete;

  QV_VCARD_WRITE_INLINE void append(std::u16string_view s) noexcept {
    std::memcpy(at_, s.data(), s.size() * sizeof(char16_t));
    at_ += s.size();
  }
  template <std::size_t N>
  QV_VCARD_WRITE_INLINE void append(const char16_t (&s)[N]) noexcept {
    append(std::u16string_view(s, N - 1));
  }
  QV_VCARD_WRITE_INLINE void append(const Text& value) noexcept {
    const std::size_t n = value.size();
    redo_ |= CopyUnitsFindingSpecial(at_, value.data(), n);
    at_ += n;
  }
  QV_VCARD_WRITE_INLINE void push_back(char16_t c) noexcept { *at_++ = c; }
  void AppendCleaned(std::u16string_view, bool) noexcept { redo_ = true; }
  template <typename Writer>
  QV_VCARD_WRITE_INLINE void Write(std::size_t n, Writer&& write) {
    const std::size_t k = write(at_);
    if (QV_VCARD_UNLIKELY(k > n)) {
      redo_ = true;
      return;
    }
    at_ += k;
  }

  // Whether the line must be written again piece by piece.
  bool redo() const noexcept { return redo_; }
  std::size_t written() const noexcept { return static_cast<std::size_t>(at_ - begin_); }

 private:
  char16_t* at_;
  char16_t* const begin_;
  bool redo_ = false;
};

// Writes one content line (or any text) onto the card: body(line) writes the
// line's pieces through append, push_back, AppendCleaned and Write, and is
// called with a LineSize, a LineFill and a Cursor as described at the top.
// body must write the same pieces each time it is called.
template <typename Body>
QV_VCARD_WRITE_INLINE void WriteLine(CardText& card, Body&& body) {
  Cursor line(card);
  LineSize size;
  body(size);
  Room room{nullptr, 0};
  if (!size.piecewise() && line.RoomIfAny(size.size(), room)) {
    LineFill fill(room);
    body(fill);
    if (!fill.redo()) {
      line.Advance(room, fill.written());  // the line's one check
      line.Commit();
      return;
    }
  }
  body(line);
  line.Commit();
}

// A line written into a Text (the reads that return their content line):
// the same Reserve and Advance as a cursor.
class TextLine {
 public:
  explicit TextLine(Text& text) noexcept : text_(text) {}
  Room Reserve(std::size_t n) {
    const std::size_t at = text_.size();
    text_.resize(at + n);
    return {text_.data() + at, n};
  }
  void Advance(const Room& room, std::size_t k) noexcept {
    text_.resize(static_cast<std::size_t>(room.at - text_.data()) +
                 (k < room.size ? k : room.size));
  }
  void append(std::u16string_view s) { text_.append(s); }

 private:
  Text& text_;
};

// Writes a parameter value in double quotes, without its own quotation
// marks, so that nothing in it can end the parameter. Line is a LineSize, a
// LineFill or a Cursor.
template <typename Line>
struct QuotedValue {
  Line& line;
  void append(const Text& value) { line.AppendCleaned(value, true); }
  void append(std::u16string_view fixed) { line.append(fixed); }
};

}  // namespace qv_VCard::writer

#endif
