#include <qv_vcard/qvVCard.hpp>

#include <cstdio>

int main() {
  qv_VCard::qvVCard card;
  if (card.put_NameFamily(u"Doe") != qv_VCard::kOk) return 1;
  std::u16string text;
  if (card.get_vCard(text) != qv_VCard::kOk) return 1;
  // Prints the N line.
  const auto at = text.find(u"\r\nN:") + 2;
  for (auto i = at; i < text.size() && text[i] != u'\r'; ++i)
    std::putchar(static_cast<char>(text[i]));
  std::putchar('\n');
  return 0;
}
