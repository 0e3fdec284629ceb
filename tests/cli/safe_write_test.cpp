#include "common/stop.hpp"
#include "output/card_directory.hpp"
#include "output/destination.hpp"
#include "output/output_file.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

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
    seams_.named_temp_only = GetParam() == TempMode::Named;
    char tmpl[] = "/tmp/qvvcard-safe-write-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
  }
  void TearDown() override { fs::remove_all(dir_); }
  OutputFile Output(const fs::path& path) { return OutputFile(Resolve(path.string()), seams_); }
  fs::path dir_;
  WriteSeams seams_;
};

TEST_P(SafeWriteTest, CardsNeverReplaceAFile) {
  const fs::path out = dir_ / "cards";
  CardDirectory cards(out.string(), seams_);
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
    OutputFile out(Resolve(target.string()), seams_);
    out.WriteCard("card one\r\n");
    out.WriteCard(std::string(200000, 'x'));  // larger than the buffer
    EXPECT_EQ(Slurp(target), "old");
    EXPECT_EQ(out.delivered(), 0u);  // nothing counts before the file is named
    out.Finish();
    EXPECT_EQ(out.delivered(), 2u);
  }
  EXPECT_EQ(Slurp(target), "card one\r\n" + std::string(200000, 'x'));
  EXPECT_EQ(Names(dir_), std::set<std::string>{"all.vcf"});
}

TEST_P(SafeWriteTest, UncommittedOutputLeavesNothing) {
  const fs::path target = dir_ / "all.vcf";
  {
    OutputFile out(Resolve(target.string()), seams_);
    out.WriteCard("half");
  }
  EXPECT_TRUE(Names(dir_).empty());
  Put(target, "old");
  {
    OutputFile out(Resolve(target.string()), seams_);
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
    OutputFile out(Resolve(target.string()), seams_);
    for (int i = 0; expected.size() < (std::size_t{24} << 20); ++i) {
      // Mostly cards that go through the buffer, now and then one larger.
      const std::string card = i % 500 == 499 ? std::string(300000, static_cast<char>('a' + i % 26))
                                              : "card " + std::to_string(i) + "\r\n";
      out.WriteCard(card);
      expected += card;
    }
    out.Finish();
  }
  EXPECT_TRUE(Slurp(target) == expected);
  EXPECT_EQ(Names(dir_), std::set<std::string>{"all.vcf"});
  {
    OutputFile out(Resolve((dir_ / "other.vcf").string()), seams_);
    out.WriteCard(expected);
  }
  EXPECT_EQ(Names(dir_), std::set<std::string>{"all.vcf"});
}

// A file replaced keeps its mode; a link is followed and its target
// replaced where it stands, the link itself left a link.
TEST_P(SafeWriteTest, ReplacingKeepsModeAndFollowsLinks) {
  const fs::path target = dir_ / "private.vcf";
  Put(target, "old");
  ASSERT_EQ(chmod(target.c_str(), 0600), 0);
  fs::create_directory(dir_ / "elsewhere");
  const fs::path link = dir_ / "elsewhere" / "link.vcf";
  fs::create_symlink("../private.vcf", link);
  {
    OutputFile out(Resolve(link.string()), seams_);
    EXPECT_EQ(out.destination().kind, Destination::Kind::Replace);
    out.WriteCard("new");
    out.Finish();
  }
  EXPECT_TRUE(fs::is_symlink(link));
  EXPECT_EQ(Slurp(target), "new");
  EXPECT_EQ(fs::status(target).permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write);
  EXPECT_EQ(Names(dir_ / "elsewhere"), std::set<std::string>{"link.vcf"});
  // A link to nowhere yet: the file appears where it points.
  fs::create_symlink("made.vcf", dir_ / "dangling.vcf");
  {
    OutputFile out(Resolve((dir_ / "dangling.vcf").string()), seams_);
    out.WriteCard("made");
    out.Finish();
  }
  EXPECT_EQ(Slurp(dir_ / "made.vcf"), "made");
  EXPECT_THROW(Resolve(dir_.string()), std::system_error);  // a folder is no output
}

INSTANTIATE_TEST_SUITE_P(Modes, SafeWriteTest,
                         ::testing::Values(TempMode::Anonymous, TempMode::Named),
                         [](const auto& info) {
                           return info.param == TempMode::Anonymous ? "Anonymous" : "Named";
                         });

// Whatever is not a regular file is written to as it is: no temporary file
// beside it, and every card counts once it went out.
TEST(Destinations, StreamsAreWrittenDirectly) {
  for (const char* path : {"/dev/null", "/dev/stdout", "/proc/self/fd/2", "-"}) {
    const Destination d = Resolve(path);
    EXPECT_EQ(d.kind, Destination::Kind::Stream) << path;
  }
  {
    OutputFile out(Resolve("/dev/null"));
    out.WriteCard("card\r\n");
    out.Finish();
    EXPECT_EQ(out.delivered(), 1u);
  }
  OutputFile full(Resolve("/dev/full"));
  full.WriteCard("card\r\n");
  try {
    full.Finish();
    ADD_FAILURE() << "writing to /dev/full succeeded";
  } catch (const std::system_error& e) {
    EXPECT_EQ(e.code().value(), ENOSPC);
    EXPECT_NE(std::string(e.what()).find("/dev/full"), std::string::npos) << e.what();
  }
  EXPECT_EQ(full.delivered(), 0u);
}

TEST(FoldedNamesTest, ComparesAsCaseInsensitiveNormalisingFileSystems) {
  FoldedNames names;
  names.Add("Anna Smith.vcf");
  names.Add("Zo\u00EB.vcf");  // composed
  EXPECT_TRUE(names.Contains("anna smith.vcf"));
  EXPECT_TRUE(names.Contains("ANNA SMITH.VCF"));
  EXPECT_TRUE(names.Contains("zoe\u0308.vcf"));  // decomposed, other case
  EXPECT_TRUE(names.Contains("ZO\u00CB.vcf"));
  EXPECT_FALSE(names.Contains("Anna Smith (2).vcf"));
  EXPECT_FALSE(names.Contains("Zoe.vcf"));
  for (int i = 0; i < 1000; ++i) names.Add(std::to_string(i) + "n");  // grows and keeps all
  EXPECT_TRUE(names.Contains("999N") && names.Contains("anna SMITH.vcf"));
}

}  // namespace
}  // namespace qvvcard
