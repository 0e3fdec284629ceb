#include "input/values.hpp"

#include <algorithm>
#include <cstring>

#include "card/simd.hpp"

#include "card/ascii.hpp"
#include "common/scan.hpp"
#include "common/text.hpp"

namespace qvvcard {

using qv_VCard::Property;

bool IsGeoField(std::string_view name) noexcept {
  return qv_VCard::ascii::EqualIgnoringCase(name, kGeoField);
}

std::string Shown(const FieldValue& v) {
  switch (v.type) {
    case FieldValue::Type::Text:
      return Quoted(v.view());
    case FieldValue::Type::Bool:
      return v.boolean ? "true" : "false";
    case FieldValue::Type::Integer:
      return v.integer_too_large ? "a very large integer" : std::to_string(v.integer);
    case FieldValue::Type::Null:
      return "null";
    case FieldValue::Type::Other:
      return v.text;
  }
  return {};
}

namespace {

// The characters each class escapes, as a table of bytes.
struct Escaped {
  bool byte[256] = {};
  constexpr explicit Escaped(bool commas) {
    byte[static_cast<unsigned char>('\\')] = true;
    byte[static_cast<unsigned char>(';')] = true;
    byte[static_cast<unsigned char>(',')] = commas;
  }
};
constexpr Escaped kAll(true);
constexpr Escaped kListItems(false);

const Escaped* TableOf(Escape how) noexcept {
  return how == Escape::All ? &kAll : how == Escape::ListItems ? &kListItems : nullptr;
}

}  // namespace

bool Utf8ToEscapedText(Escape how, std::string_view utf8, std::u16string& out,
                       std::u16string_view& text) {
  const auto* const p = reinterpret_cast<const unsigned char*>(utf8.data());
  const std::size_t n = utf8.size();
  const Escaped* const table = TableOf(how);
  // Room for the longest text n bytes can give (every one escaped) and for
  // the stores of a block beyond it; never made smaller, so that no call
  // but the first of a size fills it.
  const std::size_t need = 2 * n + 32;
  if (out.size() < need) out.resize(std::max(2 * out.size(), need));
  char16_t* const to = out.data();
  std::size_t o = 0;
#if QV_VCARD_SSE2
  const __m128i zero = _mm_setzero_si128();
  // The usual text: thirty-two bytes or fewer, ASCII, nothing to escape,
  // in one block or two.
  if (n - 1 < 32) {
    const auto block = [p, n](std::size_t at) {
      return n - at >= 16 ? _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + at))
                          : LoadShort(p + at, n - at);
    };
    const auto hits = [how](__m128i v) {
      __m128i found = v;  // the top bit of a byte above ASCII
      if (how != Escape::None) {
        const __m128i third = _mm_set1_epi8(how == Escape::All ? ',' : '\\');
        found =
            _mm_or_si128(found, _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8('\\')),
                                                          _mm_cmpeq_epi8(v, _mm_set1_epi8(';'))),
                                             _mm_cmpeq_epi8(v, third)));
      }
      return found;
    };
    const auto widen = [to, zero](std::size_t at, __m128i v) {
      _mm_storeu_si128(reinterpret_cast<__m128i*>(to + at), _mm_unpacklo_epi8(v, zero));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(to + at + 8), _mm_unpackhi_epi8(v, zero));
    };
    const __m128i first = block(0);
    if (n <= 16) {
      if (_mm_movemask_epi8(hits(first)) == 0) {
        widen(0, first);
        text = std::u16string_view(to, n);
        return true;
      }
    } else {
      const __m128i second = block(16);
      if (_mm_movemask_epi8(_mm_or_si128(hits(first), hits(second))) == 0) {
        widen(0, first);
        widen(16, second);
        text = std::u16string_view(to, n);
        return true;
      }
    }
  }
  // Sixteen bytes at a time (the last ones padded with zeros, which are
  // neither escaped nor above ASCII). A block of plain ASCII is widened as
  // it stands; in any other, the runs between its escaped characters and
  // sequences are copied from the block widened, and those decoded one by
  // one. A sequence may reach into the next block, which then starts after
  // it.
  const __m128i backslash = _mm_set1_epi8('\\'), semicolon = _mm_set1_epi8(';');
  const __m128i comma = _mm_set1_epi8(how == Escape::All ? ',' : '\\');
  const auto store = [](char16_t* at, __m128i low, __m128i high) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(at), low);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(at + 8), high);
  };
  std::size_t k = 0;
  while (k < n) {
    const std::size_t len = std::min<std::size_t>(16, n - k);
    const __m128i v = len == 16 ? _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + k))
                                : LoadShort(p + k, len);
    const __m128i low = _mm_unpacklo_epi8(v, zero), high = _mm_unpackhi_epi8(v, zero);
    auto stops = static_cast<unsigned>(_mm_movemask_epi8(v));
    if (table != nullptr) {
      stops |= static_cast<unsigned>(_mm_movemask_epi8(
          _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, backslash), _mm_cmpeq_epi8(v, semicolon)),
                       _mm_cmpeq_epi8(v, comma))));
    }
    if (stops == 0) {
      store(to + o, low, high);
      o += len;
      k += len;
      continue;
    }
    // The block's units, and zeros after them, so that a run from any
    // place in it can be copied as sixteen units.
    alignas(16) char16_t block[32];
    store(block, low, high);
    store(block + 16, zero, zero);
    const auto run = [&](std::size_t from) {
      store(to + o, _mm_loadu_si128(reinterpret_cast<const __m128i*>(block + from)),
            _mm_loadu_si128(reinterpret_cast<const __m128i*>(block + from + 8)));
    };
    std::size_t from = 0;  // the start of the run not yet copied
    std::size_t next = k + len;
    while (stops != 0) {
      const auto j = static_cast<std::size_t>(__builtin_ctz(stops));
      run(from);
      o += j - from;
      const unsigned char c = p[k + j];
      if (c < 0x80) {
        to[o++] = u'\\';
        to[o++] = c;
        from = j + 1;
        stops &= stops - 1;
        continue;
      }
      std::size_t units = 0;
      const std::size_t bytes = DecodeSequence(p + k + j, n - k - j, to + o, units);
      if (bytes == 0) return false;
      o += units;
      from = j + bytes;
      if (from >= len) {
        next = k + from;
        from = len;
        break;
      }
      stops &= ~0u << from;
    }
    run(from);
    o += len - from;
    k = next;
  }
