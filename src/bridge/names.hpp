// The name meant by a misspelt one, for the messages of every adapter
// ("did you mean NameGiven?").
#ifndef QV_VCARD_BRIDGE_NAMES_HPP
#define QV_VCARD_BRIDGE_NAMES_HPP

#include <span>
#include <string>
#include <string_view>

namespace qv_VCard::bridge {

// The name among candidates nearest to name (ASCII case ignored), when one
// is near enough to be what was meant: at most two edits and no more than a
// third of the name; "" otherwise.
std::string Nearest(std::string_view name, std::span<const std::string_view> candidates);
// The same among the card's property names.
std::string NearestPropertyName(std::string_view name);

}  // namespace qv_VCard::bridge

#endif
