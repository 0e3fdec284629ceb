#include "input/export_format.hpp"

#include <vector>

#include "card/ascii.hpp"
#include "common/text.hpp"
#include "input/values.hpp"

namespace qvvcard {

using qv_VCard::ascii::EqualIgnoringCase;
using qv_VCard::ascii::Fold;

namespace {

// Whether name is pattern, '#' in pattern standing for a decimal number
// (given back in group).
bool Matches(std::string_view pattern, std::string_view name, std::uint32_t& group) {
  group = 0;
  std::size_t i = 0;
  for (const char p : pattern) {
    if (p == '#') {
      const std::size_t start = i;
      std::uint32_t n = 0;
      while (i < name.size() && name[i] >= '0' && name[i] <= '9' && i - start < 6) {
        n = n * 10 + static_cast<std::uint32_t>(name[i] - '0');
        ++i;
      }
      if (i == start || n == 0) return false;
      group = n;
    } else {
      if (i >= name.size() || Fold(name[i]) != Fold(p)) return false;
      ++i;
    }
  }
  return i == name.size();
}

}  // namespace

const ExportFormat* FindExport(std::string_view key) {
  for (const ExportFormat& f : KnownExports()) {
    if (EqualIgnoringCase(f.key, key)) return &f;
  }
  return nullptr;
}

const ExportColumn* FindExportColumn(const ExportFormat& format, std::string_view name,
                                     std::uint32_t& group) {
  name = TrimBlanks(name);
  for (const ExportColumn& c : format.columns) {
    if (Matches(c.header, name, group)) return &c;
  }
  return nullptr;
}

bool PropertyHeader(std::span<const std::string_view> names) {
  bool any = false;
  for (const std::string_view n : names) {
    const std::string_view name = TrimBlanks(n);
    if (name.empty()) continue;
    if (qv_VCard::FindProperty(name) == nullptr && !IsGeoField(name)) return false;
    any = true;
  }
  return any;
}

const ExportFormat* RecogniseExport(std::span<const std::string_view> names) {
  const auto formats = KnownExports();
  std::size_t named = 0;
  std::vector<std::size_t> known(formats.size()), distinct(formats.size());
  for (const std::string_view n : names) {
    if (TrimBlanks(n).empty()) continue;
    ++named;
    std::size_t matched = 0, which = 0;
    for (std::size_t f = 0; f < formats.size(); ++f) {
      std::uint32_t group = 0;
      if (FindExportColumn(formats[f], n, group) != nullptr) {
        ++known[f];
        ++matched;
        which = f;
      }
    }
    if (matched == 1) ++distinct[which];
  }
  const ExportFormat* best = nullptr;
  std::size_t best_known = 0;
  bool tie = false;
  for (std::size_t f = 0; f < formats.size(); ++f) {
    if (distinct[f] == 0 || known[f] * 2 <= named) continue;
    if (known[f] > best_known) {
      best = &formats[f];
      best_known = known[f];
      tie = false;
    } else if (known[f] == best_known) {
      tie = true;
    }
  }
  return tie ? nullptr : best;
}

bool RecognisedHeader(std::span<const std::string_view> names) {
  return PropertyHeader(names) || RecogniseExport(names) != nullptr;
}

}  // namespace qvvcard
