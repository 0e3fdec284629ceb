// Hexadecimal digits, for every reader of escapes (quoted-printable, JSON,
// URLs) and of UIDs. Depends on nothing, so that the HTTP layer may use it.
#ifndef QVVCARD_COMMON_HEX_HPP
#define QVVCARD_COMMON_HEX_HPP

namespace qvvcard {

// The value of a hexadecimal digit of either case, or -1.
constexpr int HexDigitValue(char c) noexcept {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace qvvcard

#endif
