#include "modules/modCreateGUID.hpp"

#include <algorithm>
#include <array>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace qv_VCard::modules {

namespace {

#if !defined(__SSE2__)
// The two hexadecimal digits of every byte value, upper case.
constexpr auto kHexPairs = [] {
  constexpr char16_t digits[] = u"0123456789ABCDEF";
  std::array<char16_t, 512> t{};
  for (int b = 0; b < 256; ++b) {
    t[2 * b] = digits[b >> 4];
    t[2 * b + 1] = digits[b & 0xF];
  }
  return t;
}();

char16_t* PutByte(char16_t* p, unsigned byte) {
  std::memcpy(p, &kHexPairs[2 * byte], 2 * sizeof(char16_t));
  return p + 2;
}

// The bytes of v, most significant first.
char16_t* PutHex(char16_t* p, std::uint32_t v, int bytes) {
  for (int i = bytes - 1; i >= 0; --i) p = PutByte(p, (v >> (8 * i)) & 0xFF);
  return p;
}

#endif

}  // namespace

int StringFromGUID2(const Guid& guid, char16_t* buffer, int capacity) noexcept {
  constexpr int kNeeded = static_cast<int>(kGuidTextLength) + 1;
  if (buffer == nullptr || capacity < kNeeded) return 0;
  char16_t* p = buffer;
  *p++ = u'{';
#if defined(__SSE2__)
  // The sixteen bytes in text order, split into nibbles (high first), each
  // nibble made a digit: '0' + n, and 7 more for A to F.
  std::uint8_t bytes[16] = {
      static_cast<std::uint8_t>(guid.data1 >> 24), static_cast<std::uint8_t>(guid.data1 >> 16),
      static_cast<std::uint8_t>(guid.data1 >> 8),  static_cast<std::uint8_t>(guid.data1),
      static_cast<std::uint8_t>(guid.data2 >> 8),  static_cast<std::uint8_t>(guid.data2),
      static_cast<std::uint8_t>(guid.data3 >> 8),  static_cast<std::uint8_t>(guid.data3)};
  std::memcpy(bytes + 8, guid.data4.data(), 8);
  const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes));
  const __m128i nibble = _mm_set1_epi8(0x0F);
  const __m128i hi = _mm_and_si128(_mm_srli_epi16(v, 4), nibble);
  const __m128i lo = _mm_and_si128(v, nibble);
  const auto digits = [](__m128i n) {
    const __m128i letter = _mm_and_si128(_mm_cmpgt_epi8(n, _mm_set1_epi8(9)), _mm_set1_epi8(7));
    return _mm_add_epi8(_mm_add_epi8(n, _mm_set1_epi8('0')), letter);
  };
  const __m128i first = digits(_mm_unpacklo_epi8(hi, lo));   // bytes 0-7
  const __m128i second = digits(_mm_unpackhi_epi8(hi, lo));  // bytes 8-15
  const __m128i zero = _mm_setzero_si128();
  char16_t hex[32];
  _mm_storeu_si128(reinterpret_cast<__m128i*>(hex), _mm_unpacklo_epi8(first, zero));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(hex + 8), _mm_unpackhi_epi8(first, zero));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(hex + 16), _mm_unpacklo_epi8(second, zero));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(hex + 24), _mm_unpackhi_epi8(second, zero));
  std::memcpy(p, hex, 8 * sizeof(char16_t));
  p[8] = u'-';
  std::memcpy(p + 9, hex + 8, 4 * sizeof(char16_t));
  p[13] = u'-';
  std::memcpy(p + 14, hex + 12, 4 * sizeof(char16_t));
  p[18] = u'-';
  std::memcpy(p + 19, hex + 16, 4 * sizeof(char16_t));
  p[23] = u'-';
  std::memcpy(p + 24, hex + 20, 12 * sizeof(char16_t));
  p += 36;
#else
  p = PutHex(p, guid.data1, 4);
  *p++ = u'-';
  p = PutHex(p, guid.data2, 2);
  *p++ = u'-';
  p = PutHex(p, guid.data3, 2);
  *p++ = u'-';
  p = PutByte(p, guid.data4[0]);
  p = PutByte(p, guid.data4[1]);
  *p++ = u'-';
  for (std::size_t i = 2; i < 8; ++i) p = PutByte(p, guid.data4[i]);
#endif
  *p++ = u'}';
  *p = u'\0';
  return kNeeded;
}

Status CreateGUID(GuidSource& source, char16_t (&text)[kGuidTextLength]) noexcept {
  Guid guid{};
  const Status s = source.Create(guid);
  if (Failed(s)) return s;
  char16_t buffer[kGuidTextLength + 1];
  const int n = StringFromGUID2(guid, buffer, static_cast<int>(std::size(buffer)));
  std::copy_n(buffer, n - 1, text);
  return kOk;
}

}  // namespace qv_VCard::modules
