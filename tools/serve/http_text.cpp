#include "serve/http_text.hpp"

#include <utf8proc.h>

#include <cstdio>
#include <cstdlib>
#include <memory>

#include "card/ascii.hpp"
#include "common/text.hpp"

namespace qvvcard {

namespace {

struct MallocFree {
  void operator()(utf8proc_uint8_t* p) const { std::free(p); }
};

}  // namespace

std::string AsciiFileName(std::string_view utf8) {
  // Compatibility decomposition splits letters from their accents (and
  // ligatures into letters); the accents are then dropped.
  utf8proc_uint8_t* mapped = nullptr;
  const utf8proc_ssize_t n = utf8proc_map(
      reinterpret_cast<const utf8proc_uint8_t*>(utf8.data()),
      static_cast<utf8proc_ssize_t>(utf8.size()), &mapped,
      static_cast<utf8proc_option_t>(UTF8PROC_COMPAT | UTF8PROC_DECOMPOSE | UTF8PROC_STRIPMARK));
  std::unique_ptr<utf8proc_uint8_t, MallocFree> owned(mapped);
  const std::string_view text =
      n >= 0 ? std::string_view(reinterpret_cast<const char*>(mapped), static_cast<std::size_t>(n))
             : utf8;
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c >= 0x80) {
      // One "_" per character: skip its continuation bytes.
      out.push_back('_');
      while (i + 1 < text.size() && (static_cast<unsigned char>(text[i + 1]) & 0xC0) == 0x80) ++i;
    } else if (c < 0x20 || c == 0x7F || c == '"' || c == '\\') {
      out.push_back('_');
    } else {
      out.push_back(static_cast<char>(c));
    }
  }
  return out;
}

std::string PercentEncodeValue(std::string_view utf8) {
  static constexpr std::string_view kPlain = "!#$&+-.^_`|~";
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(utf8.size() * 3);
  for (const char ch : utf8) {
    const auto c = static_cast<unsigned char>(ch);
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
        kPlain.find(ch) != std::string_view::npos) {
      out.push_back(ch);
    } else {
      out.push_back('%');
      out.push_back(kHex[c >> 4]);
      out.push_back(kHex[c & 0xF]);
    }
  }
  return out;
}

std::string AttachmentDisposition(std::string_view utf8_name) {
  return "attachment; filename=\"" + AsciiFileName(utf8_name) + "\"; filename*=UTF-8''" +
         PercentEncodeValue(utf8_name);
}

MediaType ParseMediaType(std::string_view header) {
  MediaType m;
  const std::size_t semicolon = header.find(';');
  for (const char c : TrimBlanks(header.substr(0, semicolon)))
    m.type.push_back(qv_VCard::ascii::Fold(c));
  std::string_view rest =
      semicolon == std::string_view::npos ? std::string_view() : header.substr(semicolon + 1);
  while (!rest.empty()) {
    const std::size_t next = rest.find(';');
    const std::string_view param = TrimBlanks(rest.substr(0, next));
    rest = next == std::string_view::npos ? std::string_view() : rest.substr(next + 1);
    const std::size_t eq = param.find('=');
    if (eq == std::string_view::npos) continue;
    std::string name;
    for (const char c : TrimBlanks(param.substr(0, eq))) name.push_back(qv_VCard::ascii::Fold(c));
    if (name != "charset") continue;
    std::string_view value = TrimBlanks(param.substr(eq + 1));
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"') {
      value = value.substr(1, value.size() - 2);
    }
    m.charset.clear();
    for (const char c : value) m.charset.push_back(qv_VCard::ascii::Fold(c));
    m.has_charset = true;
  }
  return m;
}

std::string LogSafe(std::string_view text, std::size_t max) {
  std::string out;
  const std::size_t n = text.size() < max ? text.size() : max;
  for (std::size_t i = 0; i < n; ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c > 0x20 && c < 0x7F && c != '\\') {
      out.push_back(static_cast<char>(c));
    } else {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\x%02X", c);
      out += buf;
    }
  }
  if (n < text.size()) out += "...";
  return out;
}

}  // namespace qvvcard
