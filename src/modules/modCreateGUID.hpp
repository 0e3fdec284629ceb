// modCreateGUID: a newly created GUID as text.
#ifndef QV_VCARD_MODULES_MODCREATEGUID_HPP
#define QV_VCARD_MODULES_MODCREATEGUID_HPP

#include <cstddef>

#include "qv_vcard/qvVCard.hpp"

namespace qv_VCard::modules {

// "{" 8 "-" 4 "-" 4 "-" 4 "-" 12 "}", upper-case hexadecimal digits.
inline constexpr std::size_t kGuidTextLength = 38;
// The same without the braces.
inline constexpr std::size_t kGuidDigitsLength = kGuidTextLength - 2;

// Writes the text form of a GUID without its braces, kGuidDigitsLength
// units, at out.
void WriteGuidDigits(const Guid& guid, char16_t* out) noexcept;

// Writes the text form of a GUID and a terminating null into buffer, which
// holds capacity characters; returns the characters written including the
// null (39), or 0 when the buffer is too small.
int StringFromGUID2(const Guid& guid, char16_t* buffer, int capacity) noexcept;

// Creates a GUID from the source and returns its 38-character text. A
// failing source is a failing call: no identifier is made up.
Status CreateGUID(GuidSource& source, char16_t (&text)[kGuidTextLength]) noexcept;

}  // namespace qv_VCard::modules

#endif
