// Builds one card with the C++ API and prints it as UTF-8.
#include <iostream>
#include <string>

#include "qv_vcard/qvVCard.hpp"

namespace {

std::string ToUtf8(const std::u16string& s) {
  std::string out;
  for (std::size_t i = 0; i < s.size(); ++i) {
    char32_t c = s[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < s.size() && s[i + 1] >= 0xDC00 &&
        s[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (s[++i] - 0xDC00);
    }
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (c >> 18));
      out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

}  // namespace

int main() {
  qv_VCard::qvVCard card;
  card.put_NameFamily(u"Doe");
  card.put_NameGiven(u"John");
  card.put_Tel1_Number(u"+1-555-0100");
  card.put_Tel1_Cell(qv_VCard::kTrue);
  card.put_Email1_Value(u"john.doe@example.org");
  card.put_GeoLatDeg(48);
  card.put_GeoLatMin(12);
  card.put_GeoLatSec(30);
  card.put_GeoLat(u"N");

  std::u16string text;
  if (qv_VCard::Failed(card.get_vCard(text))) return 1;
  std::cout << ToUtf8(text) << "\n";
  if (qv_VCard::Failed(card.get_vCardFileName(text))) return 1;
  std::cout << "file name: " << ToUtf8(text) << "\n";
  return 0;
}
