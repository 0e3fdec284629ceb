#include "modules/modFileSystemChars.hpp"

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

void ReplaceFileSystemChars(std::u16string_view text, Text& out) {
  for (char16_t unit : text) {
    if (IsFileNameChar(unit)) out.push_back(unit);
  }
}

}  // namespace qv_VCard::modules
