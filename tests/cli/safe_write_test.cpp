#include "output/safe_write.hpp"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

namespace qvvcard {
namespace {

namespace fs = std::filesystem;

}  // namespace

void PrintTo(TempMode mode, std::ostream* os) {
  *os << (mode == TempMode::Anonymous ? "anonymous" : "named");
}

namespace {

std::string Slurp(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

void Put(const fs::path& p, const std::string& data) { std::ofstream(p, std::ios::binary) << data; }

std::set<std::string> Names(const fs::path& dir) {
  std::set<std::string> names;
  for (const auto& e : fs::directory_iterator(dir)) names.insert(e.path().filename().string());
  return names;
}

// Both ways of creating files before they get their name.
class SafeWriteTest : public ::testing::TestWithParam<TempMode> {
 protected:
  void SetUp() override {
    if (GetParam() == TempMode::Named) {
      setenv("QVVCARD_TEST_NAMED_TEMP", "1", 1);
    } else {
      unsetenv("QVVCARD_TEST_NAMED_TEMP");
    }
    char tmpl[] = "/tmp/qvvcard-safe-write-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
  }
  void TearDown() override {
    unsetenv("QVVCARD_TEST_NAMED_TEMP");
    fs::remove_all(dir_);
  }
  fs::path dir_;
};

TEST_P(SafeWriteTest, CardsNeverReplaceAFile) {
  const fs::path out = dir_ / "cards";
  CardDirectory cards(out.string());
  EXPECT_EQ(cards.mode(), GetParam());
  Put(out / "Doe.vcf", "mine");
  EXPECT_EQ(cards.Save("Doe.vcf", "one"), "Doe (2).vcf");
  // A name taken after the folder was last looked at is still respected.
  Put(out / "Doe (3).vcf", "theirs");
  EXPECT_EQ(cards.Save("Doe.vcf", "two"), "Doe (4).vcf");
  EXPECT_EQ(cards.Save(".vcf", "three"), "unnamed.vcf");
  EXPECT_EQ(cards.Save("Doe.vcf", "four"), "Doe (5).vcf");
  cards.Finish();
  EXPECT_EQ(Names(out), (std::set<std::string>{"Doe.vcf", "Doe (2).vcf", "Doe (3).vcf",
                                               "Doe (4).vcf", "Doe (5).vcf", "unnamed.vcf"}));
  EXPECT_EQ(Slurp(out / "Doe.vcf"), "mine");
  EXPECT_EQ(Slurp(out / "Doe (3).vcf"), "theirs");
  EXPECT_EQ(Slurp(out / "Doe (4).vcf"), "two");
  EXPECT_EQ(Slurp(out / "unnamed.vcf"), "three");
}

TEST_P(SafeWriteTest, OutputFileAppearsWhole) {
  const fs::path target = dir_ / "all.vcf";
  Put(target, "old");
  {
    OutputFile out(target.string());
    out.WriteCard("card one\r\n");
    out.WriteCard(std::string(200000, 'x'));  // larger than the buffer
    EXPECT_EQ(Slurp(target), "old");
    out.Commit();
  }
  EXPECT_EQ(Slurp(target), "card one\r\n" + std::string(200000, 'x'));
  EXPECT_EQ(Names(dir_), std::set<std::string>{"all.vcf"});
}

TEST_P(SafeWriteTest, UncommittedOutputLeavesNothing) {
  const fs::path target = dir_ / "all.vcf";
  {
    OutputFile out(target.string());
    out.WriteCard("half");
  }
  EXPECT_TRUE(Names(dir_).empty());
  Put(target, "old");
  {
    OutputFile out(target.string());
    out.WriteCard("new");
  }
  EXPECT_EQ(Slurp(target), "old");
  EXPECT_EQ(Names(dir_), std::set<std::string>{"all.vcf"});
}

// Output well past the point where the disk is asked to start writing it
// while the run goes on: every byte arrives in order, and an output never
// committed still leaves nothing behind.
TEST_P(SafeWriteTest, LargeOutputAppearsWholeOrNotAtAll) {
  const fs::path target = dir_ / "all.vcf";
  std::string expected;
  {
    OutputFile out(target.string());
    for (int i = 0; expected.size() < (std::size_t{24} << 20); ++i) {
      // Mostly cards that go through the buffer, now and then one larger.
      const std::string card = i % 500 == 499 ? std::string(300000, static_cast<char>('a' + i % 26))
                                              : "card " + std::to_string(i) + "\r\n";
      out.WriteCard(card);
      expected += card;
    }
    out.Commit();
  }
  EXPECT_TRUE(Slurp(target) == expected);
  EXPECT_EQ(Names(dir_), std::set<std::string>{"all.vcf"});
  {
    OutputFile out((dir_ / "other.vcf").string());
    out.WriteCard(expected);
  }
  EXPECT_EQ(Names(dir_), std::set<std::string>{"all.vcf"});
}

INSTANTIATE_TEST_SUITE_P(Modes, SafeWriteTest,
                         ::testing::Values(TempMode::Anonymous, TempMode::Named),
                         [](const auto& info) {
                           return info.param == TempMode::Anonymous ? "Anonymous" : "Named";
                         });

}  // namespace
}  // namespace qvvcard
