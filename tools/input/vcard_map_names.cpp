// A card's name and organisation: the parts of N and of ORG.
#include <algorithm>

#include "input/vcard_mapper.hpp"

namespace qvvcard::vcf::mapping {

void Mapper::Name(const Line& l) {
  static constexpr Property kParts[] = {Property::NameFamily, Property::NameGiven,
                                        Property::NameAdditional, Property::NamePrefix,
                                        Property::NameSuffix};
  std::array<std::string_view, std::size(kParts)> texts;
  unsigned given = 0;  // bit k: texts[k] holds a part
  bool beyond = false;
  std::size_t p = 0;
  // (Inline at each piece: a call for every piece costs more than the work.)
  ForEachPiece(
      l.value, ';', [&](std::string_view part, bool escaped) __attribute__((always_inline)) {
        const std::size_t at = p++;
        if (TrimBlanks(part).empty()) return;
        if (at >= texts.size()) {
          beyond = true;  // a part after the suffix
          return;
        }
        texts[at] = Typed(part, escaped);
        given |= 1u << at;
      });
  if (given == 0) {
    if (beyond) Lose(l, kNoPlace);
    return;
  }
  if (name_done_) {
    Lose(l, kSecondValue);
    return;
  }
  if (beyond) Lose(l, kNoPlace);
  name_done_ = true;
  for (; given != 0; given &= given - 1) {
    const auto k = static_cast<std::size_t>(__builtin_ctz(given));
    Put(kParts[k], texts[k], l);
  }
}

void Mapper::Organisation(const Line& l) {
  std::string_view name;
  units_.clear();
  bool first = true;
  // (Inline at each piece, as above.)
  ForEachPiece(
      l.value, ';', [&](std::string_view part, bool escaped) __attribute__((always_inline)) {
        if (first) {
          first = false;
          name = Typed(part, escaped);
        } else if (!TrimBlanks(part).empty()) {
          units_.push_back(Typed(part, escaped));
        }
      });
  if (name.empty() && units_.empty()) return;
  if (org_done_) {
    Lose(l, kSecondValue);
    return;
  }
  org_done_ = true;
  if (!name.empty()) Put(Property::OrgName, name, l);
  if (units_.empty()) return;
  // The card has one unit: further units join the first in one text, as
  // a person would type them, so that the card reads the same after a
  // trip through a table.
  std::string_view joined = units_.front();
  if (units_.size() > 1) {
    std::size_t size = 0;
    for (const std::string_view u : units_) size += u.size() + 2;
    char* to = store_->Room(size);
    char* o = to;
    for (const std::string_view u : units_) {
      if (o != to) o = std::copy_n(", ", 2, o);
      o = std::copy(u.begin(), u.end(), o);
    }
    store_->GiveBack(o);
    joined = {to, static_cast<std::size_t>(o - to)};
  }
  Put(Property::OrgUnit, joined, l);
}

}  // namespace qvvcard::vcf::mapping
