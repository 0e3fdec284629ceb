// File names for cards saved one per file.
#ifndef QVVCARD_FILE_NAMES_HPP
#define QVVCARD_FILE_NAMES_HPP

#include <cstddef>
#include <string>
#include <string_view>

namespace qvvcard {

// The longest file name, in bytes, that common file systems accept.
inline constexpr std::size_t kMaxFileNameBytes = 255;

// The name under which a card is saved, from the card's proposed file name
// (UTF-8, normally ending in ".vcf"). number 1 gives the plain name, 2 and
// up add " (2)", " (3)", ... before ".vcf".
//
// The proposed name is made safe on every common file system: an empty stem
// becomes "unnamed"; dots and blanks at the end of the stem, which Windows
// drops, are removed; a stem that Windows reserves for a device (CON, PRN,
// AUX, NUL, COM1-9, LPT1-9, also followed by an extension) gets "_" after the
// device name; a stem too long for kMaxFileNameBytes is cut on a character
// boundary; a slash or NUL that slipped through becomes "_".
std::string CardFileName(std::string_view proposed, unsigned number);

// Whether Windows reserves stem (the file name without ".vcf") for a device.
bool IsReservedOnWindows(std::string_view stem);

// The longest prefix of s of at most max bytes that does not split a UTF-8
// sequence.
std::string_view CutUtf8(std::string_view s, std::size_t max);

}  // namespace qvvcard

#endif
