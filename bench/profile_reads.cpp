// Runs one operation many times, for profilers that count instructions:
//   valgrind --tool=callgrind --toggle-collect='qv_VCard::qvVCard::get_vCard*'
//       <build>/bench/qv_vcard_profile typical 10000
// Divide the collected instruction count by the number of runs.
//
//   new|typical|full COUNT  reads of the sample card's vCard
//   guid COUNT              texts of a GUID (qv_VCard::modules::StringFromGUID2)
//   utf8 COUNT              the typical card's text to UTF-8 and back
//                           (qv_VCard::bridge::TextToUtf8, Utf8ToText)
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "bridge/utf.hpp"
#include "modules/modCreateGUID.hpp"
#include "sample_cards.hpp"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s new|typical|full|guid|utf8 COUNT\n", argv[0]);
    return 2;
  }
  const char* const what = argv[1];
  const long count = std::strtol(argv[2], nullptr, 10);
  qv_VCard::qvVCard card;
  qv_VCard::Text text;
  std::size_t total = 0;
  if (std::strcmp(what, "guid") == 0) {
    qv_VCard::Guid guid{
        0x01234567, 0x89AB, 0xCDEF, {0xFE, 0xDC, 0xBA, 0x98, 0x76, 0x54, 0x32, 0x10}};
    char16_t buffer[qv_VCard::modules::kGuidTextLength + 1];
    for (long i = 0; i < count; ++i) {
      guid.data1 = static_cast<std::uint32_t>(i);
      total += static_cast<std::size_t>(qv_VCard::modules::StringFromGUID2(guid, buffer, 39));
      total += buffer[1];
    }
    std::printf("%ld GUID texts (%zu)\n", count, total);
    return 0;
  }
  if (std::strcmp(what, "utf8") == 0) {
    qv_bench::FillTypical(card);
    if (qv_VCard::Failed(card.get_vCard(text))) return 1;
    std::string utf8;
    qv_VCard::Text back;
    for (long i = 0; i < count; ++i) {
      if (!qv_VCard::bridge::TextToUtf8(text, utf8)) return 1;
      if (!qv_VCard::bridge::Utf8ToText(utf8, back)) return 1;
      total += back.size();
    }
    std::printf("%ld conversions, %zu units\n", count, total);
    return 0;
  }
  if (std::strcmp(what, "typical") == 0) {
    qv_bench::FillTypical(card);
  } else if (std::strcmp(what, "full") == 0) {
    qv_bench::FillFull(card);
  } else if (std::strcmp(what, "new") != 0) {
    std::fprintf(stderr, "unknown sample %s\n", what);
    return 2;
  }
  for (long i = 0; i < count; ++i) {
    if (qv_VCard::Failed(card.get_vCard(text))) return 1;
    total += text.size();
  }
  std::printf("%ld reads, %zu characters\n", count, total);
  return 0;
}
