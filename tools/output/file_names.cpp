#include "output/file_names.hpp"

#include <utf8proc.h>

#include <array>
#include <cstdlib>
#include <functional>
#include <memory>

#include "bridge/utf.hpp"
#include "card/ascii.hpp"
#include "common/text.hpp"

namespace qvvcard {

using qv_VCard::bridge::TextToUtf8;

namespace {

constexpr std::string_view kExtension = ".vcf";

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

// utf8proc's mapping of s with the given options; nullopt-like empty result
// with ok false when s is not valid UTF-8.
std::string Map(std::string_view s, int options, bool& ok) {
  utf8proc_uint8_t* out = nullptr;
  const utf8proc_ssize_t n = utf8proc_map(
      reinterpret_cast<const utf8proc_uint8_t*>(s.data()), static_cast<utf8proc_ssize_t>(s.size()),
      &out, static_cast<utf8proc_option_t>(options | UTF8PROC_STABLE));
  const std::unique_ptr<utf8proc_uint8_t, decltype(&std::free)> owned(out, &std::free);
  ok = n >= 0;
  if (!ok) return std::string(s);
  return std::string(reinterpret_cast<const char*>(out), static_cast<std::size_t>(n));
}

}  // namespace

bool IsReservedOnWindows(std::string_view stem) {
  const std::string_view device = DevicePart(stem);
  static constexpr std::array<std::string_view, 6> kPlain = {"CON", "PRN",    "AUX",
                                                             "NUL", "CONIN$", "CONOUT$"};
  for (std::string_view name : kPlain) {
    if (qv_VCard::ascii::EqualIgnoringCase(device, name)) return true;
  }
  if (device.size() < 4 || (!qv_VCard::ascii::EqualIgnoringCase(device.substr(0, 3), "COM") &&
                            !qv_VCard::ascii::EqualIgnoringCase(device.substr(0, 3), "LPT"))) {
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
      qv_VCard::ascii::EqualIgnoringCase(proposed.substr(proposed.size() - kExtension.size()),
                                         kExtension)) {
    proposed.remove_suffix(kExtension.size());
  }
  const std::string suffix = number > 1 ? " (" + std::to_string(number) + ")" : std::string();

  // A leading dot would hide the file.
  const std::size_t first = proposed.find_first_not_of(". ");
  std::string stem(first == std::string_view::npos ? std::string_view() : proposed.substr(first));
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

std::string FoldFileName(std::string_view utf8) {
  if (IsAscii(utf8)) {
    std::string folded(utf8);
    for (char& c : folded) c = qv_VCard::ascii::Fold(c);
    return folded;
  }
  bool ok = false;
  return Map(utf8, UTF8PROC_COMPOSE | UTF8PROC_CASEFOLD, ok);
}

std::string WithoutRefusedCharacters(std::string_view utf8) {
  static constexpr std::string_view kRefused = "\\/:*?\"<>|";
  std::string out;
  out.reserve(utf8.size());
  for (std::size_t i = 0; i < utf8.size(); ++i) {
    const auto c = static_cast<unsigned char>(utf8[i]);
    if (c < 0x20 || c == 0x7F || kRefused.find(static_cast<char>(c)) != std::string_view::npos) {
      continue;
    }
    // The C1 control characters, U+0080 to U+009F (0xC2 0x80 to 0xC2 0x9F).
    if (c == 0xC2 && i + 1 < utf8.size() && static_cast<unsigned char>(utf8[i + 1]) < 0xA0) {
      ++i;
      continue;
    }
    out.push_back(static_cast<char>(c));
  }
  return out;
}

std::string ProposedFileName(const qv_VCard::qvVCard& card) {
  using qv_VCard::Property;
  // The first of these that leaves a name after cleaning gives it.
  static constexpr Property kSources[] = {Property::FormatedName, Property::OrgName,
                                          Property::Email1_Value, Property::Email2_Value,
                                          Property::Email3_Value};
  qv_VCard::Text text;
  std::string utf8;
  for (const Property p : kSources) {
    if (qv_VCard::Failed(card.Get(p, text)) || !TextToUtf8(text, utf8)) continue;
    std::string name = WithoutRefusedCharacters(ToNfc(utf8));
    const std::size_t first = name.find_first_not_of(". ");
    if (first == std::string::npos) continue;
    return name.erase(0, first).append(kExtension);
  }
  return {};
}

std::string CardFileNameOf(const qv_VCard::qvVCard& card) {
  return CardFileName(ProposedFileName(card), 1);
}

std::uint64_t FoldedNames::Key(std::string_view name) {
  const std::uint64_t h = std::hash<std::string>{}(FoldFileName(name));
  return h == 0 ? 1 : h;  // 0 marks a free slot
}

std::size_t FoldedNames::Slot(std::uint64_t key) const {
  const std::size_t mask = slots_.size() - 1;
  std::size_t i = static_cast<std::size_t>(key) & mask;
  while (slots_[i] != 0 && slots_[i] != key) i = (i + 1) & mask;
  return i;
}

bool FoldedNames::Contains(std::string_view name) const {
  if (slots_.empty()) return false;
  return slots_[Slot(Key(name))] != 0;
}

void FoldedNames::Add(std::string_view name) {
  if ((count_ + 1) * 2 > slots_.size()) {
    // Grow to twice the size, keeping the table at most half full.
    std::vector<std::uint64_t> old(std::max<std::size_t>(slots_.size() * 2, 64), 0);
    old.swap(slots_);
    for (const std::uint64_t key : old) {
      if (key != 0) slots_[Slot(key)] = key;
    }
  }
  const std::uint64_t key = Key(name);
  std::uint64_t& slot = slots_[Slot(key)];
  if (slot == 0) {
    slot = key;
    ++count_;
  }
}

}  // namespace qvvcard
