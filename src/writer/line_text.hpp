// Writing values into content lines.
#ifndef QV_VCARD_WRITER_LINE_TEXT_HPP
#define QV_VCARD_WRITER_LINE_TEXT_HPP

#include <cstdint>
#include <cstring>
#include <string_view>

#include "qv_vcard/qvVCard.hpp"
#include "writer/card_text.hpp"

namespace qv_VCard::writer {

inline constexpr std::u16string_view kLineEnd = u"\r\n";

// The index of the first CR or LF in [text, text + n), or n when there is
// none. Four code units are tested at a time: a word has a unit below 14
// exactly when (w - 0x000E...) & ~w & 0x8000... is not zero, and only such a
// word is looked at unit by unit.
inline std::size_t FindLineBreak(const char16_t* text, std::size_t n) noexcept {
  constexpr std::uint64_t kFourteens = 0x000E000E000E000EULL;
  constexpr std::uint64_t kHighBits = 0x8000800080008000ULL;
  std::size_t i = 0;
  for (; i + 4 <= n; i += 4) {
    std::uint64_t w;
    std::memcpy(&w, text + i, sizeof w);
    if (((w - kFourteens) & ~w & kHighBits) == 0) continue;
    for (std::size_t j = i; j < i + 4; ++j) {
      if (text[j] == u'\r' || text[j] == u'\n') return j;
    }
  }
  for (; i < n; ++i) {
    if (text[i] == u'\r' || text[i] == u'\n') return i;
  }
  return n;
}

// Rewrites line[at...] in place, where line[at] is a line break: every line
// break (CR LF, a lone CR or a lone LF) becomes the two characters "\n".
// Line is a Text or anything with the same data, size and resize.
template <typename Line>
void EscapeLineBreaksAt(Line& line, std::size_t at) {
  // A lone CR or LF grows by one unit; a CR LF pair keeps its length.
  const std::size_t old_size = line.size();
  std::size_t grow = 0;
  for (std::size_t i = at; i < old_size; ++i) {
    const char16_t c = line.data()[i];
    if (c == u'\r') {
      if (i + 1 < old_size && line.data()[i + 1] == u'\n') {
        ++i;
      } else {
        ++grow;
      }
    } else if (c == u'\n') {
      ++grow;
    }
  }
  line.resize(old_size + grow);
  // Move from the back, so nothing is overwritten before it is read. Seen
  // from the back, an LF pairs with the CR before it, and a CR is always
  // lone (a CR followed by LF went with that LF).
  char16_t* const p = line.data();
  std::size_t src = old_size;
  std::size_t dst = old_size + grow;
  while (src > at) {
    const char16_t c = p[--src];
    if (c == u'\n' || c == u'\r') {
      if (c == u'\n' && src > at && p[src - 1] == u'\r') --src;
      p[--dst] = u'n';
      p[--dst] = u'\\';
    } else {
      p[--dst] = c;
    }
  }
}

// Makes line[from...] a content-line value: it is kept as written, except
// that a line break inside it becomes "\n", so no value can end its line or
// start another.
template <typename Line>
void EscapeLineBreaks(Line& line, std::size_t from) {
  const std::size_t at = from + FindLineBreak(line.data() + from, line.size() - from);
  if (at != line.size()) EscapeLineBreaksAt(line, at);
}

// Appends a value to a content line (line breaks written as "\n").
template <typename Line>
void AppendValue(Line& line, const Text& value) {
  const std::size_t from = line.size();
  line.append(value);
  EscapeLineBreaks(line, from);
}
// A line written through its own cursor escapes out of line, so that the
// cursor never leaves its register.
QV_VCARD_WRITE_INLINE void EscapeLineBreaks(LineWriter& line, std::size_t from) {
  line.EscapeLineBreaksFrom(from);
}
// The same on a card or one of its lines, which look for line breaks only
// in a value whose copying met a unit below 14.
template <typename Line>
requires requires(Line& line) { line.BreakHint(); }
QV_VCARD_WRITE_INLINE void AppendValue(Line& line, const Text& value) {
  const std::size_t from = line.size();
  line.ClearBreakHint();
  line.append(value);
  if (line.BreakHint()) EscapeLineBreaks(line, from);
}

// A type parameter such as ";TYPE=WORK", kept in a block of fixed size so
// that it is copied whole, without looking at its length first.
struct TypeParameter {
  Property flag;  // the flag of slot 1 that asks for it
  char16_t text[16];
  std::uint8_t size;
};

constexpr TypeParameter MakeTypeParameter(Property flag, std::u16string_view text) {
  TypeParameter t{flag, {}, static_cast<std::uint8_t>(text.size())};
  for (std::size_t i = 0; i < text.size() && i < 16; ++i) t.text[i] = text[i];
  return t;
}

template <typename Line>
QV_VCARD_WRITE_INLINE void AppendTypeParameter(Line& line, const TypeParameter& t) {
  std::memcpy(line.Reserve(16), t.text, sizeof t.text);
  line.advance(t.size);
}

// True when a 16-bit flag counts as set.
constexpr bool IsSet(std::int16_t flag) { return flag != 0; }

}  // namespace qv_VCard::writer

#endif
