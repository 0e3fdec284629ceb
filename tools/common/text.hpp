// Small text helpers every room of the tool uses: blanks, plurals, ASCII,
// values quoted for messages, and the nearest of a set of names.
#ifndef QVVCARD_COMMON_TEXT_HPP
#define QVVCARD_COMMON_TEXT_HPP

#include <cstdint>
#include <cstring>
#include <span>
#include <string>
#include <string_view>

#include "bridge/names.hpp"
#include "card/simd.hpp"
#include "common/chars.hpp"

namespace qvvcard {

// "1 card", "2 cards".
std::string Plural(std::uint64_t n, std::string_view word);

// Whether every byte of s is ASCII.
inline bool IsAscii(std::string_view s) noexcept {
  // Eight bytes at a time: no byte has its high bit set.
  std::uint64_t high = 0;
  std::size_t i = 0;
  for (; i + 8 <= s.size(); i += 8) {
    std::uint64_t w;
    std::memcpy(&w, s.data() + i, 8);
    high |= w;
  }
  for (; i < s.size(); ++i) high |= static_cast<unsigned char>(s[i]);
  return (high & 0x8080808080808080u) == 0;
}

// a == b, compared in line: quicker than a call for the short texts names,
// keys and the bytes between values are.
inline bool SameBytes(std::string_view a, std::string_view b) noexcept {
  const std::size_t n = a.size();
  if (n != b.size()) return false;
  const char* const p = a.data();
  const char* const q = b.data();
  // A block at a time, the last block overlapping the one before it.
  const auto same = [&](std::size_t at, auto word) {
    decltype(word) x, y;
    std::memcpy(&x, p + at, sizeof x);
    std::memcpy(&y, q + at, sizeof y);
    return x == y;
  };
#if QV_VCARD_SSE2
  if (n >= 16) {
    const auto same16 = [&](std::size_t at) {
      const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + at));
      const __m128i y = _mm_loadu_si128(reinterpret_cast<const __m128i*>(q + at));
      return _mm_movemask_epi8(_mm_cmpeq_epi8(x, y)) == 0xFFFF;
    };
    for (std::size_t i = 0; i + 16 < n; i += 16) {
      if (!same16(i)) return false;
    }
    return same16(n - 16);
  }
#endif
  if (n >= 8) {
    for (std::size_t i = 0; i + 8 < n; i += 8) {
      if (!same(i, std::uint64_t{})) return false;
    }
    return same(n - 8, std::uint64_t{});
  }
  if (n >= 4) return same(0, std::uint32_t{}) && same(n - 4, std::uint32_t{});
  for (std::size_t i = 0; i < n; ++i) {
    if (p[i] != q[i]) return false;
  }
  return true;
}

// s with A-Z as a-z (the system's one case fold, on a whole text).
std::string LowerAscii(std::string_view s);

// The UTF-8 byte-order mark, and whether a text starts with it.
inline constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
inline bool StartsWithByteOrderMark(std::string_view s) noexcept {
  return s.starts_with(kByteOrderMark);
}

// The NFC form of a UTF-8 text (the text itself when it is not valid UTF-8).
std::string ToNfc(std::string_view utf8);

// A short, printable rendering of a value for messages: in double quotes,
// bytes outside printable ASCII (and quotes and backslashes) as \xHH, at
// most 40 bytes and "..." when cut.
std::string Quoted(std::string_view raw);

// The nearest name for a misspelt one, as every adapter finds it.
using qv_VCard::bridge::Nearest;
using qv_VCard::bridge::NearestPropertyName;

}  // namespace qvvcard

#endif
