// The reader's own helpers, shared by its files: the character-level
// scanning of lines (frames, names, line feeds, ASCII and UTF-8), the
// decoding of values and the pieces of a parameter in hand. Not for use
// outside the reader.
#ifndef QVVCARD_VCARD_SCAN_HPP
#define QVVCARD_VCARD_SCAN_HPP

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "card/simd.hpp"
#include "common/scan.hpp"
#include "common/text.hpp"
#include "input/vcard_reader.hpp"

namespace qvvcard::vcf {

struct Reader::Draft {
  std::string_view name;
  std::size_t first = 0, count = 0;  // of its values in values_ (TYPE: all of types_)
  bool type = false;
};

namespace scan {

// Outside a card and while a card is skipped only the start of a line
// matters (BEGIN:VCARD, END:VCARD, AGENT:): the rest is read past, not kept.
inline constexpr std::size_t kSkimBytes = 64;
// The first block of a store: room for the copies of an ordinary card.
inline constexpr std::size_t kFirstBlock = std::size_t{4} << 10;

inline bool IsBlank(std::string_view s) {
  // A DOS end-of-file mark (^Z) after the last card is no text either.
  return std::all_of(s.begin(), s.end(),
                     [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\x1A'; });
}

// s without blanks at either end, nor carriage returns at its end.
inline std::string_view TrimBlanksAndReturns(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) {
    s.remove_suffix(1);
  }
  return s;
}

// "BEGIN:VCARD" or "END:VCARD" in any case, blanks after it allowed.
bool IsFrame(std::string_view line, std::string_view word);
// The plain form of a frame, "END:VCARD" in any case and nothing after it,
// compared eight bytes at a time with the letters' case bit set: only a
// letter's partner in the other case has the same bits then.
struct PlainFrame {
  std::size_t size = 0;
  std::uint64_t case_bits[2] = {0, 0}, want[2] = {0, 0};
  constexpr explicit PlainFrame(std::string_view lower) : size(lower.size()) {
    for (std::size_t i = 0; i < size; ++i) {
      const std::uint64_t bit = lower[i] >= 'a' && lower[i] <= 'z' ? 0x20u : 0u;
      case_bits[i / 8] |= bit << (8 * (i % 8));
      want[i / 8] |= std::uint64_t{static_cast<unsigned char>(lower[i])} << (8 * (i % 8));
    }
  }
  bool Is(std::string_view line) const {
    if (line.size() != size) return false;
    std::uint64_t got[2] = {0, 0};
    std::memcpy(&got[0], line.data(), 8);
    std::memcpy(&got[1], line.data() + 8, size - 8);
    return ((got[0] | case_bits[0]) == want[0]) & ((got[1] | case_bits[1]) == want[1]);
  }
};
inline constexpr PlainFrame kPlainBegin("begin:vcard");
inline constexpr PlainFrame kPlainEnd("end:vcard");
inline bool IsBegin(std::string_view line) {
  return kPlainBegin.Is(line) || IsFrame(line, "BEGIN");
}
inline bool IsEnd(std::string_view line) {
  // "EMAIL" and the like are told from "END" by their second letter.
  return kPlainEnd.Is(line) ||
         (line.size() >= 9 && (line[1] | 0x20) == 'n' && IsFrame(line, "END"));
}

// An "AGENT:" line without a value: in 2.1 the agent's card follows on the
// next lines.
bool IsEmptyAgent(std::string_view line);

// Whether the parameters of a line (its text before the value) say
// ENCODING=QUOTED-PRINTABLE, or 2.1's bare QUOTED-PRINTABLE, in any case.
bool QuotedPrintable(std::string_view head);

// The characters of names and groups: letters, digits, "-" and "_".
struct NameChars {
  bool has[256] = {};
  constexpr NameChars() {
    for (int c = 0; c < 256; ++c) {
      has[c] = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
               c == '-' || c == '_';
    }
  }
};
inline constexpr NameChars kNameChars;
inline bool IsNameChar(char c) { return kNameChars.has[static_cast<unsigned char>(c)]; }

// The bytes that end a run of a parameter value's own bytes.
struct ValueStops {
  bool has[256] = {};
  constexpr ValueStops() {
    for (const char c : {'"', ',', ';', ':'}) has[static_cast<unsigned char>(c)] = true;
  }
};
inline constexpr ValueStops kValueStops;

// s in capitals, a copy (s has a small letter).
std::string_view UpperCopy(TextStore& store, std::string_view s);
// s in capitals: s itself when it has no small letter.
std::string_view Upper(TextStore& store, std::string_view s);

// The end of the name or group that starts at p[i] (letters, digits, "-"
// and "_"); small tells whether it holds a small letter.
inline std::size_t NameEnd(const char* p, std::size_t i, std::size_t n, bool& small) {
#if QV_VCARD_SSE2
  // The bytes of b that end a name (stop) and the small letters (lower).
  // A byte is in [lo, hi] when it is at most hi - lo above lo: the
  // difference wraps for any byte below lo.
  const auto marks = [](__m128i b, unsigned& stop, unsigned& lower) {
    const auto in = [](__m128i x, char lo, char hi) {
      const __m128i above = _mm_sub_epi8(x, _mm_set1_epi8(lo));
      return _mm_cmpeq_epi8(_mm_subs_epu8(above, _mm_set1_epi8(static_cast<char>(hi - lo))),
                            _mm_setzero_si128());
    };
    const __m128i ok = _mm_or_si128(
        _mm_or_si128(in(_mm_or_si128(b, _mm_set1_epi8(0x20)), 'a', 'z'), in(b, '0', '9')),
        _mm_or_si128(_mm_cmpeq_epi8(b, _mm_set1_epi8('-')), _mm_cmpeq_epi8(b, _mm_set1_epi8('_'))));
    stop = ~static_cast<unsigned>(_mm_movemask_epi8(ok)) & 0xFFFFu;
    lower = static_cast<unsigned>(_mm_movemask_epi8(in(b, 'a', 'z')));
  };
  unsigned stop = 0, lower = 0;
  if (i + 16 <= n) {
    marks(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i)), stop, lower);
    if (stop != 0) {
      const auto at = static_cast<unsigned>(__builtin_ctz(stop));
      small = (lower & ((1u << at) - 1)) != 0;
      return i + at;
    }
    small = lower != 0;
    i += 16;
  } else if (i + 8 <= n) {
    // Eight bytes of a short line in one load, the zeros after them no
    // name characters.
    marks(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p + i)), stop, lower);
    const auto at = static_cast<unsigned>(__builtin_ctz(stop));
    small = (lower & ((1u << at) - 1)) != 0;
    if (at < 8) return i + at;
    i += 8;
  }
