#include "capi/utf.hpp"

namespace qv_VCard::capi {
namespace {

constexpr bool IsHighSurrogate(char32_t c) { return c >= 0xD800 && c <= 0xDBFF; }
constexpr bool IsLowSurrogate(char32_t c) { return c >= 0xDC00 && c <= 0xDFFF; }
constexpr bool IsContinuation(unsigned char b) { return (b & 0xC0) == 0x80; }

}  // namespace

bool DecodeUtf8(std::string_view in, std::u16string& out) {
  out.clear();
  out.reserve(in.size());
  std::size_t i = 0;
  while (i < in.size()) {
    const auto lead = static_cast<unsigned char>(in[i]);
    std::size_t extra;
    char32_t c;
    char32_t min;
    if (lead < 0x80) {
      out.push_back(static_cast<char16_t>(lead));
      ++i;
      continue;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
      extra = 1, c = lead & 0x1F, min = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      extra = 2, c = lead & 0x0F, min = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      extra = 3, c = lead & 0x07, min = 0x10000;
    } else {
      out.clear();  // a stray continuation byte, C0/C1 or F5..FF
      return false;
    }
    if (in.size() - i <= extra) {
      out.clear();
      return false;
    }
    for (std::size_t k = 1; k <= extra; ++k) {
      const auto b = static_cast<unsigned char>(in[i + k]);
      if (!IsContinuation(b)) {
        out.clear();
        return false;
      }
      c = (c << 6) | (b & 0x3F);
    }
    if (c < min || c > 0x10FFFF || IsHighSurrogate(c) || IsLowSurrogate(c)) {
      out.clear();
      return false;
    }
    if (c >= 0x10000) {
      c -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (c >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(c));
    }
    i += extra + 1;
  }
  return true;
}

std::size_t Utf8Length(std::u16string_view in) noexcept {
  std::size_t n = 0;
  for (std::size_t i = 0; i < in.size(); ++i) {
    const char32_t c = in[i];
    if (c < 0x80) {
      n += 1;
    } else if (c < 0x800) {
      n += 2;
    } else if (IsHighSurrogate(c) && i + 1 < in.size() && IsLowSurrogate(in[i + 1])) {
      n += 4;
      ++i;
    } else if (IsHighSurrogate(c) || IsLowSurrogate(c)) {
      return kNotEncodable;
    } else {
      n += 3;
    }
  }
  return n;
}

void EncodeUtf8(std::u16string_view in, char* dst) noexcept {
  for (std::size_t i = 0; i < in.size(); ++i) {
    char32_t c = in[i];
    if (IsHighSurrogate(c)) c = 0x10000 + ((c - 0xD800) << 10) + (in[++i] - 0xDC00);
    if (c < 0x80) {
      *dst++ = static_cast<char>(c);
    } else if (c < 0x800) {
      *dst++ = static_cast<char>(0xC0 | (c >> 6));
      *dst++ = static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      *dst++ = static_cast<char>(0xE0 | (c >> 12));
      *dst++ = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      *dst++ = static_cast<char>(0x80 | (c & 0x3F));
    } else {
      *dst++ = static_cast<char>(0xF0 | (c >> 18));
      *dst++ = static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      *dst++ = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      *dst++ = static_cast<char>(0x80 | (c & 0x3F));
    }
  }
}

}  // namespace qv_VCard::capi
