// The card's file name: the formatted name without blanks at either end,
// cleaned of characters file systems refuse, with ".vcf" appended.
#include "card/failure.hpp"
#include "card/reads.hpp"
#include "modules/modFileSystemChars.hpp"

namespace qv_VCard {

Status qvVCard::get_vCardFileName(Text& out) const noexcept {
  out.clear();
  try {
    // The read of the formatted name goes into out itself, which is then
    // trimmed and cleaned in place: a caller who reads into the same text
    // again needs no allocation.
    reads::AppendRead(*this, Property::FormatedName, out);
    const std::size_t first = out.find_first_not_of(u' ');
    if (first == Text::npos) {
      out.clear();
    } else {
      out.resize(out.find_last_not_of(u' ') + 1);
      out.erase(0, first);
    }
    modules::ReplaceFileSystemChars(out);
    out.append(u".vcf");
    return kOk;
  } catch (...) {
    out.clear();
    return detail::StatusOfCurrentException();
  }
}

}  // namespace qv_VCard
