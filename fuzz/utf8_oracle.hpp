// Strict UTF-8, written independently of the library's own conversions so
// the fuzz targets can check them: well-formed means no overlong forms, no
// encoded surrogates, nothing above U+10FFFF, no sequence cut short.
#ifndef QV_VCARD_FUZZ_UTF8_ORACLE_HPP
#define QV_VCARD_FUZZ_UTF8_ORACLE_HPP

#include <cstddef>
#include <string>
#include <string_view>

namespace qv_fuzz {

// Decodes well-formed UTF-8; false for anything else.
inline bool Decode(std::string_view s, std::u16string& out) {
  out.clear();
  for (std::size_t i = 0; i < s.size();) {
    const auto b = static_cast<unsigned char>(s[i]);
    int n = 0;
    char32_t c = 0;
    if (b < 0x80) {
      c = b;
    } else if (b >= 0xC2 && b <= 0xDF) {
      n = 1, c = b & 0x1F;
    } else if (b >= 0xE0 && b <= 0xEF) {
      n = 2, c = b & 0x0F;
    } else if (b >= 0xF0 && b <= 0xF4) {
      n = 3, c = b & 0x07;
    } else {
      return false;
    }
    if (n > 0 && i + static_cast<std::size_t>(n) >= s.size()) return false;  // cut short
    for (int k = 1; k <= n; ++k) {
      const auto t = static_cast<unsigned char>(s[i + k]);
      if ((t & 0xC0) != 0x80) return false;
      c = (c << 6) | (t & 0x3F);
    }
    if ((n == 2 && c < 0x800) || (n == 3 && c < 0x10000) || c > 0x10FFFF ||
        (c >= 0xD800 && c <= 0xDFFF)) {
      return false;
    }
    if (c >= 0x10000) {
      out.push_back(static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(c));
    }
    i += 1 + static_cast<std::size_t>(n);
  }
  return true;
}

// Encodes UTF-16 as UTF-8; false when it holds an unpaired surrogate.
inline bool Encode(std::u16string_view u, std::string& out) {
  out.clear();
  for (std::size_t i = 0; i < u.size(); ++i) {
    char32_t c = u[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < u.size() && u[i + 1] >= 0xDC00 &&
        u[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (u[++i] - 0xDC00);
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      return false;
    }
    if (c < 0x80) {
      out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (c >> 6)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | (c >> 12)));
      out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | (c >> 18)));
      out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
  }
  return true;
}

}  // namespace qv_fuzz

#endif
