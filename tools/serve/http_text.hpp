// Small pieces of HTTP text: file names in Content-Disposition, media
// types, and request parts made safe for the log.
#ifndef QVVCARD_SERVE_HTTP_TEXT_HPP
#define QVVCARD_SERVE_HTTP_TEXT_HPP

#include <cstddef>
#include <string>
#include <string_view>

namespace qvvcard {

// An ASCII stand-in for a UTF-8 file name, for clients that do not read
// filename*: accents are dropped ("é" gives "e"), every other character
// beyond ASCII, and any quote, backslash or control character, becomes "_".
std::string AsciiFileName(std::string_view utf8);

// Percent-encodes everything but the characters RFC 5987 lets stand as they
// are (letters, digits and !#$&+-.^_`|~).
std::string PercentEncodeValue(std::string_view utf8);

// attachment; filename="<ASCII stand-in>"; filename*=UTF-8''<percent-encoded>
std::string AttachmentDisposition(std::string_view utf8_name);

// A Content-Type header taken apart: the type and subtype in lower case, and
// the charset parameter (lower case, quotes removed) when there is one.
struct MediaType {
  std::string type;
  std::string charset;
  bool has_charset = false;
  // No charset, or UTF-8 (or its subset US-ASCII).
  bool Utf8() const { return !has_charset || charset == "utf-8" || charset == "us-ascii"; }
};
MediaType ParseMediaType(std::string_view header);

// text for a log line: bytes outside printable ASCII as \xHH, at most max
// bytes of the original, "..." when cut.
std::string LogSafe(std::string_view text, std::size_t max = 200);

}  // namespace qvvcard

#endif
