// Makes cards for the reader checks. Reads one JSON object per line from
// standard input, each mapping property names to texts or integers, and
// writes one JSON object per line: {"status": <status code>, "card": <text>}.
// Texts travel as UTF-8 on both sides.
#include <cstdint>
#include <iostream>
#include <nlohmann/json.hpp>
#include <string>

#include "qv_vcard/qvVCard.hpp"

namespace {

// Both conversions see only well-formed text: JSON strings in, card texts
// built from them out.
std::u16string Utf16(const std::string& s) {
  std::u16string out;
  for (std::size_t i = 0; i < s.size();) {
    const auto b = static_cast<unsigned char>(s[i]);
    const int extra = b < 0x80 ? 0 : b < 0xE0 ? 1 : b < 0xF0 ? 2 : 3;
    char32_t c = extra == 0 ? b : b & (0x3F >> extra);
    for (int k = 1; k <= extra; ++k) c = (c << 6) | (static_cast<unsigned char>(s[i + k]) & 0x3F);
    i += 1 + static_cast<std::size_t>(extra);
    if (c >= 0x10000) {
      out.push_back(static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(c));
    }
  }
  return out;
}

std::string Utf8(const std::u16string& u) {
  std::string out;
  for (std::size_t i = 0; i < u.size(); ++i) {
    char32_t c = u[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < u.size())
      c = 0x10000 + ((c - 0xD800) << 10) + (u[++i] - 0xDC00);
    const int extra = c < 0x80 ? 0 : c < 0x800 ? 1 : c < 0x10000 ? 2 : 3;
    static const unsigned char kLead[] = {0x00, 0xC0, 0xE0, 0xF0};
    out.push_back(static_cast<char>(kLead[extra] | (c >> (6 * extra))));
    for (int k = extra - 1; k >= 0; --k)
      out.push_back(static_cast<char>(0x80 | ((c >> (6 * k)) & 0x3F)));
  }
  return out;
}

}  // namespace

int main() {
  using namespace qv_VCard;
  std::string line;
  while (std::getline(std::cin, line)) {
    const nlohmann::json contact = nlohmann::json::parse(line);
    qvVCard card;
    for (const auto& [name, value] : contact.items()) {
      const PropertyInfo* p = FindProperty(name);
      if (p == nullptr) {
        std::cerr << "unknown property " << name << '\n';
        return 2;
      }
      const Status s = value.is_string() ? card.Put(p->property, Utf16(value.get<std::string>()))
                                         : card.Put(p->property, value.get<std::int16_t>());
      if (Failed(s)) {
        std::cerr << "cannot assign " << name << '\n';
        return 2;
      }
    }
    Text text;
    const Status s = card.get_vCard(text);
    std::cout << nlohmann::json{{"status", s}, {"card", Utf8(text)}}.dump() << '\n';
  }
  return 0;
}
