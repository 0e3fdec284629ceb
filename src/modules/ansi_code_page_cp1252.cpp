// Where the platform has no ANSI code page, Windows-1252 (Western European)
// stands in for it, with "?" for what it cannot represent.
#include "modules/ansi_code_page.hpp"

namespace qv_VCard::detail {

namespace {

// Bytes 0x80 to 0x9F of Windows-1252 and the characters they hold. The five
// bytes without a character of their own (0x81, 0x8D, 0x8F, 0x90, 0x9D)
// round-trip the C1 control of the same value, as the system conversion
// does.
constexpr char16_t kHighHalf[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,  // 80-87
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,  // 88-8F
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 90-97
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,  // 98-9F
};

constexpr std::int16_t kReplacement = '?';

}  // namespace

std::int16_t AnsiCode(char16_t unit) noexcept {
  if (unit < 0x80 || (unit >= 0xA0 && unit <= 0xFF)) return static_cast<std::int16_t>(unit);
  for (int i = 0; i < 32; ++i) {
    if (kHighHalf[i] == unit) return static_cast<std::int16_t>(0x80 + i);
  }
  return kReplacement;
}

}  // namespace qv_VCard::detail
