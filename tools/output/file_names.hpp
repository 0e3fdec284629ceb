// File names for cards saved one per file.
#ifndef QVVCARD_OUTPUT_FILE_NAMES_HPP
#define QVVCARD_OUTPUT_FILE_NAMES_HPP

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "qv_vcard/qvVCard.hpp"

namespace qvvcard {

// The longest file name, in bytes, that common file systems accept.
inline constexpr std::size_t kMaxFileNameBytes = 255;

// The name under which a card is saved, from the card's proposed file name
// (UTF-8, normally ending in ".vcf"). number 1 gives the plain name, 2 and
// up add " (2)", " (3)", ... before ".vcf".
//
// The proposed name is made safe on every common file system: dots and
// blanks at the start (which would hide the file) and at the end (which
// Windows drops) are removed; an empty stem becomes "unnamed"; a stem that
// Windows reserves for a device (CON, PRN, AUX, NUL, CONIN$, CONOUT$,
// COM1-9, LPT1-9, also followed by an extension) gets "_" after the device
// name; a stem too long for kMaxFileNameBytes is cut on a character
// boundary; a slash or NUL that slipped through becomes "_".
std::string CardFileName(std::string_view proposed, unsigned number);

// Whether Windows reserves stem (the file name without ".vcf") for a device.
bool IsReservedOnWindows(std::string_view stem);

// The longest prefix of s of at most max bytes that does not split a UTF-8
// sequence.
std::string_view CutUtf8(std::string_view s, std::size_t max);

// The proposed file name of a card: its formatted name in NFC form (so that
// both spellings of an accented letter keep it), without blanks at either
// end and without the characters file systems refuse (control characters
// and \ / : * ? " < > |), plus ".vcf"; or, when that leaves no name, the
// same made from the organisation name, then from the first e-mail address.
// Every other character, in any script, stays. UTF-8; "" when nothing gives
// a name.
std::string ProposedFileName(const qv_VCard::qvVCard& card);
// The one name of a card for every surface of the tool: ProposedFileName
// made safe as CardFileName(proposed, 1) makes it ("unnamed.vcf" when
// nothing gives a name).
std::string CardFileNameOf(const qv_VCard::qvVCard& card);

// A UTF-8 name without the characters file systems refuse.
std::string WithoutRefusedCharacters(std::string_view utf8);

// A file name in the form case-insensitive, normalising file systems (NTFS,
// APFS, exFAT) compare names: Unicode case folding of the NFC form.
std::string FoldFileName(std::string_view utf8);

// Names as those file systems compare them: a set of folded names, kept as
// 64-bit hashes (two different names sharing one only cost a needless
// " (n)").
class FoldedNames {
 public:
  bool Contains(std::string_view name) const;
  void Add(std::string_view name);

 private:
  static std::uint64_t Key(std::string_view name);
  std::size_t Slot(std::uint64_t key) const;
  std::vector<std::uint64_t> slots_;  // open addressing; 0 is free
  std::size_t count_ = 0;
};

}  // namespace qvvcard

#endif
