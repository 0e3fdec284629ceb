// Helpers of characters that depend on nothing, so that the HTTP layer
// uses them too: hexadecimal digits (for quoted-printable, JSON and URL
// escapes and UIDs) and the trimming of blanks.
#ifndef QVVCARD_COMMON_CHARS_HPP
#define QVVCARD_COMMON_CHARS_HPP

#include <string_view>

namespace qvvcard {

// The value of a hexadecimal digit of either case, or -1.
constexpr int HexDigitValue(char c) noexcept {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// s without the blanks and tabs at either end.
inline std::string_view TrimBlanks(std::string_view s) noexcept {
  // Mostly there is nothing to trim: both ends are above the blank.
  if (s.empty() ||
      (static_cast<unsigned char>(s.front()) > ' ' && static_cast<unsigned char>(s.back()) > ' ')) {
    return s;
  }
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

}  // namespace qvvcard

#endif
