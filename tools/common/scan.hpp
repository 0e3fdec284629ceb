// What the scans of the readers share: the last, shorter block of sixteen
// bytes of a text read without touching a byte beyond it (SSE2 builds), and
// UTF-8 sequences checked and decoded where they stand.
#ifndef QVVCARD_COMMON_SCAN_HPP
#define QVVCARD_COMMON_SCAN_HPP

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "card/simd.hpp"

namespace qvvcard {

#if QV_VCARD_SSE2
// The n < 16 bytes at p in a block, the rest zero, read in at most two
// overlapping loads of the bytes themselves.
inline __m128i LoadShort(const unsigned char* p, std::size_t n) noexcept {
  const auto load = [p](std::size_t at, auto word) {
    std::memcpy(&word, p + at, sizeof word);
    return word;
  };
  if (n >= 8) {
    const std::uint64_t head = load(0, std::uint64_t{});
    const std::uint64_t tail = n == 8 ? 0 : load(n - 8, std::uint64_t{}) >> (8 * (16 - n));
    return _mm_set_epi64x(static_cast<long long>(tail), static_cast<long long>(head));
  }
  std::uint64_t word = 0;
  if (n >= 4) {
    // Shifted as 64 bits: for n == 4 all of it goes.
    const std::uint64_t tail = std::uint64_t{load(n - 4, std::uint32_t{})} >> (8 * (8 - n));
    word = load(0, std::uint32_t{}) | (tail << 32);
  } else {
    for (std::size_t i = 0; i < n; ++i) word |= std::uint64_t{p[i]} << (8 * i);
  }
  return _mm_cvtsi64_si128(static_cast<long long>(word));
}
#endif

// The sequence of two to four bytes at p (avail of them readable), whose
// lead byte p[0] is above ASCII, as one or two UTF-16 units at out (units
// says how many): its length in bytes, or 0 when it is no well-formed
// sequence (a stray continuation byte, an overlong form, an encoded
// surrogate, a code point above U+10FFFF, or one cut off by the end).
[[gnu::always_inline]] inline std::size_t DecodeSequence(const unsigned char* p, std::size_t avail,
                                                         char16_t* out,
                                                         std::size_t& units) noexcept {
  const unsigned lead = p[0];
  const auto continuation = [](unsigned b) { return (b & 0xC0u) == 0x80u; };
  units = 1;
  if (lead < 0xC2) return 0;
  if (lead < 0xE0) {
    if (avail < 2 || !continuation(p[1])) return 0;
    out[0] = static_cast<char16_t>(((lead & 0x1Fu) << 6) | (p[1] & 0x3Fu));
    return 2;
  }
  // The second byte's range is narrower after some leads: it rules out
  // overlong forms, surrogates and code points above U+10FFFF.
  const unsigned second = avail < 2 ? 0 : p[1];
  if (lead < 0xF0) {
    const unsigned low = lead == 0xE0 ? 0xA0 : 0x80, high = lead == 0xED ? 0x9F : 0xBF;
    if (avail < 3 || second < low || second > high || !continuation(p[2])) return 0;
    out[0] =
        static_cast<char16_t>(((lead & 0x0Fu) << 12) | ((second & 0x3Fu) << 6) | (p[2] & 0x3Fu));
    return 3;
  }
  const unsigned low = lead == 0xF0 ? 0x90 : 0x80, high = lead == 0xF4 ? 0x8F : 0xBF;
  if (lead > 0xF4 || avail < 4 || second < low || second > high || !continuation(p[2]) ||
      !continuation(p[3])) {
    return 0;
  }
  const std::uint32_t above =
      (((lead & 0x07u) << 18) | ((second & 0x3Fu) << 12) | ((p[2] & 0x3Fu) << 6) | (p[3] & 0x3Fu)) -
      0x10000u;
  out[0] = static_cast<char16_t>(0xD800u + (above >> 10));
  out[1] = static_cast<char16_t>(0xDC00u + (above & 0x3FFu));
  units = 2;
  return 4;
}

}  // namespace qvvcard

#endif
