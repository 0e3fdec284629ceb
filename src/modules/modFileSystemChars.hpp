// modFileSystemChars: removing characters that file systems refuse.
#ifndef QV_VCARD_MODULES_MODFILESYSTEMCHARS_HPP
#define QV_VCARD_MODULES_MODFILESYSTEMCHARS_HPP

#include "qv_vcard/qvVCard.hpp"

namespace qv_VCard::modules {

// True when a code unit may stand in a file name: its ANSI code is 32 or
// more and is none of \ / : * ? " < > |.
bool IsFileNameChar(char16_t unit) noexcept;

// Keeps in text the characters that may stand in a file name, in their
// order and UTF-16 form: they move to its front and the rest is cut off.
void ReplaceFileSystemChars(Text& text) noexcept;

}  // namespace qv_VCard::modules

#endif
