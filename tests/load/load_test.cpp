// Load test: ten million cards in one process.
//
// Each card is a fresh object with its own mix of fields (lengths from none
// to hundreds of characters, non-ASCII, line breaks, flags, a position),
// read as a card and as a file name through the system clock and GUID
// source. Checks:
//   - every read succeeds and the card keeps its frame;
//   - memory is steady: after a warm-up the resident set grows by no more
//     than a small slack, however many cards follow (a leak of even one byte
//     per card would show as megabytes);
//   - no two cards share a UID (each kept as a 128-bit value, sorted at the
//     end).
// QV_LOAD_CARDS overrides the number of cards for a quick run.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "qv_vcard/qvVCard.hpp"

namespace {

using namespace qv_VCard;

// A figure in kB from /proc/self/status ("VmRSS", "VmHWM").
long StatusKb(const std::string& key) {
  std::ifstream in("/proc/self/status");
  for (std::string line; std::getline(in, line);) {
    if (line.rfind(key + ":", 0) == 0)
      return std::strtol(line.c_str() + key.size() + 1, nullptr, 10);
  }
  return -1;
}

int HexValue(char16_t c) {
  if (c >= u'0' && c <= u'9') return c - u'0';
  if (c >= u'A' && c <= u'F') return c - u'A' + 10;
  return -1;  // lower case is not the card's form either
}

// The UID of a card as 128 bits; false when the line is missing or not of
// the form 8-4-4-4-12 upper-case hexadecimal digits of a version-4 UUID.
bool ParseUid(const Text& card, std::pair<std::uint64_t, std::uint64_t>& uid) {
  const std::size_t at = card.find(u"\r\nUID:");
  if (at == Text::npos || at + 6 + 36 + 2 > card.size()) return false;
  const std::u16string_view v(card.data() + at + 6, 36);
  if (card.compare(at + 6 + 36, 2, u"\r\n") != 0) return false;
  std::uint64_t half[2] = {0, 0};
  int digits = 0;
  for (std::size_t i = 0; i < v.size(); ++i) {
    if (i == 8 || i == 13 || i == 18 || i == 23) {
      if (v[i] != u'-') return false;
      continue;
    }
    const int h = HexValue(v[i]);
    if (h < 0) return false;
    half[digits / 16] = half[digits / 16] << 4 | static_cast<std::uint64_t>(h);
    ++digits;
  }
  if (v[14] != u'4' || HexValue(v[19]) < 8 || HexValue(v[19]) > 11) return false;
  uid = {half[0], half[1]};
  return true;
}

// Texts of many lengths and kinds, chosen per card.
std::vector<Text> Samples() {
  std::vector<Text> s = {u"",
                         u"Doe",
                         u"M\u00fcller-L\u00fcdenscheidt",
                         u"\u6771\u4eac \U0001F642",
                         u"line one\r\nline two\nthree\r",
                         u"AC/DC: Live?",
                         u"   "};
  for (int n : {16, 40, 100, 300, 700}) {
    Text t;
    for (int i = 0; i < n; ++i) t.push_back(static_cast<char16_t>(u'a' + (i * 7 + n) % 26));
    s.push_back(t);
  }
  return s;
}

void Fill(qvVCard& card, std::uint64_t n, const std::vector<Text>& texts) {
  const auto pick = [&](std::uint64_t k) -> const Text& { return texts[k % texts.size()]; };
  card.put_NameFamily(pick(n));
  card.put_NameGiven(pick(n / 3 + 1));
  if (n % 4 == 0) card.put_FormatedName(pick(n / 7));
  card.put_Note(pick(n / 11 + 2));
  card.put_OrgName(pick(n / 5));
  card.put_Adr1_Street(pick(n / 13));
  card.put_Adr1_Home(static_cast<std::int16_t>(n % 3 == 0 ? kTrue : kFalse));
  card.put_Tel1_Number(pick(n / 17 + 1));
  card.put_Tel1_Cell(static_cast<std::int16_t>(n & 1 ? kTrue : kFalse));
  card.put_Email1_Value(pick(n / 19 + 3));
  card.put_Categorie(pick(n / 23));
  card.put_GeoLatDeg(static_cast<std::int16_t>(n % 181 - 90));
  card.put_GeoLatMin(static_cast<std::int16_t>(n % 60));
  card.put_GeoLonSec(static_cast<std::int16_t>(n % 3600));
}

}  // namespace

int main() {
  std::uint64_t count = 10'000'000;
  if (const char* env = std::getenv("QV_LOAD_CARDS")) count = std::strtoull(env, nullptr, 10);
  const std::uint64_t warm_up = std::min<std::uint64_t>(200'000, count / 10);
  const std::uint64_t sample_every = std::max<std::uint64_t>(count / 20, 1);
  constexpr long kSlackKb = 4096;

  // The UID store is allocated and touched up front, so the resident set
  // after the warm-up belongs to the cards alone.
  std::vector<std::pair<std::uint64_t, std::uint64_t>> uids(count);
  const std::vector<Text> texts = Samples();

  const auto start = std::chrono::steady_clock::now();
  long rss_after_warm_up = 0;
  long rss_max = 0;
  Text text;
  Text file_name;
  for (std::uint64_t n = 0; n < count; ++n) {
    qvVCard card;
    Fill(card, n, texts);
    if (card.get_vCard(text) != kOk || !text.starts_with(u"BEGIN:VCARD\r\n") ||
        !text.ends_with(u"\r\nEND:VCARD") || !ParseUid(text, uids[n])) {
      std::fprintf(stderr, "card %llu is not a good card\n", static_cast<unsigned long long>(n));
      return 1;
    }
    if (card.get_vCardFileName(file_name) != kOk || !file_name.ends_with(u".vcf")) {
      std::fprintf(stderr, "card %llu has no file name\n", static_cast<unsigned long long>(n));
      return 1;
    }
    if (n + 1 == warm_up) rss_after_warm_up = StatusKb("VmRSS");
    if (n >= warm_up && (n + 1) % sample_every == 0) {
      const long rss = StatusKb("VmRSS");
      rss_max = std::max(rss_max, rss);
      std::printf("%llu cards, resident %ld kB\n", static_cast<unsigned long long>(n + 1), rss);
    }
  }
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

  std::sort(uids.begin(), uids.end());
  const auto duplicate = std::adjacent_find(uids.begin(), uids.end());
  const long peak = StatusKb("VmHWM");
  std::printf(
      "%llu cards in %.1f s (%.2f us each); resident after warm-up %ld kB, at most %ld kB "
      "later; peak %ld kB (%.0f MB of it the UID store)\n",
      static_cast<unsigned long long>(count), seconds, seconds * 1e6 / static_cast<double>(count),
      rss_after_warm_up, rss_max, peak, static_cast<double>(count) * 16 / 1e6);
  if (duplicate != uids.end()) {
    std::fprintf(stderr, "two cards share a UID\n");
    return 1;
  }
  if (rss_max - rss_after_warm_up > kSlackKb) {
    std::fprintf(stderr, "memory grew by %ld kB after the warm-up\n", rss_max - rss_after_warm_up);
    return 1;
  }
  std::printf("all %llu UIDs distinct; memory steady\n", static_cast<unsigned long long>(count));
  return 0;
}
