// qvvcard with its test seams set from the environment, for the tests that
// drive the tool from outside:
//   QVVCARD_TEST_INTERRUPT=N       SIGKILL halfway through writing the N-th card
//   QVVCARD_TEST_INTERRUPT=N:TERM  SIGTERM as the N-th card is about to be written
//   QVVCARD_TEST_NAMED_TEMP=1      hidden temporary names instead of anonymous files
// The product binary has none of this: it passes no seams.
#include <signal.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string_view>

#include "cli/commands.hpp"
#include "output/temp_files.hpp"

int main(int argc, char** argv) {
  qvvcard::WriteSeams seams;
  if (const char* v = std::getenv("QVVCARD_TEST_NAMED_TEMP")) seams.named_temp_only = *v == '1';
  if (const char* v = std::getenv("QVVCARD_TEST_INTERRUPT")) {
    char* end = nullptr;
    const unsigned long at = std::strtoul(v, &end, 10);
    const int sig = end != nullptr && std::strcmp(end, ":TERM") == 0 ? SIGTERM : SIGKILL;
    seams.before_card = [at, sig, cards = 0ul](int fd, std::string_view card) mutable {
      if (++cards != at) return;
      if (sig == SIGKILL) {
        const std::string_view half = card.substr(0, card.size() / 2);
        if (write(fd, half.data(), half.size()) < 0) std::abort();
      }
      raise(sig);
    };
  }
  return qvvcard::Main(argc, argv, seams);
}
