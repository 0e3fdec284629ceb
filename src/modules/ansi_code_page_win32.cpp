// The system's ANSI code page, through WideCharToMultiByte: one code unit at
// a time, no best-fit mapping (a character the code page lacks becomes the
// default character "?" instead of a look-alike letter).
#include <windows.h>

#include "modules/ansi_code_page.hpp"

namespace qv_VCard::detail {

std::int16_t AnsiCode(char16_t unit) noexcept {
  constexpr std::int16_t kReplacement = '?';
  const wchar_t wide = static_cast<wchar_t>(unit);
  unsigned char bytes[4] = {};
  int n;
  if (GetACP() == CP_UTF8) {
    // UTF-8 as the ANSI code page accepts neither flags nor a default
    // character; a code unit it cannot convert yields nothing.
    n = WideCharToMultiByte(CP_ACP, 0, &wide, 1, reinterpret_cast<char*>(bytes), sizeof bytes,
                            nullptr, nullptr);
  } else {
    char default_char[] = "?";
    BOOL used_default = FALSE;
    n = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, &wide, 1, reinterpret_cast<char*>(bytes),
                            sizeof bytes, default_char, &used_default);
  }
  switch (n) {
    case 1:
      return static_cast<std::int16_t>(bytes[0]);
    case 2:
      // Lead byte * 256 + trail byte, read as a signed 16-bit number.
      return static_cast<std::int16_t>(static_cast<std::uint16_t>((bytes[0] << 8) | bytes[1]));
    default:
      return kReplacement;
  }
}

}  // namespace qv_VCard::detail
