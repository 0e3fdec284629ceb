// Decimal text of the GEO line's numbers.
#ifndef QV_VCARD_WRITER_DECIMAL_TEXT_HPP
#define QV_VCARD_WRITER_DECIMAL_TEXT_HPP

#include <array>
#include <cstddef>

namespace qv_VCard::writer {

// "00" to "99", two units per number.
inline constexpr std::array<char16_t, 200> kTwoDigits = [] {
  std::array<char16_t, 200> t{};
  for (int v = 0; v < 100; ++v) {
    t[2 * v] = static_cast<char16_t>(u'0' + v / 10);
    t[2 * v + 1] = static_cast<char16_t>(u'0' + v % 10);
  }
  return t;
}();

// The longest text WriteSignificant7 gives: "0.000" and seven digits.
inline constexpr std::size_t kSignificant7Max = 12;
// The room it needs: its digits are moved in whole blocks, which may write
// beyond the text it gives.
inline constexpr std::size_t kSignificant7Room = 20;

// Writes a positive magnitude from 0.0001 up to (not including) 1000000 in
// fixed-point form, correctly rounded to at most seven significant digits
// (a tie goes to the even digit), without trailing zeros after the decimal
// point and without the point when no fraction remains: 48.20833, 0.5, 90,
// 0.0002777778. Writes into out, which has kSignificant7Room units, and
// returns the length of the text given.
//
// This is the text std::to_chars(magnitude, std::chars_format::general, 7)
// gives, for every float of the range (all 279,080,169 of them were
// compared); to_chars takes about seven times the instructions (743 against
// 103 a number, which would make the typical card a third slower).
std::size_t WriteSignificant7(float magnitude, char16_t* out) noexcept;

}  // namespace qv_VCard::writer

#endif
