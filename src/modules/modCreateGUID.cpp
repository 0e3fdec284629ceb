#include "modules/modCreateGUID.hpp"

#include <algorithm>
#include <array>
#include <cstring>

#include "card/simd.hpp"

namespace qv_VCard::modules {

namespace {

constexpr std::uint32_t ByteSwap32(std::uint32_t v) {
  return (v >> 24) | ((v >> 8) & 0xFF00) | ((v << 8) & 0xFF0000) | (v << 24);
}
constexpr std::uint16_t ByteSwap16(std::uint16_t v) {
  return static_cast<std::uint16_t>((v >> 8) | (v << 8));
}

#if !QV_VCARD_SSE2
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
#if QV_VCARD_SSE2
  // The sixteen bytes in text order, as two 64-bit halves built in
  // registers (data1 to data3 are written most significant byte first);
  // each byte split into nibbles, high first, and each nibble made a digit:
  // '0' + n, and 7 more for A to F.
  std::uint64_t tail = 0;
  std::memcpy(&tail, guid.data4.data(), 8);
  const std::uint64_t head = std::uint64_t{ByteSwap32(guid.data1)} |
                             std::uint64_t{ByteSwap16(guid.data2)} << 32 |
                             std::uint64_t{ByteSwap16(guid.data3)} << 48;
  const __m128i v = _mm_set_epi64x(static_cast<long long>(tail), static_cast<long long>(head));
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
  const __m128i d0 = _mm_unpacklo_epi8(first, zero);   // digits 0-7
  const __m128i d1 = _mm_unpackhi_epi8(first, zero);   // digits 8-15
  const __m128i d2 = _mm_unpacklo_epi8(second, zero);  // digits 16-23
  const __m128i d3 = _mm_unpackhi_epi8(second, zero);  // digits 24-31
  // 8 "-" 4 "-" 4 "-" 4 "-" 12, written in blocks of eight and four digits.
  const auto put4 = [](char16_t* at, __m128i units) {
    _mm_storel_epi64(reinterpret_cast<__m128i*>(at), units);
  };
  _mm_storeu_si128(reinterpret_cast<__m128i*>(p), d0);
  p[8] = u'-';
  put4(p + 9, d1);
  p[13] = u'-';
  put4(p + 14, _mm_srli_si128(d1, 8));
  p[18] = u'-';
  put4(p + 19, d2);
  p[23] = u'-';
  put4(p + 24, _mm_srli_si128(d2, 8));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(p + 28), d3);
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
