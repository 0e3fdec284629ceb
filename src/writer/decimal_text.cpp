#include "writer/decimal_text.hpp"

#include <array>
#include <cstdint>
#include <cstring>

namespace qv_VCard::writer {

namespace {

constexpr std::uint64_t kPow10[] = {
    1ULL,       10ULL,       100ULL,       1000ULL,       10000ULL,       100000ULL,
    1000000ULL, 10000000ULL, 100000000ULL, 1000000000ULL, 10000000000ULL, 100000000000ULL,
};

void PutPair(char16_t* p, std::uint32_t v) {
  std::memcpy(p, &kTwoDigits[2 * v], 2 * sizeof(char16_t));
}

}  // namespace

std::size_t WriteSignificant7(float magnitude, char16_t* out) noexcept {
  // magnitude = m * 2^-s exactly, m a 24-bit integer.
  std::uint32_t bits;
  std::memcpy(&bits, &magnitude, sizeof bits);
  const int exponent = static_cast<int>((bits >> 23) & 0xFF);
  const std::uint64_t m = (bits & 0x7FFFFF) | 0x800000;
  const int s = 150 - exponent;  // 1..38 in the range served

  // Seven digits: q = floor(magnitude * 10^k) with 10^6 <= q < 10^7. The
  // estimate from the binary exponent is at most one off.
  const int log2 = exponent - 127;
  int k = 6 - (log2 * 1233 >> 12);  // 1233 / 4096 is just above log10(2)
  std::uint64_t n = 0;
  std::uint64_t q = 0;
  for (;;) {
    n = m * kPow10[k];
    q = n >> s;
    if (q >= 10000000) {
      --k;
    } else if (q < 1000000) {
      ++k;
    } else {
      break;
    }
  }
  // Round the remainder n mod 2^s to nearest, a tie to even.
  const std::uint64_t rest = n & ((std::uint64_t{1} << s) - 1);
  const std::uint64_t half = std::uint64_t{1} << (s - 1);
  if (rest > half || (rest == half && (q & 1) != 0)) ++q;
  if (q == 10000000) {  // 9999999.5 and up became a digit longer
    q = 1000000;
    --k;
  }

  // The seven digits: one, then three pairs; then zeros, so that the digits
  // can be moved eight at a time.
  char16_t digits[16] = {};
  const auto q32 = static_cast<std::uint32_t>(q);
  digits[0] = static_cast<char16_t>(u'0' + q32 / 1000000);
  const std::uint32_t rest6 = q32 % 1000000;
  PutPair(digits + 1, rest6 / 10000);
  PutPair(digits + 3, rest6 / 100 % 100);
  PutPair(digits + 5, rest6 % 100);
  int last = 6;  // the last digit kept: trailing zeros of the fraction go
  while (last >= 7 - k && last > 0 && digits[last] == u'0') --last;
  char16_t* p = out;
  if (k > 6) {
    // Below 1: "0." and the k - 7 (at most 3) zeros before the first digit.
    std::memcpy(p, u"0.0000", 6 * sizeof(char16_t));
    p += 2 + (k - 7);
    std::memcpy(p, digits, 8 * sizeof(char16_t));
    return static_cast<std::size_t>(p + last + 1 - out);
  }
  const int whole = 7 - k;  // digits before the point
  std::memcpy(p, digits, 8 * sizeof(char16_t));
  p += whole;
  if (last >= whole) {
    *p++ = u'.';
    std::memcpy(p, digits + whole, 8 * sizeof(char16_t));
    p += last + 1 - whole;
  }
  return static_cast<std::size_t>(p - out);
}

}  // namespace qv_VCard::writer
