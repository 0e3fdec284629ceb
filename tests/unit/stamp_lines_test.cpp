// REV, UID and PRODID, and the system clock and GUID source behind them.
#include <gtest/gtest.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <ctime>
#include <set>
#include <string>

#include "modules/modCreateGUID.hpp"
#include "support/test_support.hpp"

namespace {

using namespace qv_VCard;
using qv_test::Lines;
using qv_test::TestCard;

// "UID:" and an RFC 4122 version-4 identifier in upper-case hexadecimal.
bool IsVersion4UidLine(const std::string& line) {
  const std::string form = "UID:hhhhhhhh-hhhh-4hhh-vhhh-hhhhhhhhhhhh";
  if (line.size() != form.size()) return false;
  for (std::size_t i = 0; i < form.size(); ++i) {
    const char c = line[i];
    const bool hex = (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F');
    if (form[i] == 'h' && !hex) return false;
    if (form[i] == 'v' && c != '8' && c != '9' && c != 'A' && c != 'B') return false;
    if (form[i] != 'h' && form[i] != 'v' && form[i] != c) return false;
  }
  return true;
}

Text LineStartingWith(const Text& card, std::u16string_view prefix) {
  for (const Text& l : Lines(card)) {
    if (l.starts_with(prefix)) return l;
  }
  return u"";
}

TEST(RevisionLine, FieldsAreZeroPaddedOn24HourClock) {
  TestCard tc;
  tc.clock.time = {2027, 2, 1, 9, 5, 3};
  EXPECT_EQ(LineStartingWith(tc.Card(), u"REV:"), u"REV:2027-02-01T09:05:03Z");
  tc.clock.time = {1999, 12, 31, 23, 59, 59};
  EXPECT_EQ(LineStartingWith(tc.Card(), u"REV:"), u"REV:1999-12-31T23:59:59Z");
  tc.clock.time = {2026, 1, 1, 0, 0, 0};
  EXPECT_EQ(LineStartingWith(tc.Card(), u"REV:"), u"REV:2026-01-01T00:00:00Z");
  tc.clock.time = {10000, 10, 10, 10, 10, 10};  // the year has no fixed width
  EXPECT_EQ(LineStartingWith(tc.Card(), u"REV:"), u"REV:10000-10-10T10:10:10Z");
}

// The stamp follows the clock in every field from one read to the next,
// and reads alike while the clock does.
TEST(RevisionLine, EachReadStampsTheClockAsItReadsThen) {
  TestCard tc;
  struct Case {
    CalendarTime time;
    std::u16string_view line;
  };
  for (const Case& c :
       std::initializer_list<Case>{{{2027, 2, 1, 9, 5, 3}, u"REV:2027-02-01T09:05:03Z"},
                                   {{2027, 2, 1, 9, 5, 3}, u"REV:2027-02-01T09:05:03Z"},
                                   {{2027, 2, 1, 9, 5, 4}, u"REV:2027-02-01T09:05:04Z"},
                                   {{2027, 2, 1, 9, 6, 4}, u"REV:2027-02-01T09:06:04Z"},
                                   {{2027, 2, 1, 10, 6, 4}, u"REV:2027-02-01T10:06:04Z"},
                                   {{2027, 2, 2, 10, 6, 4}, u"REV:2027-02-02T10:06:04Z"},
                                   {{2027, 3, 2, 10, 6, 4}, u"REV:2027-03-02T10:06:04Z"},
                                   {{2028, 3, 2, 10, 6, 4}, u"REV:2028-03-02T10:06:04Z"},
                                   {{2028, 3, 2, 10, 6, 4}, u"REV:2028-03-02T10:06:04Z"}}) {
    tc.clock.time = c.time;
    EXPECT_EQ(LineStartingWith(tc.Card(), u"REV:"), c.line);
  }
}

TEST(UidLine, TheIdentifierWithoutBracesAndFreshOnEveryRead) {
  TestCard tc;
  EXPECT_EQ(LineStartingWith(tc.Card(), u"UID:"), qv_test::UidLine(1));
  EXPECT_EQ(LineStartingWith(tc.Card(), u"UID:"), qv_test::UidLine(2));
}

TEST(ProductIdLine, EndsWithTwoBlanksBeforeTheLineEnd) {
  TestCard tc;
  const Text card = tc.Card();
  EXPECT_NE(card.find(u")  \r\nEND:VCARD"), Text::npos);
  EXPECT_EQ(LineStartingWith(card, u"PRODID:"), qv_test::kProdIdLine);
}

TEST(GuidText, FormOfTheTextAndTheReturnedCount) {
  const Guid g{0x0123ABCD, 0x4567, 0x89EF, {0xFE, 0xDC, 0xBA, 0x98, 0x76, 0x54, 0x32, 0x10}};
  char16_t buffer[39];
  EXPECT_EQ(modules::StringFromGUID2(g, buffer, 39), 39);
  EXPECT_EQ(Text(buffer), u"{0123ABCD-4567-89EF-FEDC-BA9876543210}");
  EXPECT_EQ(modules::StringFromGUID2(g, buffer, 38), 0);
}

TEST(GuidText, EveryByteValueInEveryPosition) {
  // Byte value v + position, so each of the sixteen positions sees all 256.
  for (int v = 0; v < 256; ++v) {
    std::uint8_t b[16];
    for (int i = 0; i < 16; ++i) b[i] = static_cast<std::uint8_t>(v + 17 * i);
    const Guid g{
        std::uint32_t{b[0]} << 24 | std::uint32_t{b[1]} << 16 | std::uint32_t{b[2]} << 8 | b[3],
        static_cast<std::uint16_t>(b[4] << 8 | b[5]),
        static_cast<std::uint16_t>(b[6] << 8 | b[7]),
        {b[8], b[9], b[10], b[11], b[12], b[13], b[14], b[15]}};
    char expected[40];
    std::snprintf(expected, sizeof expected,
                  "{%02X%02X%02X%02X-%02X%02X-%02X%02X-%02X%02X-%02X%02X%02X%02X%02X%02X}", b[0],
                  b[1], b[2], b[3], b[4], b[5], b[6], b[7], b[8], b[9], b[10], b[11], b[12], b[13],
                  b[14], b[15]);
    char16_t buffer[39];
    ASSERT_EQ(modules::StringFromGUID2(g, buffer, 39), 39);
    ASSERT_EQ(qv_test::Narrow(Text(buffer)), expected);
  }
}

// The real sources, as a caller without injected ones gets them.
TEST(SystemSources, UidsAreVersion4UpperCaseAndDistinct) {
  qvVCard c;
  std::set<std::string> seen;
  Text card;
  for (int i = 0; i < 4500; ++i) {  // more than two blocks of buffered randomness
    ASSERT_EQ(c.get_vCard(card), kOk);
    const std::string uid = qv_test::Narrow(LineStartingWith(card, u"UID:"));
    ASSERT_TRUE(IsVersion4UidLine(uid)) << uid;
    EXPECT_TRUE(seen.insert(uid).second) << uid;
  }
}

// However the process is copied: by fork(), which runs libc's fork
// handlers, or by the fork system call itself, which runs none. The child
// and the parent each make 100 identifiers from where the buffered block
// stood; none may repeat.
TEST(SystemSources, ParentAndForkedChildNeverShareIdentifiers) {
  constexpr int kCount = 100;
  for (const bool raw : {false, true}) {
    Guid g;
    ASSERT_EQ(SystemGuidSource().Create(g), kOk);  // leaves buffered bytes behind
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    const pid_t pid = raw ? static_cast<pid_t>(syscall(SYS_fork)) : fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      Guid child[kCount];
      bool ok = true;
      for (Guid& c : child) ok = ok && SystemGuidSource().Create(c) == kOk;
      const ssize_t n = write(fds[1], child, sizeof child);
      _exit(ok && n == static_cast<ssize_t>(sizeof child) ? 0 : 1);
    }
    Guid parent[kCount];
    for (Guid& p : parent) ASSERT_EQ(SystemGuidSource().Create(p), kOk);
    Guid child[kCount];
    std::size_t got = 0;
    while (got < sizeof child) {
      const ssize_t n = read(fds[0], reinterpret_cast<char*>(child) + got, sizeof child - got);
      ASSERT_GT(n, 0);
      got += static_cast<std::size_t>(n);
    }
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_EQ(WEXITSTATUS(status), 0);
    close(fds[0]);
    close(fds[1]);
    std::set<std::string> seen;
    for (const Guid* side : {parent, child}) {
      for (int i = 0; i < kCount; ++i) {
        const std::string bytes(reinterpret_cast<const char*>(&side[i]), sizeof(Guid));
        EXPECT_TRUE(seen.insert(bytes).second) << (raw ? "raw fork" : "fork") << " " << i;
      }
    }
  }
}

// A calendar reading as seconds since 1970, read as UTC.
std::time_t SecondsOf(const CalendarTime& t) {
  std::tm tm{};
  tm.tm_year = t.year - 1900;
  tm.tm_mon = t.month - 1;
  tm.tm_mday = t.day;
  tm.tm_hour = t.hour;
  tm.tm_min = t.minute;
  tm.tm_sec = t.second;
  return timegm(&tm);
}

// Readings within one second share one conversion; the next second must
// still be read as itself, not as the one before.
TEST(SystemSources, ClockFollowsTheSecondsAsTheyPass) {
  CalendarTime first;
  ASSERT_EQ(SystemClock().Now(first), kOk);
  const std::time_t deadline = std::time(nullptr) + 3;
  CalendarTime t = first;
  while (t.second == first.second && std::time(nullptr) < deadline) {
    ASSERT_EQ(SystemClock().Now(t), kOk);
  }
  ASSERT_NE(t.second, first.second);
  const std::time_t now = std::time(nullptr);
  const std::time_t read = SecondsOf(t);
  EXPECT_LE(read, now);
  EXPECT_GE(read, now - 1);
}

TEST(SystemSources, ClockIsUtc) {
  CalendarTime t;
  const std::time_t before = std::time(nullptr);
  ASSERT_EQ(SystemClock().Now(t), kOk);
  const std::time_t after = std::time(nullptr);
  const std::time_t read = SecondsOf(t);
  EXPECT_LE(before, read);
  EXPECT_LE(read, after);
}

}  // namespace
