// The card's file name: the formatted name without blanks at either end,
// cleaned of characters file systems refuse, with ".vcf" appended.
#include "card/reads.hpp"
#include "modules/modFileSystemChars.hpp"

namespace qv_VCard {

Status qvVCard::get_vCardFileName(Text& out) const noexcept {
  out.clear();
  try {
    std::u16string_view name = ReadText(Property::FormatedName);
    const std::size_t first = name.find_first_not_of(u' ');
    if (first == std::u16string_view::npos) {
      name = {};
    } else {
      name = name.substr(first, name.find_last_not_of(u' ') - first + 1);
    }
    modules::ReplaceFileSystemChars(name, out);
    out.append(u".vcf");
    return kOk;
  } catch (...) {
    out.clear();
    return kOutOfMemory;
  }
}

}  // namespace qv_VCard
