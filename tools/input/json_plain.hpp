// The plain form of a JSON object, read without the parser: the form
// nearly every line of a JSON Lines file has. Used by the JSON object
// parser alone.
#ifndef QVVCARD_INPUT_JSON_PLAIN_HPP
#define QVVCARD_INPUT_JSON_PLAIN_HPP

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

#include <utf8.h>

#include "card/simd.hpp"
#include "common/chars.hpp"
#include "common/scan.hpp"
#include "common/text.hpp"
#include "input/json_object.hpp"

namespace qvvcard::json_plain {

inline bool IsJsonBlank(char c) {
  // Space, tab, line feed and carriage return, in one test.
  constexpr std::uint64_t kBlanks =
      (1ULL << ' ') | (1ULL << '\t') | (1ULL << '\n') | (1ULL << '\r');
  const auto u = static_cast<unsigned char>(c);
  return u <= ' ' && ((kBlanks >> u) & 1) != 0;
}

// Where the run of plain text that starts at p (inside a string) stops:
// at the string's closing quote or at a backslash, or nullptr for a control
// character, text that is not UTF-8, or no end.
inline const char* StringStop(const char* p, const char* const end) {
  const auto sequence = [&p, end] {
    std::size_t units = 0;
    char16_t ignored[2];
    const std::size_t bytes = DecodeSequence(reinterpret_cast<const unsigned char*>(p),
                                             static_cast<std::size_t>(end - p), ignored, units);
    p += bytes;
    return bytes != 0;
  };
#if QV_VCARD_SSE2
  // Sixteen bytes at a time (the last ones padded with zeros, which stop
  // the scan too) to the first quote, backslash, control character or byte
  // above ASCII; a byte above ASCII must start a well-formed sequence, and
  // the scan goes on after it.
  const __m128i quote = _mm_set1_epi8('"'), backslash = _mm_set1_epi8('\\');
  const __m128i below_space = _mm_set1_epi8(0x1F);
  while (p < end) {
    const auto* const u = reinterpret_cast<const unsigned char*>(p);
    const auto left = static_cast<std::size_t>(end - p);
    const __m128i v =
        left >= 16 ? _mm_loadu_si128(reinterpret_cast<const __m128i*>(u)) : LoadShort(u, left);
    // Bytes 0x00-0x1F (unsigned): their minimum with 0x1F is themselves.
    const __m128i stops =
        _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, quote), _mm_cmpeq_epi8(v, backslash)),
                     _mm_or_si128(_mm_cmpeq_epi8(_mm_min_epu8(v, below_space), v), v));
    const auto stop = static_cast<unsigned>(_mm_movemask_epi8(stops));
    if (stop == 0) {
      p += 16;
      continue;
    }
    p += __builtin_ctz(stop);
    if (p >= end) return nullptr;  // a zero after the text's last bytes: no end
    if (*p == '"' || *p == '\\') return p;
    if (static_cast<unsigned char>(*p) < 0x80 || !sequence()) return nullptr;
  }
#else
  while (p < end) {
    const auto c = static_cast<unsigned char>(*p);
    if (c == '"' || c == '\\') return p;
    if (c < 0x20) return nullptr;
    if (c < 0x80) {
      ++p;
    } else if (!sequence()) {
      return nullptr;
    }
  }
#endif
  return nullptr;
}

// The end of the string without escapes whose text starts at p (after its
// opening quote): its closing quote, or nullptr for any other.
inline const char* PlainStringEnd(const char* p, const char* const end) {
  const char* const stop = StringStop(p, end);
  return stop != nullptr && *stop == '"' ? stop : nullptr;
}

// The four hexadecimal digits at p as a number, or -1.
inline long HexUnit(const char* p, const char* const end) {
  if (end - p < 4) return -1;
  long unit = 0;
  for (int i = 0; i < 4; ++i) {
    const int digit = HexDigitValue(p[i]);
    if (digit < 0) return -1;
    unit = unit * 16 + digit;
  }
  return unit;
}

