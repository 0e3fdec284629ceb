// Decimal text of the GEO line's numbers.
#ifndef QV_VCARD_WRITER_DECIMAL_TEXT_HPP
#define QV_VCARD_WRITER_DECIMAL_TEXT_HPP

#include <cstddef>

namespace qv_VCard::writer {

// The longest text WriteSignificant7 writes: "0.000" and seven digits.
inline constexpr std::size_t kSignificant7Max = 12;

// Writes a positive magnitude from 0.0001 up to (not including) 1000000 in
// fixed-point form, correctly rounded to at most seven significant digits
// (a tie goes to the even digit), without trailing zeros after the decimal
// point and without the point when no fraction remains: 48.20833, 0.5, 90,
// 0.0002777778. Returns the number of characters written.
std::size_t WriteSignificant7(float magnitude, char16_t* out) noexcept;

}  // namespace qv_VCard::writer

#endif
