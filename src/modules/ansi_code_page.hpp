// The value of one UTF-16 code unit in the system's ANSI code page, read as
// a signed 16-bit number: 0..255 for a single byte, lead * 256 + trail for a
// double-byte character (negative), and the code of "?" for a code unit the
// code page cannot represent.
#ifndef QV_VCARD_MODULES_ANSI_CODE_PAGE_HPP
#define QV_VCARD_MODULES_ANSI_CODE_PAGE_HPP

#include <cstdint>

namespace qv_VCard::detail {

std::int16_t AnsiCode(char16_t unit) noexcept;

}  // namespace qv_VCard::detail

#endif