// Appends what the escape at p (its backslash) stands for to out, as UTF-8,
// and moves p past it; false for an escape JSON does not have, or a
// surrogate not in a pair, which the parser judges.
inline bool AppendEscape(const char*& p, const char* const end, std::string& out) {
  if (end - p < 2) return false;
  char simple = 0;
  switch (p[1]) {
    case '"':
      simple = '"';
      break;
    case '\\':
      simple = '\\';
      break;
    case '/':
      simple = '/';
      break;
    case 'b':
      simple = '\b';
      break;
    case 'f':
      simple = '\f';
      break;
    case 'n':
      simple = '\n';
      break;
    case 'r':
      simple = '\r';
      break;
    case 't':
      simple = '\t';
      break;
    case 'u':
      break;
    default:
      return false;
  }
  if (p[1] != 'u') {
    out.push_back(simple);
    p += 2;
    return true;
  }
  long code = HexUnit(p + 2, end);
  if (code < 0 || (code >= 0xDC00 && code <= 0xDFFF)) return false;
  p += 6;
  if (code >= 0xD800 && code <= 0xDBFF) {
    // A high surrogate: its low one must follow as an escape of its own.
    if (end - p < 6 || p[0] != '\\' || p[1] != 'u') return false;
    const long low = HexUnit(p + 2, end);
    if (low < 0xDC00 || low > 0xDFFF) return false;
    code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
    p += 6;
  }
  utf8::append(static_cast<utf8::uint32_t>(code), std::back_inserter(out));
  return true;
}

// The string whose text starts at p and has its first escape at stop, its
// text as the escapes give it in v's own text: the end of the string, or
// nullptr.
[[gnu::noinline]] inline const char* ReadEscapedString(const char* p, const char* stop,
                                                       const char* const end, FieldValue& v) {
  v.Clear();
  v.text.assign(p, static_cast<std::size_t>(stop - p));
  while (*stop == '\\') {
    if (!AppendEscape(stop, end, v.text)) return nullptr;
    const char* const next = StringStop(stop, end);
    if (next == nullptr) return nullptr;
    v.text.append(stop, static_cast<std::size_t>(next - stop));
    stop = next;
  }
  return stop + 1;
}

// The value that starts at p, of the plain form: a string (left in the
// text, or, with escapes, in the value's own text, and owned set), true,
// false, null or an integer that fits 64 bits. Returns the end of its text,
// or nullptr for any other.
inline const char* ReadPlainValue(const char* p, const char* const end, FieldValue& v,
                                  bool& owned) {
  const auto literal = [&](std::string_view word) {
    return static_cast<std::size_t>(end - p) >= word.size() &&
           std::string_view(p, word.size()) == word;
  };
  if (*p == '"') {
    const char* stop = StringStop(p + 1, end);
    if (stop == nullptr) return nullptr;
    if (*stop == '"') {
      // A string after a string, as lines mostly have it, needs no clearing.
      if (v.type != FieldValue::Type::Text || v.in_place.data() == nullptr || v.number) v.Clear();
      v.in_place = std::string_view(p + 1, static_cast<std::size_t>(stop - p - 1));
      return stop + 1;
    }
    owned = true;
    return ReadEscapedString(p + 1, stop, end, v);
  }
  v.Clear();
  if (literal("true")) {
    v.type = FieldValue::Type::Bool;
    v.boolean = true;
    return p + 4;
  }
  if (literal("false")) {
    v.type = FieldValue::Type::Bool;
    return p + 5;
  }
  if (literal("null")) {
    v.type = FieldValue::Type::Null;
    return p + 4;
  }
  // An integer: -?(0|[1-9][0-9]*), which fits 64 bits.
  const char* const token = p;
  if (p < end && *p == '-') ++p;
  const char* const digits = p;
  while (p < end && *p >= '0' && *p <= '9') ++p;
  const auto n = static_cast<std::size_t>(p - digits);
  if (n == 0 || n > 18 || (n > 1 && *digits == '0')) return nullptr;
  v.type = FieldValue::Type::Integer;
  v.number = true;
  v.text.assign(token, static_cast<std::size_t>(p - token));
  std::from_chars(token, p, v.integer);
  return p;
}

