#include "modules/modFileSystemChars.hpp"

#include <array>

#include "modules/ansi_code_page.hpp"

namespace qv_VCard::modules {

bool IsFileNameChar(char16_t unit) noexcept {
  const std::int16_t code = detail::AnsiCode(unit);
  if (code < 32) return false;  // control characters and every double-byte code
  switch (code) {
    case 92:   // backslash
    case 47:   // slash
    case 58:   // colon
    case 42:   // asterisk
    case 63:   // question mark (also what the code page puts for what it lacks)
    case 34:   // quotation mark
    case 60:   // less-than sign
    case 62:   // greater-than sign
    case 124:  // vertical bar
      return false;
    default:
      return true;
  }
}

namespace {

// The answer of IsFileNameChar for the ASCII units, which map to themselves
// in every ANSI code page.
constexpr auto kAsciiFileNameChars = [] {
  std::array<bool, 128> allowed{};
  for (int c = 32; c < 128; ++c) {
    allowed[static_cast<std::size_t>(c)] = c != 92 && c != 47 && c != 58 && c != 42 && c != 63 &&
                                           c != 34 && c != 60 && c != 62 && c != 124;
  }
  return allowed;
}();

}  // namespace

void ReplaceFileSystemChars(Text& text) noexcept {
  // The retained units move to the front in their order; k counts them.
  std::size_t k = 0;
  for (const char16_t unit : text) {
    const bool keep = unit < 128 ? kAsciiFileNameChars[unit] : IsFileNameChar(unit);
    if (keep) text[k++] = unit;
  }
  text.resize(k);
}

}  // namespace qv_VCard::modules
