#include "bridge/utf.hpp"

#include <utf8.h>

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "card/simd.hpp"

namespace qv_VCard::bridge {

namespace {

bool IsAsciiByte(char c) { return static_cast<unsigned char>(c) < 0x80; }

// Copies in[i, n) to out one unit per byte up to the first byte above 0x7F,
// and returns where it stopped.
std::size_t WidenAsciiFrom(const char* in, std::size_t i, std::size_t n, char16_t* out) {
  for (; i < n && IsAsciiByte(in[i]); ++i) out[i] = static_cast<char16_t>(in[i]);
  return i;
}

// Copies the ASCII bytes at the start of in[0, n) to out, one unit per byte,
// and returns how many there were: the copy stops before the first byte
// above 0x7F. out has room for n units.
std::size_t WidenAscii(const char* in, std::size_t n, char16_t* out) {
#if QV_VCARD_SSE2
  // Blocks of 16 and 8 bytes; the last, shorter stretch as a block that
  // overlaps the one before it (its bytes are known to be ASCII already and
  // are written again unchanged).
  const __m128i zero = _mm_setzero_si128();
  const auto widen8 = [&](std::size_t at) {
    const __m128i bytes = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(in + at));
    if (_mm_movemask_epi8(bytes) != 0) return false;
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + at), _mm_unpacklo_epi8(bytes, zero));
    return true;
  };
  if (n >= 8) {
    std::size_t i = 0;
    for (; i + 16 <= n; i += 16) {
      const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i));
      if (_mm_movemask_epi8(bytes) != 0) return WidenAsciiFrom(in, i, n, out);
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), _mm_unpacklo_epi8(bytes, zero));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i + 8), _mm_unpackhi_epi8(bytes, zero));
    }
    if (i + 8 <= n) {
      if (!widen8(i)) return WidenAsciiFrom(in, i, n, out);
      i += 8;
    }
    if (i < n && !widen8(n - 8)) return WidenAsciiFrom(in, i, n, out);
    return n;
  }
  if (n >= 4) {
    std::uint32_t head = 0;
    std::uint32_t tail = 0;
    std::memcpy(&head, in, 4);
    std::memcpy(&tail, in + n - 4, 4);
    if (((head | tail) & 0x80808080u) != 0) return WidenAsciiFrom(in, 0, n, out);
    const auto widen4 = [&](std::uint32_t bytes, std::size_t at) {
      const __m128i units = _mm_unpacklo_epi8(_mm_cvtsi32_si128(static_cast<int>(bytes)), zero);
      _mm_storel_epi64(reinterpret_cast<__m128i*>(out + at), units);
    };
    widen4(head, 0);
    widen4(tail, n - 4);
    return n;
  }
#endif
  return WidenAsciiFrom(in, 0, n, out);
}

}  // namespace

bool Utf8ToText(std::string_view in, std::u16string& out, std::size_t* bad_offset) {
  // Never more units than bytes: every sequence of k bytes gives at most
  // k / 2 units, a single byte one.
  out.resize(in.size());
  const char* const begin = in.data();
  const std::size_t n = in.size();
  char16_t* const to = out.data();
  std::size_t i = 0;
  std::size_t o = 0;
  while (i < n) {
    // Most text is plain ASCII: valid as it is, one unit per byte.
    const std::size_t ascii = WidenAscii(begin + i, n - i, to + o);
    i += ascii;
    o += ascii;
    if (i == n) break;
    // Two-byte sequences, the letters of most European scripts, are decoded
    // here: a lead byte from 0xC2 to 0xDF and one continuation byte.
    for (; i + 1 < n; i += 2) {
      const auto lead = static_cast<unsigned char>(begin[i]);
      const auto next = static_cast<unsigned char>(begin[i + 1]);
      if (lead < 0xC2 || lead > 0xDF || (next & 0xC0) != 0x80) break;
      to[o++] = static_cast<char16_t>(((lead & 0x1Fu) << 6) | (next & 0x3Fu));
    }
    if (i == n || IsAsciiByte(begin[i])) continue;
    // From any other sequence on, the stretch of bytes above ASCII up to the
    // next ASCII byte goes through the library. Every sequence lies wholly
    // inside one stretch, so a bad one is found at the same offset as in the
    // whole text.
    std::size_t j = i;
    while (j < n && !IsAsciiByte(begin[j])) ++j;
    const char* const bad = utf8::find_invalid(begin + i, begin + j);
    if (bad != begin + j) {
      if (bad_offset != nullptr) *bad_offset = static_cast<std::size_t>(bad - begin);
      out.clear();
      return false;
    }
    o = static_cast<std::size_t>(utf8::unchecked::utf8to16(begin + i, begin + j, to + o) - to);
    i = j;
  }
  out.resize(o);
  return true;
}

