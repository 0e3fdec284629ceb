#include "bridge/names.hpp"

#include <algorithm>
#include <vector>

#include "card/ascii.hpp"
#include "qv_vcard/qvVCard.hpp"

namespace qv_VCard::bridge {

namespace {

// Edits (insertions, deletions, substitutions, ASCII case ignored) that turn
// a into b.
std::size_t EditDistance(std::string_view a, std::string_view b) {
  std::vector<std::size_t> row(b.size() + 1);
  for (std::size_t j = 0; j <= b.size(); ++j) row[j] = j;
  for (std::size_t i = 1; i <= a.size(); ++i) {
    std::size_t diagonal = row[0];
    row[0] = i;
    for (std::size_t j = 1; j <= b.size(); ++j) {
      const std::size_t above = row[j];
      const std::size_t change = ascii::Fold(a[i - 1]) == ascii::Fold(b[j - 1]) ? 0 : 1;
      row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + change});
      diagonal = above;
    }
  }
  return row[b.size()];
}

}  // namespace

std::string Nearest(std::string_view name, std::span<const std::string_view> candidates) {
  const std::size_t allowed = std::min<std::size_t>(2, name.size() / 3);
  std::string_view best;
  std::size_t best_distance = allowed + 1;
  for (const std::string_view c : candidates) {
    const std::size_t d = EditDistance(name, c);
    if (d < best_distance) {
      best_distance = d;
      best = c;
    }
  }
  return std::string(best);
}

std::string NearestPropertyName(std::string_view name) {
  static const std::vector<std::string_view> names = [] {
    std::vector<std::string_view> all;
    for (const PropertyInfo& p : Properties()) all.emplace_back(p.name);
    return all;
  }();
  return Nearest(name, names);
}

}  // namespace qv_VCard::bridge
