// A streaming reader of vCard files (versions 2.1, 3.0 and 4.0), one card
// at a time.
//
// Each content line is unfolded (a line end followed by a blank or a tab;
// in 2.1 also the soft line break "=" of a quoted-printable value, whose
// next line need not start with a blank), its parameters are parsed (2.1's
// bare "CELL" is TYPE=CELL, bare "QUOTED-PRINTABLE" ENCODING=..., TYPE
// lists split at commas, quotes removed), a quoted-printable value is
// decoded and the value converted to UTF-8 from its CHARSET (UTF-8 unless
// said otherwise). Backslash escapes stay in the value: the helpers below
// split and unescape it by the rules of the card's version. BASE64 values
// (photos, keys) are kept as they are, never decoded.
//
// A card's texts are views: of the input's own buffer where a line stands
// there whole and unchanged, of the card's store (Card::text) otherwise. They
// stay valid until the card is read into again, and nothing of a card is
// copied or made anew for the next one: its lines, parameters and store are
// reused, cleared rather than freed.
//
// A broken card (no END:VCARD, a line that is no property, bad
// quoted-printable, bytes that are no character of the charset, a card
// over the limits) comes back with an error and the line it was found on;
// reading goes on with the next card. Memory is bounded by the largest
// card, and by the card limit whatever the input.
#ifndef QVVCARD_VCARD_READER_HPP
#define QVVCARD_VCARD_READER_HPP

#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "card/simd.hpp"
#include "common/scan.hpp"
#include "input/input_stream.hpp"

namespace qvvcard::vcf {

// Buffers larger than this are given back after the card that needed them.
inline constexpr std::size_t kKeptRoom = std::size_t{1} << 20;

// Room for the texts and lists of one card, in blocks that never move:
// what is stored stays where it is until Clear, and Clear keeps the room
// (up to a bound) for the next card.
class TextStore {
 public:
  TextStore() = default;
  TextStore(TextStore&&) noexcept = default;
  TextStore& operator=(TextStore&&) noexcept = default;
  TextStore(const TextStore&) = delete;
  TextStore& operator=(const TextStore&) = delete;

  // n bytes of room, aligned for any record kept here.
  char* Room(std::size_t n) {
    n = (n + kAlign - 1) & ~(kAlign - 1);
    if (block_ < blocks_.size() && blocks_[block_].size - used_ >= n) {
      char* p = blocks_[block_].bytes.get() + used_;
      used_ += n;
      return p;
    }
    return NewRoom(n);
  }
  // Gives back the room after end, which lies in the room taken last.
  void GiveBack(const char* end) noexcept {
    const auto kept = static_cast<std::size_t>(end - blocks_[block_].bytes.get());
    used_ = (kept + kAlign - 1) & ~(kAlign - 1);
  }
  // A copy of bytes.
  std::string_view Copy(std::string_view bytes);
  // A copy of the records [from, from + n).
  template <typename T>
  std::span<T> Copy(const T* from, std::size_t n) {
    static_assert(std::is_trivially_copyable_v<T> && alignof(T) <= kAlign);
    T* to = reinterpret_cast<T*>(Room(n * sizeof(T)));
    for (std::size_t i = 0; i < n; ++i) new (to + i) T(from[i]);
    return {to, n};
  }
  // Empties the store; the room of a large card is given back.
  void Clear() noexcept {
    if (blocks_.size() > 1 || (!blocks_.empty() && blocks_[0].size > kKeptRoom)) Shrink();
    block_ = 0;
    used_ = 0;
  }

 private:
  static constexpr std::size_t kAlign = 8;
  char* NewRoom(std::size_t n);
  // Gives back the blocks beyond kKeptRoom in all.
  void Shrink() noexcept;
  struct Block {
    std::unique_ptr<char[]> bytes;
    std::size_t size = 0;
  };
  std::vector<Block> blocks_;
  std::size_t block_ = 0;  // the block in use
  std::size_t used_ = 0;   // of it
};

struct Param {
  std::string_view name;                     // in capitals
  std::span<const std::string_view> values;  // unquoted; a TYPE list split at its commas
};

struct Line {
  std::string_view group;  // "item1" of "item1.TEL", as written; "" without one
  std::string_view name;   // in capitals
  std::span<const Param> params;
  // Unfolded, quoted-printable decoded, in UTF-8; backslash escapes kept.
  std::string_view value;
  std::uint64_t line = 0;  // where the line starts, from 1

