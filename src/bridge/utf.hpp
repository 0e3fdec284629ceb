// UTF-8 at the edges (C callers, the command-line tool, the server),
// UTF-16 inside the card: the one codec of the adapters, on utfcpp, with a
// shortcut for the ASCII and two-byte stretches most texts are made of.
#ifndef QV_VCARD_BRIDGE_UTF_HPP
#define QV_VCARD_BRIDGE_UTF_HPP

#include <cstddef>
#include <string>
#include <string_view>

namespace qv_VCard::bridge {

// Converts well-formed UTF-8 to UTF-16 into out (replacing its contents).
// Returns false for anything else (stray or missing continuation bytes,
// overlong forms, encoded surrogates, code points above U+10FFFF) and then
// sets bad_offset, when given, to the byte offset of the first bad sequence.
bool Utf8ToText(std::string_view in, std::u16string& out, std::size_t* bad_offset = nullptr);

// Converts UTF-16 to UTF-8 into out (replacing its contents). Returns false
// when in holds an unpaired surrogate.
bool TextToUtf8(std::u16string_view in, std::string& out);

}  // namespace qv_VCard::bridge

#endif