bool TextToUtf8(std::u16string_view in, std::string& out) {
  const char16_t* const begin = in.data();
  const std::size_t n = in.size();
  // Room for one byte a unit, as ASCII takes; each unit above ASCII makes
  // more as it is met. Room out has already is used as it is (its contents
  // are written over), so that a string reused for texts of about one size
  // is not filled again. Throughout, out.size() >= o + (n - i): the rest
  // fits if it is ASCII.
  if (out.size() < n) out.resize(n);
  char* to = out.data();
  std::size_t i = 0;
  std::size_t o = 0;
  // The units from plain_from on were written one byte each, where the
  // blocks put them.
  [[maybe_unused]] std::size_t plain_from = 0;
  while (i < n) {
#if QV_VCARD_SSE2
    // Adding 0x7F80 with saturation sets the top bit of exactly the units
    // above ASCII. Most of a card is ASCII: sixty-four units at a time while
    // they are, the top bits of their high bytes tested together.
    const __m128i above = _mm_set1_epi16(0x7F80);
    const auto load = [begin](std::size_t at) {
      return _mm_loadu_si128(reinterpret_cast<const __m128i*>(begin + at));
    };
    const auto store = [&to](std::size_t at, __m128i a, __m128i b) {
      _mm_storeu_si128(reinterpret_cast<__m128i*>(to + at), _mm_packus_epi16(a, b));
    };
    for (; n - i >= 64; i += 64, o += 64) {
      __m128i v[8];
      for (int k = 0; k < 8; ++k) v[k] = load(i + 8 * static_cast<std::size_t>(k));
      const __m128i any =
          _mm_or_si128(_mm_or_si128(_mm_or_si128(v[0], v[1]), _mm_or_si128(v[2], v[3])),
                       _mm_or_si128(_mm_or_si128(v[4], v[5]), _mm_or_si128(v[6], v[7])));
      if ((_mm_movemask_epi8(_mm_adds_epu16(any, above)) & 0xAAAA) != 0) break;
      for (int k = 0; k < 4; ++k)
        store(o + 16 * static_cast<std::size_t>(k), v[2 * k], v[2 * k + 1]);
    }
    // Then blocks of sixteen units, stored narrowed whole (a block at o
    // fits, since as many units are left) and taken up to the first unit
    // above ASCII, which a signed narrowing finds; the last few units as
    // the last sixteen again, where those before them were written one byte
    // each.
    const auto wide_units = [&](__m128i a, __m128i b) {
      return static_cast<unsigned>(
          _mm_movemask_epi8(_mm_packs_epi16(_mm_adds_epu16(a, above), _mm_adds_epu16(b, above))));
    };
    bool wide = false;
    while (n - i >= 16) {
      const __m128i a = load(i), b = load(i + 8);
      store(o, a, b);
      const unsigned bits = wide_units(a, b);
      const std::size_t ascii = bits == 0 ? 16 : static_cast<std::size_t>(__builtin_ctz(bits));
      i += ascii;
      o += ascii;
      if (bits != 0) {
        wide = true;
        break;
      }
    }
    if (!wide && i < n && n >= 16 && n - 16 >= plain_from) {
      const __m128i a = load(n - 16), b = load(n - 8);
      if (wide_units(a, b) == 0) {
        store(o - (i - (n - 16)), a, b);
        o += n - i;
        i = n;
        break;
      }
    }
    if (!wide) {
      for (; i < n && begin[i] < 0x80; ++i) to[o++] = static_cast<char>(begin[i]);
      if (i == n) break;
    }
#else
    for (; i < n && begin[i] < 0x80; ++i) to[o++] = static_cast<char>(begin[i]);
    if (i == n) break;
#endif
    // A run of units above ASCII: each takes two or three bytes (a pair of
    // surrogates four), at most two more than the rest was given.
    do {
      if (out.size() - o < n - i + 2) {
        out.resize(std::max(o + (n - i) + 66, out.size() + out.size() / 2));
        to = out.data();
      }
      std::uint32_t cp = begin[i++];
      if (cp < 0x800) {
        to[o++] = static_cast<char>(0xC0 | (cp >> 6));
        to[o++] = static_cast<char>(0x80 | (cp & 0x3F));
        continue;
      }
      if (cp >= 0xD800 && cp <= 0xDFFF) {
        // Only a high surrogate followed by a low one makes a code point.
        const bool paired = cp <= 0xDBFF && i < n && begin[i] >= 0xDC00 && begin[i] <= 0xDFFF;
        if (!paired) {
          out.clear();
          return false;
        }
        cp = 0x10000 + ((cp - 0xD800) << 10) + (begin[i++] - 0xDC00u);
        to[o++] = static_cast<char>(0xF0 | (cp >> 18));
        to[o++] = static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
      } else {
        to[o++] = static_cast<char>(0xE0 | (cp >> 12));
      }
      to[o++] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      to[o++] = static_cast<char>(0x80 | (cp & 0x3F));
    } while (i < n && begin[i] >= 0x80);
    plain_from = i;
  }
  out.resize(o);
  return true;
}

}  // namespace qv_VCard::bridge
