// The shared corpus of cards, run through the C++ interface.
#include <gtest/gtest.h>

#include <fstream>
#include <nlohmann/json.hpp>
#include <regex>

#include "support/test_support.hpp"

namespace {

using namespace qv_VCard;

Text FromUtf8(const std::string& s) {
  Text out;
  for (std::size_t i = 0; i < s.size();) {
    const unsigned char b = static_cast<unsigned char>(s[i]);
    char32_t c;
    int n;
    if (b < 0x80) {
      c = b;
      n = 1;
    } else if (b < 0xE0) {
      c = b & 0x1F;
      n = 2;
    } else if (b < 0xF0) {
      c = b & 0x0F;
      n = 3;
    } else {
      c = b & 0x07;
      n = 4;
    }
    for (int k = 1; k < n; ++k)
      c = (c << 6) | (static_cast<unsigned char>(s[i + static_cast<std::size_t>(k)]) & 0x3F);
    i += static_cast<std::size_t>(n);
    if (c >= 0x10000) {
      c -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (c >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(c));
    }
  }
  return out;
}

nlohmann::json LoadCorpus() {
  std::ifstream in(QV_VCARD_CORPUS);
  return nlohmann::json::parse(in);
}

TEST(Corpus, EveryCaseGivesItsCardAndFileName) {
  const nlohmann::json corpus = LoadCorpus();
  ASSERT_GE(corpus.at("cases").size(), 5u);
  for (const auto& k : corpus.at("cases")) {
    const std::string name = k.at("name");
    SCOPED_TRACE(name);
    qv_test::TestCard tc;
    for (const auto& assignment : k.at("set")) {
      const std::string prop = assignment.at(0);
      const PropertyInfo* p = FindProperty(std::string_view(prop));
      ASSERT_NE(p, nullptr) << prop;
      const auto& value = assignment.at(1);
      if (value.is_string()) {
        ASSERT_EQ(tc.card.Put(p->property, FromUtf8(value.get<std::string>())), kOk);
      } else {
        ASSERT_EQ(tc.card.Put(p->property, value.get<std::int16_t>()), kOk);
      }
    }
    Text card;
    const Status s = tc.card.get_vCard(card);
    if (k.contains("status")) {
      EXPECT_EQ(static_cast<std::uint32_t>(s),
                std::stoul(k.at("status").get<std::string>(), nullptr, 16));
      EXPECT_EQ(card, u"");
    } else {
      ASSERT_EQ(s, kOk);
      Text expected;
      for (const auto& line : k.at("card")) {
        if (!expected.empty()) expected += u"\r\n";
        const std::string l = line;
        if (l == "REV:*")
          expected += qv_test::kRevLine;
        else if (l == "UID:*")
          expected += qv_test::UidLine(1);
        else
          expected += FromUtf8(l);
      }
      EXPECT_EQ(card, expected);
    }
    Text file_name;
    ASSERT_EQ(tc.card.get_vCardFileName(file_name), kOk);
    EXPECT_EQ(file_name, FromUtf8(k.at("vCardFileName").get<std::string>()));
  }
}

}  // namespace
