// Reads one sample card many times, for profilers that count instructions:
//   valgrind --tool=callgrind --toggle-collect='qv_VCard::qvVCard::get_vCard*'
//       <build>/bench/qv_vcard_profile typical 10000
// Divide the collected instruction count by the number of reads.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "sample_cards.hpp"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s new|typical|full COUNT\n", argv[0]);
    return 2;
  }
  qv_VCard::qvVCard card;
  if (std::strcmp(argv[1], "typical") == 0) {
    qv_bench::FillTypical(card);
  } else if (std::strcmp(argv[1], "full") == 0) {
    qv_bench::FillFull(card);
  } else if (std::strcmp(argv[1], "new") != 0) {
    std::fprintf(stderr, "unknown sample %s\n", argv[1]);
    return 2;
  }
  const long count = std::strtol(argv[2], nullptr, 10);
  qv_VCard::Text text;
  std::size_t total = 0;
  for (long i = 0; i < count; ++i) {
    if (qv_VCard::Failed(card.get_vCard(text))) return 1;
    total += text.size();
  }
  std::printf("%ld reads, %zu characters\n", count, total);
  return 0;
}
