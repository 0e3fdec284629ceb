// Inputs in other encodings than UTF-8: Windows-1252 and Latin-1 (CSV saved
// by spreadsheets on Western Windows systems) and UTF-16 (their "Unicode
// Text"). Such an input is converted to UTF-8 once, into a temporary file,
// and read from there like any other; nothing is guessed from the content.
#ifndef QVVCARD_INPUT_ENCODING_HPP
#define QVVCARD_INPUT_ENCODING_HPP

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "input/input_stream.hpp"

namespace qvvcard {

enum class Encoding : std::uint8_t { Utf8, Cp1252, Latin1, Utf16le, Utf16be };

// The names --encoding takes, as the tool writes them; any case is accepted.
inline constexpr const char* kEncodingNames[] = {"utf-8", "cp1252", "latin1", "utf-16le",
                                                 "utf-16be"};
std::optional<Encoding> EncodingNamed(std::string_view name);
const char* NameOf(Encoding e);

// The encoding of an input: the one given, or else UTF-16 when it starts
// with a UTF-16 byte-order mark, otherwise UTF-8. Looks at the first bytes
// without consuming them.
Encoding EncodingOf(InputStream& in, std::optional<Encoding> given);

// Converts the rest of in from the encoding to UTF-8 into a temporary file
// and returns a descriptor of it at its start (a UTF-16 byte-order mark is
// dropped). Bytes that are no character of the encoding refuse the input
// (InputRefused) with their offset; shown names the input.
int DecodeToTemporaryFile(InputStream& in, Encoding from, const std::string& shown);

}  // namespace qvvcard

#endif
