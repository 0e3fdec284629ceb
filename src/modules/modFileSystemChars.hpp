// modFileSystemChars: removing characters that file systems refuse.
#ifndef QV_VCARD_MODULES_MODFILESYSTEMCHARS_HPP
#define QV_VCARD_MODULES_MODFILESYSTEMCHARS_HPP

#include "qv_vcard/qvVCard.hpp"

namespace qv_VCard::modules {

// True when a code unit may stand in a file name: its ANSI code is 32 or
// more and is none of \ / : * ? " < > |.
bool IsFileNameChar(char16_t unit) noexcept;

// Appends to out the characters of text that may stand in a file name, in
// their order and UTF-16 form.
void ReplaceFileSystemChars(std::u16string_view text, Text& out);
// The same on text itself: the characters kept move to its front.
void ReplaceFileSystemCharsInPlace(Text& text) noexcept;

}  // namespace qv_VCard::modules

#endif
