#include "cli/property_names.hpp"

#include "qv_vcard/qvVCard.hpp"

namespace qvvcard {

std::string PropertyNameList(std::size_t width, std::size_t indent) {
  std::string out;
  std::string line(indent, ' ');
  const auto props = qv_VCard::Properties();
  for (std::size_t i = 0; i < props.size(); ++i) {
    std::string item = props[i].name;
    if (i + 1 < props.size()) item += ',';
    if (line.size() > indent && line.size() + 1 + item.size() > width) {
      out += line;
      out += '\n';
      line.assign(indent, ' ');
    }
    if (line.size() > indent) line += ' ';
    line += item;
  }
  out += line;
  out += '\n';
  return out;
}

}  // namespace qvvcard
