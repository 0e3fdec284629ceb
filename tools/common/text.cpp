#include "common/text.hpp"

#include <utf8proc.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

#include "card/ascii.hpp"
#include "qv_vcard/qvVCard.hpp"

namespace qvvcard {

std::string Plural(std::uint64_t n, std::string_view word) {
  std::string s = std::to_string(n);
  s += ' ';
  s += word;
  if (n != 1) s += 's';
  return s;
}

std::string LowerAscii(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = qv_VCard::ascii::Fold(c);
  return out;
}

std::string ToNfc(std::string_view utf8) {
  if (IsAscii(utf8)) return std::string(utf8);
  utf8proc_uint8_t* out = nullptr;
  const utf8proc_ssize_t n =
      utf8proc_map(reinterpret_cast<const utf8proc_uint8_t*>(utf8.data()),
                   static_cast<utf8proc_ssize_t>(utf8.size()), &out,
                   static_cast<utf8proc_option_t>(UTF8PROC_COMPOSE | UTF8PROC_STABLE));
  const std::unique_ptr<utf8proc_uint8_t, decltype(&std::free)> owned(out, &std::free);
  if (n < 0) return std::string(utf8);
  return std::string(reinterpret_cast<const char*>(out), static_cast<std::size_t>(n));
}

std::string Quoted(std::string_view raw) {
  constexpr std::size_t kMax = 40;
  std::string out = "\"";
  for (std::size_t i = 0; i < raw.size() && i < kMax; ++i) {
    const auto c = static_cast<unsigned char>(raw[i]);
    if (c >= 0x20 && c < 0x7F && c != '"' && c != '\\') {
      out.push_back(static_cast<char>(c));
    } else {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\x%02X", c);
      out += buf;
    }
  }
  if (raw.size() > kMax) out += "...";
  out += '"';
  return out;
}

}  // namespace qvvcard
