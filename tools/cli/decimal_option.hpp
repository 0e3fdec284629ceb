// Numbers on the command line: plain decimal digits only, within a range
// the message names. (No sign, no "0x", leading zeros never read as another
// base, nothing beyond 64 bits wrapped around.)
#ifndef QVVCARD_CLI_DECIMAL_OPTION_HPP
#define QVVCARD_CLI_DECIMAL_OPTION_HPP

#include <CLI/CLI.hpp>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace qvvcard {

// The number text stands for, when it is decimal digits from min to max;
// otherwise nullopt.
std::optional<std::uint64_t> ParseDecimal(std::string_view text, std::uint64_t min,
                                          std::uint64_t max) noexcept;

// An option NAME taking such a number into target; a value outside says
// "NAME expects a decimal number from MIN to MAX, not \"...\"".
template <typename T>
CLI::Option* AddDecimalOption(CLI::App* app, const std::string& name, T& target, T min, T max,
                              const std::string& description) {
  const auto lo = static_cast<std::uint64_t>(min), hi = static_cast<std::uint64_t>(max);
  return app->add_option_function<std::string>(
      name,
      [&target, lo, hi, name](const std::string& text) {
        const std::optional<std::uint64_t> v = ParseDecimal(text, lo, hi);
        if (!v) {
          throw CLI::ValidationError(name + " expects a decimal number from " + std::to_string(lo) +
                                     " to " + std::to_string(hi) + ", not \"" + text + "\"");
        }
        target = static_cast<T>(*v);
      },
      description);
}

}  // namespace qvvcard

#endif
