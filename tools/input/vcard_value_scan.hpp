// The mapping's scans of a value: the pieces between its separators, and
// whether a text is in the form the card keeps its texts in. Not for use
// outside the mapping.
#ifndef QVVCARD_VCARD_VALUE_SCAN_HPP
#define QVVCARD_VCARD_VALUE_SCAN_HPP

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "card/simd.hpp"
#include "common/scan.hpp"
#include "input/vcard_reader.hpp"

namespace qvvcard::vcf::mapping {

// Calls f with each piece of value between the separators no backslash
// escapes, escapes kept (as Split gives them, without a vector), and
// whether it holds a backslash.
template <typename F>
void ForEachPiece(std::string_view value, char separator, F&& f) {
  std::size_t start = 0;
  bool escaped = false;
#if QV_VCARD_SSE2
  // A value of at most thirty-two bytes, the usual one: its separators and
  // backslashes found in one or two loads, then taken bit by bit.
  if (const std::size_t n = value.size(); n <= 32) {
    const auto* const p = reinterpret_cast<const unsigned char*>(value.data());
    const __m128i lo =
        n >= 16 ? _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)) : LoadShort(p, n);
    const __m128i hi = n == 32  ? _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16))
                       : n > 16 ? LoadShort(p + 16, n - 16)
                                : _mm_setzero_si128();
    const auto mask = [lo, hi](char c) {
      const __m128i v = _mm_set1_epi8(c);
      return static_cast<std::uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(lo, v))) |
             static_cast<std::uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(hi, v))) << 16;
    };
    const std::uint32_t backslashes = mask('\\');
    for (std::uint32_t marks = mask(separator) | backslashes; marks != 0;) {
      const auto i = static_cast<std::size_t>(__builtin_ctz(marks));
      const std::uint32_t bit = std::uint32_t{1} << i;
      marks &= ~bit;
      if ((backslashes & bit) != 0) {
        escaped = true;
        marks &= ~(bit << 1);  // the byte it escapes
        continue;
      }
      f(std::string_view(value.data() + start, i - start), escaped);
      start = i + 1;
      escaped = false;
    }
    f(std::string_view(value.data() + start, n - start), escaped);
    return;
  }
#endif
  for (std::size_t i = 0;;) {
    i = FindEither(value, i, separator, '\\');
    if (i >= value.size()) break;
    if (value[i] == '\\') {
      escaped = true;
      i += 2;
      continue;
    }
    f(std::string_view(value.data() + start, i - start), escaped);
    start = ++i;
    escaped = false;
  }
  f(std::string_view(value.data() + start, value.size() - start), escaped);
}

#if QV_VCARD_SSE2
// The same for the m <= 64 bytes at p, which end the text when last
// (carried: in, their first byte follows a backslash; out, a backslash
// ends them): their backslashes and separators as two masks, then each
// backslash with the byte after it.
[[gnu::always_inline]] inline bool InCardFormPart(const char* p, std::size_t m, bool last,
                                                  bool& carried) {
  std::uint64_t backslashes = 0, separators = 0;
  for (std::size_t k = 0; k < m; k += 16) {
    const auto* const b = reinterpret_cast<const unsigned char*>(p + k);
    const __m128i x =
        m - k >= 16 ? _mm_loadu_si128(reinterpret_cast<const __m128i*>(b)) : LoadShort(b, m - k);
    const auto mask = [x](char c) {
      return static_cast<std::uint64_t>(
          static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(x, _mm_set1_epi8(c)))));
    };
    backslashes |= mask('\\') << k;
    separators |= (mask(';') | mask(',')) << k;
  }
  if (carried) {
    if (((backslashes | separators) & 1) == 0) return false;
    backslashes &= ~std::uint64_t{1};
    separators &= ~std::uint64_t{1};
    carried = false;
  }
  while (backslashes != 0) {
    const auto i = static_cast<std::size_t>(__builtin_ctzll(backslashes));
    if (i + 1 == m) {
      if (last) return false;  // the last byte of the text
      carried = true;
      break;
    }
    const std::uint64_t next = std::uint64_t{2} << i;
    if (((backslashes | separators) & next) == 0) return false;
    backslashes &= ~(next | next >> 1);
    separators &= ~next;
  }
  return separators == 0;
}
#endif

// Whether value, which holds a backslash, is a text in the form the card
// keeps its texts in: a backslash before each backslash, ";" and ",", and
// before nothing else (3.0 and 4.0). Undone here, such a text would only be
// escaped the same way again for the card.
inline bool InCardForm(std::string_view value) {
  const char* const p = value.data();
  const std::size_t n = value.size();
#if QV_VCARD_SSE2
  // Sixty-four bytes at a time; mostly there are no more.
  bool carried = false;
  if (n <= 64) return InCardFormPart(p, n, true, carried);
  for (std::size_t c = 0; c < n; c += 64) {
    const std::size_t m = n - c < 64 ? n - c : 64;
    if (!InCardFormPart(p + c, m, c + m == n, carried)) return false;
  }
  return true;
#else
  const auto escapable = [](char c) { return c == '\\' || c == ';' || c == ','; };
  for (std::size_t i = 0; i < n; ++i) {
    if (p[i] == ';' || p[i] == ',') return false;
    if (p[i] == '\\' && (++i == n || !escapable(p[i]))) return false;
  }
  return true;
#endif
}

}  // namespace qvvcard::vcf::mapping

#endif
