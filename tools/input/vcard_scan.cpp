// The character-level work of the reader: frame lines, the head of a
// line, quoted-printable, UTF-8, and the splitting and unescaping of values.
#include <utf8.h>

#include "card/ascii.hpp"
#include "common/chars.hpp"
#include "input/vcard_scan.hpp"

namespace qvvcard::vcf {

using qv_VCard::ascii::EqualIgnoringCase;

namespace scan {

bool IsFrame(std::string_view line, std::string_view word) {
  if (line.size() < word.size() + 6 || (line[0] | 0x20) != (word[0] | 0x20)) return false;
  line = TrimBlanksAndReturns(line);
  if (line.size() != word.size() + 6) return false;
  return EqualIgnoringCase(line.substr(0, word.size()), word) && line[word.size()] == ':' &&
         EqualIgnoringCase(line.substr(word.size() + 1), "VCARD");
}

bool IsEmptyAgent(std::string_view line) {
  line = TrimBlanksAndReturns(line);
  if (line.empty() || line.back() != ':') return false;
  const std::size_t dot = line.find('.');
  std::string_view name = line.substr(0, line.find_first_of(";:"));
  if (dot != std::string_view::npos && dot < name.size()) name.remove_prefix(dot + 1);
  return EqualIgnoringCase(name, "AGENT") && line.find(':') == line.size() - 1;
}

bool QuotedPrintable(std::string_view head) {
  static constexpr std::string_view kWord = "QUOTED-PRINTABLE";
  for (std::size_t i = 0; i + kWord.size() <= head.size(); ++i) {
    if ((head[i] == ';' || head[i] == '=' || head[i] == ',') &&
        i + 1 + kWord.size() <= head.size() &&
        EqualIgnoringCase(head.substr(i + 1, kWord.size()), kWord)) {
      const std::size_t after = i + 1 + kWord.size();
      if (after == head.size() || head[after] == ';' || head[after] == ',') return true;
    }
  }
  return false;
}

std::string_view UpperCopy(TextStore& store, std::string_view s) {
  char* to = store.Room(s.size());
  for (std::size_t i = 0; i < s.size(); ++i) {
    const char c = s[i];
    to[i] = c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
  }
  store.GiveBack(to + s.size());
  return {to, s.size()};
}
// s in capitals: s itself when it has no small letter.
std::string_view Upper(TextStore& store, std::string_view s) {
  if (std::none_of(s.begin(), s.end(), [](char c) { return c >= 'a' && c <= 'z'; })) return s;
  return UpperCopy(store, s);
}

std::size_t ColonOf(std::string_view line) {
  const std::size_t colon = line.find(':');
  if (colon == std::string_view::npos) return colon;
  if (std::memchr(line.data(), '"', colon) == nullptr) return colon;
  bool quoted = false;
  for (std::size_t i = 0; i < line.size(); ++i) {
    if (line[i] == '"') quoted = !quoted;
    if (line[i] == ':' && !quoted) return i;
  }
  return std::string_view::npos;
}

bool DecodeQuotedPrintable(std::string_view in, char* out, std::size_t& size, std::size_t& at) {
  std::size_t o = 0;
  for (std::size_t i = 0; i < in.size(); ++i) {
    const char c = in[i];
    if (c != '=') {
      out[o++] = c;
      continue;
    }
    if (i + 1 == in.size()) break;  // a soft line break at the very end
    const int hi = HexDigitValue(in[i + 1]);
    const int lo = i + 2 < in.size() ? HexDigitValue(in[i + 2]) : -1;
    if (hi < 0 || lo < 0) {
      at = i;
      return false;
    }
    out[o++] = static_cast<char>(hi * 16 + lo);
    i += 2;
  }
  size = o;
  return true;
}

std::size_t InvalidUtf8(std::string_view s) {
  if (IsUtf8(s)) return std::string_view::npos;
  const auto bad = utf8::find_invalid(s.begin(), s.end());
  return bad == s.end() ? std::string_view::npos : static_cast<std::size_t>(bad - s.begin());
}

bool IsUtf8Name(std::string_view charset) {
  return EqualIgnoringCase(charset, "UTF-8") || EqualIgnoringCase(charset, "UTF8");
}

}  // namespace scan

bool IsUtf8(std::string_view s) {
  const auto* const p = reinterpret_cast<const unsigned char*>(s.data());
  const std::size_t n = s.size();
  for (std::size_t i = 0; i < n;) {
#if QV_VCARD_SSE2
    // Runs of ASCII sixteen bytes at a time, the last ones in one shorter
    // load: on to the next byte above ASCII, or done.
    for (;;) {
      const std::size_t left = n - i;
      const auto high = static_cast<unsigned>(
          _mm_movemask_epi8(left >= 16 ? _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i))
                                       : LoadShort(p + i, left)));
      if (high != 0) {
        i += static_cast<std::size_t>(__builtin_ctz(high));
        break;
      }
      if (left <= 16) return true;
      i += 16;
    }
#endif
    if (p[i] < 0x80) {
      ++i;
      continue;
    }
    char16_t ignored[2];
    std::size_t units = 0;
    const std::size_t bytes = DecodeSequence(p + i, n - i, ignored, units);
    if (bytes == 0) return false;
    i += bytes;
  }
  return true;
}

std::vector<std::string_view> Split(std::string_view value, char separator) {
  std::vector<std::string_view> pieces;
  std::size_t start = 0;
  for (std::size_t i = 0; i < value.size(); ++i) {
    if (value[i] == '\\') {
      ++i;
    } else if (value[i] == separator) {
      pieces.push_back(value.substr(start, i - start));
      start = i + 1;
    }
  }
  pieces.push_back(value.substr(start));
  return pieces;
}

std::size_t UnescapeTo(std::string_view value, bool v21, char* out) {
  // The runs between backslashes copied whole.
  const std::size_t n = value.size();
  std::size_t o = 0;
  for (std::size_t from = 0;;) {
    const std::size_t at = FindEither(value, from, '\\', '\\');
    if (at > from) std::memcpy(out + o, value.data() + from, at - from);
    o += at - from;
    if (at == n) return o;
    const char next = at + 1 < n ? value[at + 1] : '\0';
    if (at + 1 < n && (next == ';' || next == ',' || next == '\\')) {
      out[o++] = next;
      from = at + 2;
    } else if (at + 1 < n && !v21 && (next == 'n' || next == 'N')) {
      out[o++] = '\n';
      from = at + 2;
    } else {
      out[o++] = '\\';  // any other backslash stays, and what follows it
      from = at + 1;
    }
  }
}

std::string Unescape(std::string_view value, std::string_view version) {
  std::string out(value.size(), '\0');
  out.resize(UnescapeTo(value, version == "2.1", out.data()));
  return out;
}

}  // namespace qvvcard::vcf
