// ASCII case, as automation clients compare member names: the one case fold
// of the system.
#ifndef QV_VCARD_CARD_ASCII_HPP
#define QV_VCARD_CARD_ASCII_HPP

#include <string_view>

namespace qv_VCard::ascii {

// A-Z as a-z; every other unit, ASCII or not, as it is.
template <typename Char>
constexpr Char Fold(Char c) noexcept {
  return (c >= 'A' && c <= 'Z') ? static_cast<Char>(c - 'A' + 'a') : c;
}

// Whether a and b are the same text but for the case of ASCII letters.
template <typename A, typename B>
constexpr bool EqualIgnoringCase(std::basic_string_view<A> a,
                                 std::basic_string_view<B> b) noexcept {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (Fold(static_cast<char32_t>(a[i])) != Fold(static_cast<char32_t>(b[i]))) return false;
  }
  return true;
}
constexpr bool EqualIgnoringCase(std::string_view a, std::string_view b) noexcept {
  return EqualIgnoringCase<char, char>(a, b);
}

}  // namespace qv_VCard::ascii

#endif
