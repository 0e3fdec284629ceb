// What the portable core gives for a list of assignments, in the form the
// COM test scripts print, so that the two can be compared line by line.
//
// stdin, one item a line:
//   CASE name
//   SET Property T 0041 00E4 ...   a text, as UTF-16 code units in hex
//   SET Property I -5              a flag or 16-bit integer
//   END
// stdout, per case: CASE, one READ line per property in interface order,
// CARD (or STATUS with the failing read's code), FILE, END. Texts are
// escaped: printable ASCII stays, "\" and everything else becomes \uXXXX.
//
// With --properties it lists "name kind" for every property instead.
#include <qv_vcard/qvVCard.hpp>

#include <cstdio>
#include <iostream>
#include <sstream>
#include <string>

namespace {

using qv_VCard::Text;

std::string Escape(const Text& text) {
  std::string out;
  for (char16_t c : text) {
    if (c >= 0x20 && c < 0x7F && c != u'\\') {
      out += static_cast<char>(c);
    } else {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\u%04X", static_cast<unsigned>(c));
      out += buf;
    }
  }
  return out;
}

const char* KindName(qv_VCard::Kind k) {
  return k == qv_VCard::Kind::Text ? "Text" : k == qv_VCard::Kind::Flag ? "Flag" : "Int16";
}

void Report(const std::string& name, const qv_VCard::qvVCard& card) {
  std::cout << "CASE " << name << "\n";
  for (const auto& p : qv_VCard::Properties()) {
    qv_VCard::Value v;
    card.GetById(p.dispid, v);
    std::cout << "READ " << p.name << " ";
    if (p.kind == qv_VCard::Kind::Text) {
      std::cout << Escape(std::get<Text>(v));
    } else if (p.kind == qv_VCard::Kind::Flag) {
      std::cout << (std::get<std::int16_t>(v) != 0 ? "True" : "False");
    } else {
      std::cout << std::get<std::int16_t>(v);
    }
    std::cout << "\n";
  }
  Text text;
  const qv_VCard::Status status = card.get_vCard(text);
  if (qv_VCard::Failed(status)) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%08X", static_cast<unsigned>(status));
    std::cout << "STATUS " << buf << "\n";
  } else {
    std::cout << "CARD " << Escape(text) << "\n";
  }
  card.get_vCardFileName(text);
  std::cout << "FILE " << Escape(text) << "\nEND\n";
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && std::string(argv[1]) == "--properties") {
    for (const auto& p : qv_VCard::Properties())
      std::cout << p.name << " " << KindName(p.kind) << "\n";
    return 0;
  }
  std::string line, name;
  qv_VCard::qvVCard card;
  while (std::getline(std::cin, line)) {
    std::istringstream in(line);
    std::string word, property, kind;
    in >> word;
    if (word == "CASE") {
      std::getline(in >> std::ws, name);
      card = qv_VCard::qvVCard();
    } else if (word == "SET") {
      in >> property >> kind;
      const qv_VCard::PropertyInfo* p = qv_VCard::FindProperty(property);
      if (p == nullptr) {
        std::cerr << "unknown property " << property << "\n";
        return 1;
      }
      qv_VCard::Value value;
      if (kind == "T") {
        Text text;
        unsigned unit;
        while (in >> std::hex >> unit) text += static_cast<char16_t>(unit);
        value = text;
      } else {
        int number = 0;
        in >> number;
        value = static_cast<std::int16_t>(number);
      }
      if (qv_VCard::Failed(card.PutById(p->dispid, value))) {
        std::cerr << "assignment to " << property << " failed\n";
        return 1;
      }
    } else if (word == "END") {
      Report(name, card);
    }
  }
  return 0;
}