  // The first parameter called name (in capitals), or nullptr.
  const Param* Find(std::string_view name) const;
  // Whether a TYPE parameter holds type (any case).
  bool HasType(std::string_view type) const;
  // Whether the value is BASE64 (ENCODING=BASE64 or B), kept as it stands.
  bool Base64() const;
};

struct Card {
  std::string_view version;  // the VERSION line's value ("2.1", "3.0", "4.0"), "" without one
  std::vector<Line> lines;   // BEGIN, END and VERSION not among them
  std::uint64_t line = 0;    // of BEGIN:VCARD
  // Empty for a card read whole; otherwise what is wrong with it and where.
  std::string error;
  std::uint64_t error_line = 0;
  // What the texts of lines point into when they are not the input's own
  // bytes; the reader's.
  TextStore text;
};

struct Limits {
  std::size_t max_card_bytes = std::size_t{16} << 20;  // of its lines as they stand in the file
  std::size_t max_lines = 100000;                      // content lines of one card
};

class Reader {
 public:
  // Values without a CHARSET are taken as default_charset (an iconv name;
  // UTF-8 unless the caller knows better).
  explicit Reader(InputStream& in, Limits limits = {}, std::string default_charset = "UTF-8");
  ~Reader();
  Reader(const Reader&) = delete;
  Reader& operator=(const Reader&) = delete;

  // Reads the next card into card; false when the input has no more. Text
  // outside any card comes back as a card with an error. The card's texts
  // stay valid until the next call; nothing else may read the input in
  // between.
  bool Next(Card& card);

  // The bytes buffered ahead when the reader stands between two cards
  // (nothing held back, past the start of the input, values UTF-8 unless
  // said otherwise), for a caller that reads a whole card there itself
  // (MapPlainCard); empty otherwise. Consume then moves past what it read.
  std::string_view Ahead() const {
    return started_ && !held_ && default_utf8_ ? in_.Buffered() : std::string_view();
  }
  // The same with at least least bytes where the input is a file that has
  // them: the buffer is topped up first (a pipe is never waited on).
  std::string_view Ahead(std::size_t least) {
    const std::string_view ahead = Ahead();
    if (ahead.empty() || ahead.size() >= least || !in_.size()) return ahead;
    return in_.Gather(in_.capacity());
  }
  void Consume(std::size_t bytes, std::uint64_t lines) {
    in_.Skip(bytes);
    line_no_ += lines;
  }
  // The last line read, from 1.
  std::uint64_t line() const { return line_no_; }
  const Limits& limits() const { return limits_; }

 private:
  class Converter;
  struct Draft;  // a parameter of the line in hand
  // What a line asks of the card: the next line; its end; to read past an
  // agent's card; to end before the BEGIN:VCARD of another (held in
  // line_); to end as over the line limit.
  enum class Step : std::uint8_t { Next, End, Agent, Begin, TooMany };
  bool ReadCard(Card& card);
  // A content line of the card (text, on line), into its next Line.
  Step Take(Card& card, std::string_view text, bool ascii, std::uint64_t line, bool& agent,
            std::string& error);
  // A physical line: into line_, without its line end; false at the end.
  bool ReadPhysical(std::size_t max);
  // Reads the rest of a logical line begun in logical_.
  void Unfold(std::string_view version, std::size_t& budget, bool& over);
  // The content line s (unfolded; ascii: it has no byte above 0x7F) into
  // out, its texts views of s where they stand in it unchanged. Its first
  // name or group ends at s[name_end]; small: it holds a small letter.
  bool ParseLine(Card& card, std::string_view s, std::size_t name_end, bool small, bool ascii,
                 Line& out, std::string& error);
  bool ParseParameters(Card& card, std::string_view s, std::size_t& i, bool ascii, Line& out,
                       std::string& error);
  // The parameters when they are of the plain form; false (nothing read)
  // otherwise.
  bool PlainParameters(Card& card, std::string_view s, std::size_t& i, Line& out);
  // A value in UTF-8 from the bytes of charset (utf8: it is UTF-8 already;
  // ascii: the bytes are ASCII).
  bool TextValue(Card& card, std::string_view bytes, std::string_view charset, bool utf8,
                 bool ascii, std::string_view& value, std::string& error);
  // Before the input's buffer moves on: the card's views of it become
  // views of copies in its store.
  void Evacuate(Card& card);
  void SkipCard();
  void SetError(Card& card, std::uint64_t line, std::string what);

