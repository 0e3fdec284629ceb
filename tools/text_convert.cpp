#include "text_convert.hpp"

#include <utf8.h>

#include <algorithm>
#include <iterator>

namespace qvvcard {

namespace {

bool IsAscii(std::string_view in) {
  return std::all_of(in.begin(), in.end(),
                     [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

}  // namespace

bool Utf8ToText(std::string_view in, std::u16string& out, std::size_t* bad_offset) {
  out.clear();
  // Most fields are plain ASCII: valid as they are, one unit per byte.
  if (IsAscii(in)) {
    out.resize(in.size());
    std::transform(in.begin(), in.end(), out.begin(),
                   [](char c) { return static_cast<char16_t>(c); });
    return true;
  }
  const auto bad = utf8::find_invalid(in.begin(), in.end());
  if (bad != in.end()) {
    if (bad_offset != nullptr) *bad_offset = static_cast<std::size_t>(bad - in.begin());
    return false;
  }
  out.reserve(in.size());
  utf8::unchecked::utf8to16(in.begin(), in.end(), std::back_inserter(out));
  return true;
}

bool TextToUtf8(std::u16string_view in, std::string& out) {
  out.clear();
  out.reserve(in.size() + in.size() / 2);
  // Runs of ASCII are copied unit by unit; each stretch between them goes
  // through the library, which checks its surrogates (a pair never spans two
  // stretches, since both of its units are above ASCII).
  const auto is_ascii = [](char16_t u) { return u < 0x80; };
  auto at = in.begin();
  while (at != in.end()) {
    const auto ascii_end = std::find_if_not(at, in.end(), is_ascii);
    const std::size_t done = out.size();
    out.resize(done + static_cast<std::size_t>(ascii_end - at));
    std::transform(at, ascii_end, out.begin() + static_cast<std::ptrdiff_t>(done),
                   [](char16_t u) { return static_cast<char>(u); });
    at = std::find_if(ascii_end, in.end(), is_ascii);
    try {
      utf8::utf16to8(ascii_end, at, std::back_inserter(out));
    } catch (const utf8::invalid_utf16&) {
      out.clear();
      return false;
    }
  }
  return true;
}

}  // namespace qvvcard
