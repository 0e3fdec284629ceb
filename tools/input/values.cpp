#include "input/values.hpp"

#include <algorithm>
#include <cstring>

#include "card/simd.hpp"

#include "card/ascii.hpp"
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

namespace {

// Nonzero when one of the eight bytes of w equals c.
constexpr std::uint64_t HasByte(std::uint64_t w, unsigned char c) noexcept {
  constexpr std::uint64_t kOnes = 0x0101010101010101ULL;
  constexpr std::uint64_t kHigh = 0x8080808080808080ULL;
  const std::uint64_t x = w ^ (kOnes * c);
  return (x - kOnes) & ~x & kHigh;
}

}  // namespace

namespace {

// The offset of the first byte of [p + i, p + n) that the table holds, or n.
template <bool kCommas>
std::size_t FindIn(const char* p, std::size_t i, std::size_t n, const Escaped& table) noexcept {
  // Eight bytes at a time to the first word that holds one of them.
  for (; i + 8 <= n; i += 8) {
    std::uint64_t w;
    std::memcpy(&w, p + i, sizeof w);
    std::uint64_t hit = HasByte(w, '\\') | HasByte(w, ';');
    if (kCommas) hit |= HasByte(w, ',');
    if (hit != 0) break;
  }
  for (; i < n; ++i) {
    if (table.byte[static_cast<unsigned char>(p[i])]) return i;
  }
  return n;
}

std::size_t FindFrom(Escape how, std::string_view utf8, std::size_t i) noexcept {
  switch (how) {
    case Escape::All:
      return FindIn<true>(utf8.data(), i, utf8.size(), kAll);
    case Escape::ListItems:
      return FindIn<false>(utf8.data(), i, utf8.size(), kListItems);
    case Escape::None:
      break;
  }
  return utf8.size();
}

}  // namespace

std::size_t FindEscaped(Escape how, std::string_view utf8) noexcept {
  return FindFrom(how, utf8, 0);
}

std::string_view EscapeUtf8(Escape how, std::string_view utf8, std::string& scratch) {
  std::size_t at = FindFrom(how, utf8, 0);
  if (at == utf8.size()) return utf8;
  scratch.clear();
  std::size_t from = 0;
  while (at < utf8.size()) {
    scratch.append(utf8.data() + from, at - from);
    scratch.push_back('\\');
    from = at;
    at = FindFrom(how, utf8, at + 1);
  }
  scratch.append(utf8.data() + from, utf8.size() - from);
  return scratch;
}

namespace {

#if QV_VCARD_SSE2
// The n < 16 bytes at p in a block, the rest zero, read in at most two
// overlapping loads of the bytes themselves (no byte beyond them is read).
__m128i LoadShort(const unsigned char* p, std::size_t n) {
  const auto load = [p](std::size_t at, auto word) {
    std::memcpy(&word, p + at, sizeof word);
    return word;
  };
  if (n >= 8) {
    const std::uint64_t head = load(0, std::uint64_t{});
    const std::uint64_t tail = n == 8 ? 0 : load(n - 8, std::uint64_t{}) >> (8 * (16 - n));
    return _mm_set_epi64x(static_cast<long long>(tail), static_cast<long long>(head));
  }
  std::uint64_t word = 0;
  if (n >= 4) {
    const std::uint64_t tail =
        n == 4 ? 0 : std::uint64_t{load(n - 4, std::uint32_t{})} >> (8 * (8 - n));
    word = load(0, std::uint32_t{}) | (tail << 32);
  } else {
    for (std::size_t i = 0; i < n; ++i) word |= std::uint64_t{p[i]} << (8 * i);
  }
  return _mm_cvtsi64_si128(static_cast<long long>(word));
}
#endif

}  // namespace

bool AsciiToEscapedText(Escape how, std::string_view utf8, std::u16string& out,
                        std::u16string_view& text) {
  const auto* const p = reinterpret_cast<const unsigned char*>(utf8.data());
  const std::size_t n = utf8.size();
  const Escaped* const table = TableOf(how);
  // Room for the text as it most often comes, nothing escaped, and for the
  // last block's stores; a backslash in front of an escaped character makes
  // more as needed. The room is never made smaller: no call but the first
  // of a size fills it.
  if (out.size() < n + 16) out.resize(std::max(2 * out.size(), n + 16));
  std::size_t o = 0, k = 0;
  // Room for more characters and for the rest of the input after them, as
  // long as nothing more is escaped: o + (n - i) never passes the size.
  const auto room = [&](std::size_t more, std::size_t rest) {
    if (o + more + rest > out.size()) out.resize(std::max(2 * out.size(), o + more + rest));
  };
  // The character at i: false when it is not ASCII.
  const auto one = [&](std::size_t i) {
    const unsigned char c = p[i];
    if (c >= 0x80) return false;
    if (table != nullptr && table->byte[c]) {
      room(2, n - i - 1);
      out[o++] = u'\\';
    }
    out[o++] = c;
    return true;
  };
#if QV_VCARD_SSE2
  // Sixteen bytes at a time (the last ones padded with zeros): above ASCII
  // refuses the text, an escaped one sends the block the slow way, any
  // other is widened as it stands.
  const __m128i backslash = _mm_set1_epi8('\\'), semicolon = _mm_set1_epi8(';');
  const __m128i comma = _mm_set1_epi8(how == Escape::All ? ',' : '\\');
  const __m128i zero = _mm_setzero_si128();
  for (; k < n; k += 16) {
    const std::size_t len = std::min<std::size_t>(16, n - k);
    __m128i v;
    if (len == 16) {
      v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + k));
    } else {
      v = LoadShort(p + k, len);
    }
    if (_mm_movemask_epi8(v) != 0) return false;
    if (table != nullptr) {
      const __m128i hit = _mm_or_si128(
          _mm_or_si128(_mm_cmpeq_epi8(v, backslash), _mm_cmpeq_epi8(v, semicolon)),
          _mm_cmpeq_epi8(v, comma));
      if ((_mm_movemask_epi8(hit) & ((1u << len) - 1)) != 0) {
        for (std::size_t j = 0; j < len; ++j) one(k + j);
        continue;
      }
    }
    room(16, n - k - len);  // the stores write sixteen
    char16_t* const to = out.data() + o;
    _mm_storeu_si128(reinterpret_cast<__m128i*>(to), _mm_unpacklo_epi8(v, zero));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(to + 8), _mm_unpackhi_epi8(v, zero));
    o += len;
  }
#else
  for (; k < n; ++k) {
    if (!one(k)) return false;
  }
#endif
  text = std::u16string_view(out.data(), o);
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
  using qv_VCard::ascii::EqualIgnoringCase;
  if (EqualIgnoringCase(word, "true") || EqualIgnoringCase(word, "yes")) {
    out = qv_VCard::kTrue;
    return ParseResult::Ok;
  }
  if (EqualIgnoringCase(word, "false") || EqualIgnoringCase(word, "no")) {
    out = qv_VCard::kFalse;
    return ParseResult::Ok;
  }
  return ParseResult::NotANumber;
}

}  // namespace qvvcard