  InputStream& in_;
  Limits limits_;
  std::string default_charset_;
  bool default_utf8_ = true;
  std::unique_ptr<Converter> converter_;
  bool started_ = false;
  std::uint64_t line_no_ = 0;  // of the physical line in line_
  std::string line_;           // the physical line in hand
  bool held_ = false;          // line_ is read but not yet used
  std::string logical_;
  std::uint64_t logical_line_ = 0;
  std::string piece_, converted_;  // a parameter value pieced together; a value converted
  std::size_t count_ = 0;          // lines of the card read so far
  // The first byte of the input's buffer that the card's views may point
  // into, or nullptr.
  const char* in_place_ = nullptr;
  std::vector<Draft> drafts_;
  std::vector<std::string_view> values_, types_;  // of the parameters in hand; of TYPE
};

// The pieces of a value at each separator (';' for the parts of a
// structured value, ',' for the items of a list) that no backslash
// escapes; escapes stay in the pieces.
std::vector<std::string_view> Split(std::string_view value, char separator);
// The text of a value: "\\", "\;" and "\," are unescaped, and in 3.0 and
// 4.0 "\n" or "\N" is a line break (2.1 writes line breaks
// quoted-printable, so "C:\new" stays as it is there); any other backslash
// stays.
std::string Unescape(std::string_view value, std::string_view version);
// The same into out, which has room for value.size() bytes; returns the
// size written (at most value.size()).
std::size_t UnescapeTo(std::string_view value, bool v21, char* out);
// The offset of the first a or b in value from from on, or value.size().
inline std::size_t FindEither(std::string_view value, std::size_t from, char a, char b) {
  const char* const p = value.data();
  const std::size_t n = value.size();
  std::size_t i = from;
#if QV_VCARD_SSE2
  if (i + 16 <= n || (i < n && n >= 16)) {
    const __m128i va = _mm_set1_epi8(a);
    const __m128i vb = _mm_set1_epi8(b);
    const auto hits = [&](std::size_t at) {
      const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + at));
      return static_cast<unsigned>(
          _mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi8(x, va), _mm_cmpeq_epi8(x, vb))));
    };
    for (; i + 16 <= n; i += 16) {
      if (const unsigned h = hits(i); h != 0) return i + static_cast<std::size_t>(__builtin_ctz(h));
    }
    if (i == n) return n;
    // The last bytes in one load that ends where the value does.
    const std::size_t base = n - 16;
    const unsigned h = hits(base) & ~((1u << (i - base)) - 1);
    return h != 0 ? base + static_cast<std::size_t>(__builtin_ctz(h)) : n;
  }
  if (i < n) {
    // A value shorter than a block, in one short load (its zeros neither a
    // nor b, or found past n).
    const __m128i x = LoadShort(reinterpret_cast<const unsigned char*>(p + i), n - i);
    const auto h = static_cast<unsigned>(_mm_movemask_epi8(
        _mm_or_si128(_mm_cmpeq_epi8(x, _mm_set1_epi8(a)), _mm_cmpeq_epi8(x, _mm_set1_epi8(b)))));
    const std::size_t at = h != 0 ? i + static_cast<std::size_t>(__builtin_ctz(h)) : n;
    return at < n ? at : n;
  }
  return n;
#endif
  for (; i < n; ++i) {
    if (p[i] == a || p[i] == b) return i;
  }
  return n;
}

// Whether s is UTF-8 (no overlong forms, no surrogates, nothing above
// U+10FFFF).
bool IsUtf8(std::string_view s);

}  // namespace qvvcard::vcf

#endif
