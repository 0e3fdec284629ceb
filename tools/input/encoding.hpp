// Inputs in other encodings than UTF-8: Windows-1252 and Latin-1 (CSV saved
// by spreadsheets and Outlook on Western Windows systems) and UTF-16 (their
// "Unicode Text"). Such an input is converted to UTF-8 once, into a
// temporary file (or, for a request body, in memory), and read from there
// like any other.
#ifndef QVVCARD_INPUT_ENCODING_HPP
#define QVVCARD_INPUT_ENCODING_HPP

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "input/input_stream.hpp"

namespace qvvcard {

// Utf16: little or big endian by its byte-order mark.
enum class Encoding : std::uint8_t { Utf8, Cp1252, Latin1, Utf16, Utf16le, Utf16be };

// The names the tool takes for an encoding, in any case: utf-8, utf8,
// windows-1252, cp1252, iso-8859-1, latin1, latin-1, utf-16 (with a
// byte-order mark), utf-16le, utf-16be.
std::optional<Encoding> EncodingNamed(std::string_view name);
// Every such name, for messages and the help.
std::span<const std::string_view> EncodingNames();
// "utf-16le, utf-16be, ..." in one line.
std::string EncodingNameList();
// The name the tool says ("Windows-1252"), and iconv's ("WINDOWS-1252").
const char* NameOf(Encoding e);
const char* IconvNameOf(Encoding e);

// The encoding of an input: the one given (UTF-16 settled by its
// byte-order mark), or else UTF-16 when it starts with a UTF-16 byte-order
// mark, otherwise UTF-8. Looks at the first bytes without consuming them.
Encoding EncodingOf(InputStream& in, std::optional<Encoding> given);

// Whether the rest of in is valid UTF-8 throughout; reads it to its end
// (the caller rewinds).
bool IsUtf8Throughout(InputStream& in);

// Converts the rest of in from the encoding to UTF-8 into a temporary file
// and returns a descriptor of it at its start (a UTF-16 byte-order mark is
// dropped). Bytes that are no character of the encoding refuse the input
// (InputRefused) with their offset; shown names the input.
int DecodeToTemporaryFile(InputStream& in, Encoding from, const std::string& shown);
// The same for bytes held in memory, into out.
void DecodeToUtf8(std::string_view bytes, Encoding from, const std::string& shown,
                  std::string& out);

}  // namespace qvvcard

#endif