#endif
  for (; i < n && IsNameChar(p[i]); ++i) small = small || (p[i] >= 'a');
  return i;
}

// The offset of the first line feed in p[0, n), or n when there is none;
// ascii tells whether the bytes before it are all ASCII.
inline std::size_t FindLineFeed(const char* p, std::size_t n, bool& ascii) {
  std::size_t i = 0;
  unsigned high = 0;
#if QV_VCARD_SSE2
  const __m128i lf = _mm_set1_epi8('\n');
  __m128i seen = _mm_setzero_si128();
  for (; i + 16 <= n; i += 16) {
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
    const auto hits = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(b, lf)));
    if (hits != 0) {
      const auto at = static_cast<unsigned>(__builtin_ctz(hits));
      const auto before = static_cast<unsigned>(_mm_movemask_epi8(b)) & ((1u << at) - 1);
      ascii = _mm_movemask_epi8(seen) == 0 && before == 0;
      return i + at;
    }
    seen = _mm_or_si128(seen, b);
  }
  high = static_cast<unsigned>(_mm_movemask_epi8(seen));
#endif
  for (; i < n && p[i] != '\n'; ++i) high |= static_cast<unsigned char>(p[i]) & 0x80u;
  ascii = high == 0;
  return i;
}

// The text before the value, up to the first ":" outside double quotes;
// npos when there is none yet.
std::size_t ColonOf(std::string_view line);

// Decodes quoted-printable text into out (room for in.size() bytes), its
// size into size; false at an "=" that starts no escape (its offset in at).
bool DecodeQuotedPrintable(std::string_view in, char* out, std::size_t& size, std::size_t& at);

// The offset of the first byte that is not UTF-8, or npos.
std::size_t InvalidUtf8(std::string_view s);
bool IsUtf8Name(std::string_view charset);

inline bool IsType(std::string_view name) {
  return name.size() == 4 && std::memcmp(name.data(), "TYPE", 4) == 0;
}

}  // namespace scan
}  // namespace qvvcard::vcf

#endif
