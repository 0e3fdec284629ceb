#include "text_convert.hpp"

#include <utf8.h>

#include <iterator>

namespace qvvcard {

bool Utf8ToText(std::string_view in, std::u16string& out, std::size_t* bad_offset) {
  out.clear();
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
  try {
    utf8::utf16to8(in.begin(), in.end(), std::back_inserter(out));
  } catch (const utf8::invalid_utf16&) {
    out.clear();
    return false;
  }
  return true;
}

}  // namespace qvvcard
