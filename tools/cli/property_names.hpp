// The card's property names for the help and for messages that list them.
#ifndef QVVCARD_CLI_PROPERTY_NAMES_HPP
#define QVVCARD_CLI_PROPERTY_NAMES_HPP

#include <cstddef>
#include <string>

namespace qvvcard {

// Every property name in interface order, comma-separated and wrapped to
// lines of at most width characters, each indented by indent blanks.
std::string PropertyNameList(std::size_t width = 78, std::size_t indent = 2);

}  // namespace qvvcard

#endif
