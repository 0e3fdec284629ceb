#include "output/file_names.hpp"

#include <array>

namespace qvvcard {

namespace {

constexpr std::string_view kExtension = ".vcf";

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (Lower(a[i]) != Lower(b[i])) return false;
  }
  return true;
}

void TrimTrailingDotsAndBlanks(std::string& s) {
  while (!s.empty() && (s.back() == '.' || s.back() == ' ')) s.pop_back();
}

// The part of a stem that Windows compares with its device names: up to the
// first dot, without trailing blanks.
std::string_view DevicePart(std::string_view stem) {
  std::string_view device = stem.substr(0, stem.find('.'));
  while (!device.empty() && device.back() == ' ') device.remove_suffix(1);
  return device;
}

}  // namespace

bool IsReservedOnWindows(std::string_view stem) {
  const std::string_view device = DevicePart(stem);
  static constexpr std::array<std::string_view, 4> kPlain = {"CON", "PRN", "AUX", "NUL"};
  for (std::string_view name : kPlain) {
    if (EqualsIgnoringCase(device, name)) return true;
  }
  if (device.size() < 4 || (!EqualsIgnoringCase(device.substr(0, 3), "COM") &&
                            !EqualsIgnoringCase(device.substr(0, 3), "LPT"))) {
    return false;
  }
  const std::string_view digit = device.substr(3);
  if (digit.size() == 1) return digit[0] >= '1' && digit[0] <= '9';
  // Windows also reserves the superscript digits one to three.
  return digit == "\u00B9" || digit == "\u00B2" || digit == "\u00B3";
}

std::string_view CutUtf8(std::string_view s, std::size_t max) {
  if (s.size() <= max) return s;
  std::size_t end = max;
  // Step back over continuation bytes to the start of the cut sequence.
  while (end > 0 && (static_cast<unsigned char>(s[end]) & 0xC0) == 0x80) --end;
  return s.substr(0, end);
}

std::string CardFileName(std::string_view proposed, unsigned number) {
  if (proposed.size() >= kExtension.size() &&
      EqualsIgnoringCase(proposed.substr(proposed.size() - kExtension.size()), kExtension)) {
    proposed.remove_suffix(kExtension.size());
  }
  const std::string suffix = number > 1 ? " (" + std::to_string(number) + ")" : std::string();

  std::string stem(proposed);
  for (char& c : stem) {
    if (c == '/' || c == '\0') c = '_';
  }
  TrimTrailingDotsAndBlanks(stem);
  if (stem.empty()) stem = "unnamed";
  if (IsReservedOnWindows(stem)) {
    // Built anew rather than inserted in place: the same result, and a form
    // that GCC 12's overlap analysis does not misread at -O3.
    const std::size_t device = DevicePart(stem).size();
    stem = std::string(stem, 0, device).append("_").append(stem, device);
  }
  // The device part stands at the front, so cutting a long stem keeps it safe.
  stem.resize(CutUtf8(stem, kMaxFileNameBytes - suffix.size() - kExtension.size()).size());
  TrimTrailingDotsAndBlanks(stem);
  return stem + suffix + std::string(kExtension);
}

}  // namespace qvvcard
