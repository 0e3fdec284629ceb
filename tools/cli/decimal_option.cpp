#include "cli/decimal_option.hpp"

namespace qvvcard {

std::optional<std::uint64_t> ParseDecimal(std::string_view text, std::uint64_t min,
                                          std::uint64_t max) noexcept {
  if (text.empty() || text.find_first_not_of("0123456789") != std::string_view::npos) {
    return std::nullopt;
  }
  // Leading zeros are zeros ("08080" is 8080, "010" is 10): never another base.
  const std::size_t first = text.find_first_not_of('0');
  const std::string_view digits = first == std::string_view::npos ? "0" : text.substr(first);
  if (digits.size() > 19) return std::nullopt;
  std::uint64_t v = 0;
  for (const char c : digits) v = v * 10 + static_cast<std::uint64_t>(c - '0');
  if (v < min || v > max) return std::nullopt;
  return v;
}

}  // namespace qvvcard