// An object of the plain form nearly every line has: keys without
// escapes; strings, true, false, null and integers; nothing nested. Read
// without the parser, its strings left in text where they have no escapes
// (the escapes JSON has are decoded here, anything else is left to the
// parser, surrogates not in pairs among them). A text read here reads
// the same in the parser. Lines written by a program mostly differ only in
// their values: the text of the last object read in full is kept, with the
// place of each value, and a text whose bytes between the values are the
// same (keys, separators, blanks) is read by reading its values alone.
class PlainReader {
 public:
  // Reads text into out; false, with out unspecified, for anything not of
  // the plain form, which the parser reads (and judges) in full.
  // A value with escapes sets owned (it holds text of its own).
  bool Read(std::string_view text, std::size_t max_items, JsonObject& out,
            std::vector<JsonItem>& items, std::size_t& count, std::uint64_t& keys, bool& owned) {
    if (Holds(out, items, keys) && ReadAsBefore(text, items, owned) == text.data() + text.size()) {
      count = values_.size();
      return true;
    }
    for_ = nullptr;
    ++keys;
    if (!ReadInFull(text, max_items, items, count, owned)) return false;
    // Kept for the lines after it.
    if (text.size() <= kKeptText) {
      text_.assign(text);
      for_ = &out;
      keys_of_ = keys;
    }
    return true;
  }
  // The object was read another way: its items no longer hold the keys of
  // the text kept.
  void Forget() noexcept { for_ = nullptr; }
  // Reads an object at the start of bytes (which go on after it) into out
  // when it is written as the one before it: the length of its text, or 0.
  std::size_t ReadStartAsBefore(std::string_view bytes, JsonObject& out,
                                std::vector<JsonItem>& items, std::size_t& count,
                                std::uint64_t keys, bool& owned) const {
    if (!Holds(out, items, keys)) return 0;
    const char* const stop = ReadAsBefore(bytes, items, owned);
    if (stop == nullptr) return 0;
    count = values_.size();
    return static_cast<std::size_t>(stop - bytes.data());
  }

 private:
  // A text larger than this is not kept.
  static constexpr std::size_t kKeptText = 4096;

  // Whether out's items hold the keys of text_: out, with the keys it had
  // when text_ was read, as its key number tells.
  bool Holds(const JsonObject& out, const std::vector<JsonItem>& items, std::uint64_t keys) const {
    return for_ == &out && keys == keys_of_ && items.size() >= values_.size();
  }

  // Where the value of a member lies in text_.
  struct Place {
    std::size_t begin, end;
  };

  // Reads the values of text where the text kept had its values, with the
  // same bytes between them: where the last of those bytes ends, or
  // nullptr.
  const char* ReadAsBefore(std::string_view text, std::vector<JsonItem>& items, bool& owned) const {
    const char* p = text.data();
    const char* const end = p + text.size();
    const char* const kept = text_.data();
    // The bytes between the values must be those of the text kept.
    const auto same = [&](std::size_t from, std::size_t to) {
      const std::size_t n = to - from;
      if (static_cast<std::size_t>(end - p) < n ||
          !SameBytes(std::string_view(kept + from, n), std::string_view(p, n))) {
        return false;
      }
      p += n;
      return true;
    };
    std::size_t from = 0;
    JsonItem* item = items.data();
    for (const Place& place : values_) {
      if (!same(from, place.begin) || p == end) return nullptr;
      p = ReadPlainValue(p, end, (item++)->value, owned);
      if (p == nullptr) return nullptr;
      from = place.end;
    }
    return same(from, text_.size()) ? p : nullptr;
  }

  bool ReadInFull(std::string_view text, std::size_t max_items, std::vector<JsonItem>& items,
                  std::size_t& count, bool& owned) {
    const char* p = text.data();
    const char* const begin = p;
    const char* const end = p + text.size();
    const auto blanks = [&] {
      while (p < end && IsJsonBlank(*p)) ++p;
    };
    // The separator after a key or a value and the blanks around it.
    const auto separator = [&](char c) {
      blanks();
      if (p == end || *p != c) return false;
      ++p;
      blanks();
      return true;
    };
    const auto at = [begin](const char* q) { return static_cast<std::size_t>(q - begin); };
    count = 0;
    values_.clear();
    blanks();
    if (p == end || *p != '{') return false;
    ++p;
    blanks();
    if (p < end && *p == '}') {
      ++p;
      blanks();
      return p == end;
    }
    for (;;) {
      if (p == end || *p != '"') return false;
      if (count == max_items) return false;
      const char* const key_end = PlainStringEnd(p + 1, end);
      if (key_end == nullptr) return false;
      if (count == items.size()) items.emplace_back();
      JsonItem& item = items[count++];
      const std::string_view key(p + 1, static_cast<std::size_t>(key_end - p - 1));
      if (!SameBytes(item.key, key)) item.key.assign(key);
      p = key_end + 1;
      if (!separator(':') || p == end) return false;
      const char* const value = p;
      p = ReadPlainValue(p, end, item.value, owned);
      if (p == nullptr) return false;
      values_.push_back({at(value), at(p)});
      // What follows a value: a comma and the next member, or the end.
      if (separator(',')) continue;
      if (p < end && *p == '}') {
        ++p;
        blanks();
        return p == end;
      }
      return false;
    }
  }

  std::string text_;
  std::vector<Place> values_;
  const JsonObject* for_ = nullptr;  // whose items hold the keys of text_
  std::uint64_t keys_of_ = 0;        // its key number then
};

}  // namespace qvvcard::json_plain

#endif