#else
  for (std::size_t k = 0; k < n;) {
    const unsigned char c = p[k];
    if (c < 0x80) {
      if (table != nullptr && table->byte[c]) to[o++] = u'\\';
      to[o++] = c;
      ++k;
      continue;
    }
    std::size_t units = 0;
    const std::size_t bytes = DecodeSequence(p + k, n - k, to + o, units);
    if (bytes == 0) return false;
    o += units;
    k += bytes;
  }
#endif
  text = std::u16string_view(to, o);
  return true;
}

void RfcEscape(Escape how, std::u16string& text) {
  const Escaped* table = TableOf(how);
  if (table == nullptr) return;
  const auto special = [table](char16_t c) { return c < 0x80 && table->byte[c]; };
  std::size_t count = 0;
  for (const char16_t c : text) count += special(c) ? 1 : 0;
  if (count == 0) return;
  // In place, from the back: each backslash goes in before its character,
  // so a text of any size needs no second copy.
  std::size_t from = text.size();
  text.resize(text.size() + count);
  std::size_t to = text.size();
  while (from > 0) {
    const char16_t c = text[--from];
    text[--to] = c;
    if (special(c)) text[--to] = u'\\';
  }
}

std::string RfcUnescape(Escape how, std::string_view utf8) {
  const Escaped* table = TableOf(how);
  if (table == nullptr || utf8.find('\\') == std::string_view::npos) return std::string(utf8);
  std::string out;
  out.reserve(utf8.size());
  for (std::size_t i = 0; i < utf8.size(); ++i) {
    if (utf8[i] == '\\' && i + 1 < utf8.size() &&
        table->byte[static_cast<unsigned char>(utf8[i + 1])]) {
      ++i;
    }
    out.push_back(utf8[i]);
  }
  return out;
}

ParseResult RangeCheck(std::int64_t v, std::int16_t& out) noexcept {
  if (v < INT16_MIN || v > INT16_MAX) return ParseResult::OutOfRange;
  out = static_cast<std::int16_t>(v);
  return ParseResult::Ok;
}

namespace {

// A trimmed, non-empty text: one sign, then decimal digits and nothing else.
ParseResult ParseDecimal(std::string_view s, std::int16_t& out) noexcept {
  const bool negative = s.front() == '-';
  if (negative || s.front() == '+') s.remove_prefix(1);
  if (s.empty()) return ParseResult::NotANumber;
  // Past this bound the value is out of range whatever follows; counting
  // stops there, so that no number of digits can overflow it.
  constexpr std::int32_t kBeyond = 1 << 16;
  std::int32_t v = 0;
  for (const char c : s) {
    if (c < '0' || c > '9') return ParseResult::NotANumber;
    if (v < kBeyond) v = v * 10 + (c - '0');
  }
  return RangeCheck(negative ? -v : v, out);
}

// Whether s is the lower-case word w in any case. A letter and its capital
// differ in the bit 0x20 alone, and no byte but the two becomes the letter
// with that bit set.
template <std::size_t N>
bool IsWord(std::string_view s, const char (&w)[N]) noexcept {
  if (s.size() != N - 1) return false;
  for (std::size_t i = 0; i + 1 < N; ++i) {
    if ((static_cast<unsigned char>(s[i]) | 0x20u) != static_cast<unsigned char>(w[i]))
      return false;
  }
  return true;
}

// A lone digit, as flags and small numbers mostly come.
bool IsOneDigit(std::string_view s) { return s.size() == 1 && s[0] >= '0' && s[0] <= '9'; }

}  // namespace

ParseResult ParseInt16(std::string_view s, std::int16_t& out) noexcept {
  if (IsOneDigit(s)) {
    out = static_cast<std::int16_t>(s.front() - '0');
    return ParseResult::Ok;
  }
  s = TrimBlanks(s);
  if (s.empty()) return ParseResult::Empty;
  return ParseDecimal(s, out);
}

ParseResult ParseFlag(std::string_view s, std::int16_t& out) noexcept {
  if (IsOneDigit(s)) return ParseInt16(s, out);
  const std::string_view word = TrimBlanks(s);
  if (word.empty()) return ParseResult::Empty;
  const char first = word.front();
  if ((first >= '0' && first <= '9') || first == '-' || first == '+') {
    return ParseDecimal(word, out);
  }
  if (IsWord(word, "true") || IsWord(word, "yes")) {
    out = qv_VCard::kTrue;
    return ParseResult::Ok;
  }
  if (IsWord(word, "false") || IsWord(word, "no")) {
    out = qv_VCard::kFalse;
    return ParseResult::Ok;
  }
  return ParseResult::NotANumber;
}

}  // namespace qvvcard
