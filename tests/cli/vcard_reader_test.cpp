#include "input/vcard_reader.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>
#include <utf8.h>

#include <algorithm>
#include <string>
#include <vector>

#include "input_helper.hpp"

namespace qvvcard::vcf {
namespace {

// A line as name[;PARAM=a,b...]:value, with its group and line number.
std::string Show(const Line& l) {
  std::string s = std::to_string(l.line) + " ";
  if (!l.group.empty()) s.append(l.group).append(".");
  s.append(l.name);
  for (const Param& p : l.params) {
    s.append(";").append(p.name).append("=");
    for (std::size_t i = 0; i < p.values.size(); ++i) s.append(i ? "," : "").append(p.values[i]);
  }
  return s.append(":").append(l.value);
}

struct Read {
  std::string version;
  std::vector<std::string> lines;
  std::uint64_t line;
  std::string error;
  std::uint64_t error_line;
};

// Small buffers, so that every line end, fold and escape meets the end of
// a buffer somewhere.
class VcardReaderTest : public ::testing::TestWithParam<std::size_t> {
 protected:
  std::vector<Read> ReadAll(std::string_view data, Limits limits = {},
                            std::string charset = "UTF-8") {
    testing::StringInput input(data, GetParam());
    Reader reader(input.stream(), limits, charset);
    Card card;
    std::vector<Read> cards;
    while (reader.Next(card)) {
      Read r{std::string(card.version), {}, card.line, card.error, card.error_line};
      for (const Line& l : card.lines) r.lines.push_back(Show(l));
      cards.push_back(std::move(r));
    }
    return cards;
  }
  // The one card of data, which must read without an error.
  std::vector<std::string> Lines(std::string_view data) {
    const auto cards = ReadAll(data);
    EXPECT_EQ(cards.size(), 1u);
    if (cards.empty()) return {};
    EXPECT_EQ(cards[0].error, "");
    return cards[0].lines;
  }
};

TEST_P(VcardReaderTest, FoldingLineEndsAndFrames) {
  // CR LF and LF, a byte-order mark, frames in any case, blank lines
  // between cards; 3.0 unfolds a blank or tab away, 2.1 keeps it (it folds
  // only where a blank stands).
  const auto cards = ReadAll(
      "\xEF\xBB\xBF"
      "begin:vcard\r\nVERSION:3.0\r\nNOTE:one\r\n  two\r\n\tthree\r\nEnd:VCard\r\n"
      "\r\n\n"
      "BEGIN:VCARD\nVERSION:2.1\nNOTE:one\n two\nEND:VCARD");
  ASSERT_EQ(cards.size(), 2u);
  EXPECT_EQ(cards[0].version, "3.0");
  EXPECT_EQ(cards[0].line, 1u);
  EXPECT_EQ(cards[0].lines, std::vector<std::string>{"3 NOTE:one twothree"});
  EXPECT_EQ(cards[1].line, 9u);
  EXPECT_EQ(cards[1].lines, std::vector<std::string>{"11 NOTE:one two"});
  EXPECT_EQ(cards[1].error, "");
}

TEST_P(VcardReaderTest, EndOfACardAndItsNearMisses) {
  // END:VCARD in any case with blanks after it ends a card; a line that
  // only starts like it, or a folded one, is a line of the card.
  const auto cards = ReadAll(
      "BEGIN:VCARD\nVERSION:3.0\nEMAIL:end@example.org\nENDX:VCARD\nEND:VCARDS\nEN:VCARD\n"
      "eNd:vcard \t\nBEGIN:VCARD\nVERSION:3.0\nNOTE:x\n  END:VCARD\nEnD:vCaRd\n");
  ASSERT_EQ(cards.size(), 2u);
  EXPECT_EQ(cards[0].lines, (std::vector<std::string>{"3 EMAIL:end@example.org", "4 ENDX:VCARD",
                                                      "5 END:VCARDS", "6 EN:VCARD"}));
  EXPECT_EQ(cards[0].error, "");
  EXPECT_EQ(cards[1].lines, std::vector<std::string>{"10 NOTE:x END:VCARD"});
  EXPECT_EQ(cards[1].error, "");
}

TEST_P(VcardReaderTest, NamesOfEveryLengthASmallLetterOrAStrayByteAnywhere) {
  // Names are read in blocks: a small letter, or a byte no name may hold,
  // at each place of names, parameter names and values of every length.
  for (std::size_t n = 1; n <= 20; ++n) {
    for (std::size_t k = 0; k < n; ++k) {
      std::string name(n, 'X'), upper(n, 'X'), bad(n, 'X');
      name[k] = 'q';
      upper[k] = 'Q';
      bad[k] = '*';
      EXPECT_EQ(Lines("BEGIN:VCARD\nVERSION:3.0\n" + name + ":v\n" + name + ";" + name + "=" +
                      name + ":w\nEND:VCARD\n"),
                (std::vector<std::string>{"3 " + upper + ":v",
                                          "4 " + upper + ";" + upper + "=" + name + ":w"}))
          << name;
      const auto cards = ReadAll("BEGIN:VCARD\nVERSION:3.0\n" + bad + ":v\nEND:VCARD\n");
      ASSERT_EQ(cards.size(), 1u);
      EXPECT_EQ(cards[0].error, "line 3: no property: a name cannot hold \"*\"") << bad;
    }
  }
}

TEST_P(VcardReaderTest, EveryByteInANameOfEachLength) {
  // Letters, digits, "-" and "_" are a name's bytes and no other, in names
  // read a block, a short load or a byte at a time.
  for (int c = 1; c < 256; ++c) {
    const char b = static_cast<char>(c);
    if (b == '\n' || b == '\r' || b == '.' || b == ';' || b == ':') continue;
    const bool name = (b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z') || (b >= '0' && b <= '9') ||
                      b == '-' || b == '_';
    for (const std::size_t n : {3, 10, 20}) {
      std::string line(n, 'X');
      line[n / 2] = b;
      const auto cards = ReadAll("BEGIN:VCARD\nVERSION:3.0\n" + line + ":v\nEND:VCARD\n");
      ASSERT_EQ(cards.size(), 1u) << c;
      EXPECT_EQ(cards[0].error.empty(), name) << c << " in " << n;
      if (name) {
        const char up = b >= 'a' && b <= 'z' ? static_cast<char>(b - 32) : b;
        line[n / 2] = up;
        EXPECT_EQ(cards[0].lines, std::vector<std::string>{"3 " + line + ":v"}) << c;
      }
    }
  }
}

TEST_P(VcardReaderTest, QuotedPrintableSoftBreaksAndCharsets) {
  EXPECT_EQ(
      Lines("BEGIN:VCARD\r\nVERSION:2.1\r\n"
            // A soft break whose next line has no blank before it.
            "NOTE;CHARSET=UTF-8;ENCODING=QUOTED-PRINTABLE:Zo=C3=AB=0D=0AM=C3=BC=\r\n"
            "ller =3D ok\r\n"
            // Bare QUOTED-PRINTABLE, Latin-1, lower-case hex digits.
            "FN;QUOTED-PRINTABLE;CHARSET=ISO-8859-1:=e5se S=F8nderg=E5rd\r\n"
            "TITLE;ENCODING=QUOTED-PRINTABLE;CHARSET=Windows-1252:=93plain=94 =96 yes\r\n"
            // A last "=" before END:VCARD swallows nothing.
            "ROLE;ENCODING=QUOTED-PRINTABLE:end=\r\n"
            "END:VCARD\r\n"),
      (std::vector<std::string>{
          "3 NOTE;CHARSET=UTF-8;ENCODING=QUOTED-PRINTABLE:Zo\xC3\xAB\r\nM\xC3\xBCller = ok",
          "5 FN;ENCODING=QUOTED-PRINTABLE;CHARSET=ISO-8859-1:\xC3\xA5se S\xC3\xB8nderg\xC3\xA5rd",
          "6 TITLE;ENCODING=QUOTED-PRINTABLE;CHARSET=Windows-1252:\xE2\x80\x9Cplain\xE2\x80\x9D "
          "\xE2\x80\x93 yes",
          "7 ROLE;ENCODING=QUOTED-PRINTABLE:end"}));
  // Values without a CHARSET in the reader's default.
  testing::StringInput input("BEGIN:VCARD\nFN:Ren\xE9\nEND:VCARD\n", GetParam());
  Reader reader(input.stream(), {}, "WINDOWS-1252");
  Card card;
  ASSERT_TRUE(reader.Next(card));
  EXPECT_EQ(card.error, "");
  ASSERT_EQ(card.lines.size(), 1u);
  EXPECT_EQ(card.lines[0].value, "Ren\xC3\xA9");
}

TEST_P(VcardReaderTest, ParametersGroupsAndNames) {
  EXPECT_EQ(Lines("BEGIN:VCARD\nVERSION:4.0\n"
                  "tel;cell;Pref:1\n"                                        // 2.1's bare types
                  "TEL;TYPE=work,voice;type=\"cell,video\";PREF=1:tel:+1\n"  // lists, merged
                  "item1.EMAIL;type=INTERNET:a@b\n"
                  "Item1.X-ABLabel:_$!<Other>!$_\n"
                  "ADR;LABEL=\"Main St 1, a:b^nTown\";X-Q=\"x;y\":;;Main St 1;Town;;;\n"
                  "X-CUSTOM_1;X-EMPTY=:v\n"
                  "END:VCARD\n"),
            (std::vector<std::string>{
                "3 TEL;TYPE=cell,Pref:1", "4 TEL;TYPE=work,voice,cell,video;PREF=1:tel:+1",
                "5 item1.EMAIL;TYPE=INTERNET:a@b", "6 Item1.X-ABLABEL:_$!<Other>!$_",
                "7 ADR;LABEL=Main St 1, a:b\nTown;X-Q=x;y:;;Main St 1;Town;;;",
                "8 X-CUSTOM_1;X-EMPTY=:v"}));
}

TEST_P(VcardReaderTest, Base64KeptAndLargeValuesBounded) {
  const std::string photo(3000, 'A');
  std::string folded;
  for (std::size_t i = 0; i < photo.size(); i += 74) {
    folded.append(" ").append(photo, i, 74).append("\r\n");
  }
  const std::string card = "BEGIN:VCARD\r\nVERSION:2.1\r\nPHOTO;ENCODING=BASE64;TYPE=JPEG:\r\n" +
                           folded + "\r\nFN:After\r\nEND:VCARD\r\n";
  // 2.1 keeps the blanks of its folds; base64 readers skip them.
  const auto cards = ReadAll(card + "BEGIN:VCARD\r\nFN:Next\r\nEND:VCARD\r\n");
  ASSERT_EQ(cards.size(), 2u);
  ASSERT_EQ(cards[0].lines.size(), 2u);
  std::string kept = cards[0].lines[0];
  kept.erase(std::remove(kept.begin(), kept.end(), ' '), kept.end());
  EXPECT_EQ(kept, "3PHOTO;ENCODING=BASE64;TYPE=JPEG:" + photo);
  // Over the limit, the card is refused and read past; the next one reads.
  const auto limited = ReadAll(card + "BEGIN:VCARD\r\nFN:Next\r\nEND:VCARD\r\n", {1000, 100});
  ASSERT_EQ(limited.size(), 2u);
  EXPECT_EQ(limited[0].error, "line 16: the card is longer than 1000 bytes");
  EXPECT_EQ(limited[1].lines, std::vector<std::string>{"49 FN:Next"});
  EXPECT_EQ(limited[1].error, "");
  // So is a card of more lines than the limit.
  const auto many = ReadAll("BEGIN:VCARD\nFN:a\nNOTE:b\nTITLE:c\nEND:VCARD\n", {1000, 2});
  ASSERT_EQ(many.size(), 1u);
  EXPECT_EQ(many[0].error, "line 4: the card has more than 2 lines");
}

TEST_P(VcardReaderTest, BrokenCardsAreReportedAndTheOthersRead) {
  struct Case {
    std::string_view text;
    std::string_view error;  // of the first card
  };
  const Case cases[] = {
      {"BEGIN:VCARD\nFN:x\nBEGIN:VCARD\nFN:y\nEND:VCARD\n",
       "line 1: the card has no END:VCARD before the BEGIN:VCARD on line 3"},
      {"BEGIN:VCARD\nFN:x\nno property here\nEND:VCARD\n",
       "line 3: no property: the line has no \":\""},
      {"BEGIN:VCARD\nE MAIL:x\nEND:VCARD\n", "line 2: no property: a name cannot hold \" \""},
      {"BEGIN:VCARD\n:x\nEND:VCARD\n", "line 2: no property: the line has no name before \":\""},
      {"BEGIN:VCARD\nFN;X=\"open:x\nEND:VCARD\n", "line 2: a quoted parameter value is not closed"},
      {"BEGIN:VCARD\nFN;ENCODING=QUOTED-PRINTABLE:a=4\nEND:VCARD\n",
       "line 2: invalid quoted-printable: \"=4\""},
      {"BEGIN:VCARD\nFN:\xC3(\nEND:VCARD\n",
       "line 2: bytes that are no text of the charset \"UTF-8\" (at byte 1 of the value)"},
      {"BEGIN:VCARD\nFN;CHARSET=KOI9-X:\xC3\nEND:VCARD\n", "line 2: unknown charset \"KOI9-X\""},
      {"BEGIN:VCARD\nFN;CHARSET=SHIFT_JIS:\x82\nEND:VCARD\n",
       "line 2: bytes that are no text of the charset \"SHIFT_JIS\" (at byte 1 of the value)"},
      {"junk before\nmore junk\nBEGIN:VCARD\nFN:y\nEND:VCARD\n",
       "line 1: text outside a card (no BEGIN:VCARD before it)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    const auto cards = ReadAll(std::string(c.text) + "BEGIN:VCARD\nFN:last\nEND:VCARD\n");
    ASSERT_GE(cards.size(), 2u);
    EXPECT_EQ(cards.front().error, c.error);
    EXPECT_EQ(cards.front().error_line, std::stoull(std::string(c.error.substr(5))));
    // Nothing of the cards after it is lost.
    EXPECT_EQ(cards.back().error, "");
    ASSERT_EQ(cards.back().lines.size(), 1u);
    EXPECT_TRUE(cards.back().lines[0].ends_with(" FN:last"));
  }
  const auto last = ReadAll("BEGIN:VCARD\nFN:x\n\n");
  ASSERT_EQ(last.size(), 1u);
  EXPECT_EQ(last[0].error, "line 1: the card has no END:VCARD before the end of the input");
  EXPECT_EQ(last[0].lines, std::vector<std::string>{"2 FN:x"});
}

TEST_P(VcardReaderTest, AgentCardsAreReadPast) {
  EXPECT_EQ(Lines("BEGIN:VCARD\nVERSION:2.1\nFN:Boss\nAGENT:\nBEGIN:VCARD\nVERSION:2.1\n"
                  "FN:Assistant\nAGENT:\nBEGIN:VCARD\nFN:Deeper\nEND:VCARD\nEND:VCARD\n"
                  "TEL;WORK:1\nEND:VCARD\n"),
            (std::vector<std::string>{"3 FN:Boss", "4 AGENT:", "13 TEL;TYPE=WORK:1"}));
}

TEST_P(VcardReaderTest, SampleFilesRead) {
  struct Sample {
    const char* file;
    std::size_t cards;
    std::vector<std::string> errors;
  };
  const Sample samples[] = {
      {"phone-2.1.vcf", 2, {"", ""}},
      {"item-groups-3.0.vcf", 2, {"", ""}},
      {"webmail-3.0.vcf", 2, {"", ""}},
      {"server-4.0.vcf", 1, {""}},
      {"desktop-2.1.vcf", 1, {""}},
      {"broken.vcf",
       7,
       {"", "line 6: the card has no END:VCARD before the BEGIN:VCARD on line 10", "",
        "line 17: invalid quoted-printable: \"=ZZ\"", "line 22: no property: the line has no \":\"",
        "line 26: bytes that are no text of the charset \"UTF-8\" (at byte 5 of the value)", ""}},
  };
  for (const Sample& s : samples) {
    SCOPED_TRACE(s.file);
    const int fd = open((std::string(QVVCARD_VCF_SAMPLES) + "/" + s.file).c_str(), O_RDONLY);
    ASSERT_GE(fd, 0);
    InputStream in(fd, GetParam());
    Reader reader(in);
    Card card;
    std::vector<std::string> errors;
    std::uint64_t last = 0;
    while (reader.Next(card)) {
      errors.push_back(card.error);
      EXPECT_GT(card.line, last);
      for (const Line& l : card.lines) {
        EXPECT_GT(l.line, last);
        last = l.line;
      }
    }
    close(fd);
    EXPECT_EQ(errors, s.errors);
  }
}

TEST_P(VcardReaderTest, ParameterFormsPlainOrNot) {
  // Plain parameters (read in one pass) and the forms the whole parser
  // reads give the same lines.
  struct Case {
    const char* line;
    const char* shown;
  };
  const Case cases[] = {
      {"TEL;TYPE=WORK:1", "TEL;TYPE=WORK:1"},
      {"tel;type=work:1", "TEL;TYPE=work:1"},
      {"TEL;TYPE = work ;PREF= 1 :1", "TEL;TYPE=work;PREF=1:1"},
      {"TEL;WORK;voice;TYPE=cell,Pref:1", "TEL;TYPE=WORK,voice,cell,Pref:1"},
      {"TEL;TYPE=a;X=b;TYPE=c:1", "TEL;TYPE=a,c;X=b:1"},
      {"TEL;TYPE=a,,b:1", "TEL;TYPE=a,b:1"},
      {"TEL;X=:1", "TEL;X=:1"},
      {"TEL;X=a,:1", "TEL;X=a:1"},
      {"TEL;X=\"a,b\":1", "TEL;X=a,b:1"},
      {"TEL;X=a\"b\"c:1", "TEL;X=abc:1"},
      {"NOTE;X-A=1;X-B=2;X-C=3;X-D=4;X-E=5;X-F=6;X-G=7;X-H=8;X-I=9:v",
       "NOTE;X-A=1;X-B=2;X-C=3;X-D=4;X-E=5;X-F=6;X-G=7;X-H=8;X-I=9:v"},
      {"NOTE;TYPE=1,2,3,4,5,6,7,8,9:v", "NOTE;TYPE=1,2,3,4,5,6,7,8,9:v"},
      // Bare 2.1 parameters, by the word.
      {"NOTE;quoted-printable:=41", "NOTE;ENCODING=quoted-printable:A"},
      {"PHOTO;Base64:QUJD", "PHOTO;ENCODING=Base64:QUJD"},
      {"NOTE;8BIT;7bit;b:x", "NOTE;ENCODING=8BIT;ENCODING=7bit;ENCODING=b:x"},
      {"PHOTO;inline;URL;uri;Content-ID;cid:x",
       "PHOTO;VALUE=inline;VALUE=URL;VALUE=uri;VALUE=Content-ID;VALUE=cid:x"},
      {"TEL;QUOTED-PRINTABLES;X-B;bb:1", "TEL;TYPE=QUOTED-PRINTABLES,X-B,bb:1"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    EXPECT_EQ(Lines("BEGIN:VCARD\nVERSION:3.0\n" + std::string(c.line) + "\nEND:VCARD\n"),
              std::vector<std::string>{"3 " + std::string(c.shown)});
  }
}

INSTANTIATE_TEST_SUITE_P(Buffers, VcardReaderTest, ::testing::Values(4, 7, 61, 1 << 16));

// The reader's own UTF-8 check takes what the library takes: every two-byte
// sequence, the three- and four-byte ones around each boundary, at every
// place before, in and after a block of sixteen bytes.
TEST(VcardValues, Utf8AsTheLibraryTellsIt) {
  std::vector<std::string> sequences;
  for (int a = 0; a < 256; ++a) {
    for (int b = 0; b < 256; ++b) sequences.push_back({static_cast<char>(a), static_cast<char>(b)});
  }
  const int edges[] = {0x00, 0x7F, 0x80, 0x8F, 0x90, 0x9F, 0xA0, 0xBF, 0xC0, 0xFF};
  for (int a = 0xE0; a < 0x100; ++a) {
    for (int b = 0; b < 256; ++b) {
      for (const int c : edges) {
        sequences.push_back({static_cast<char>(a), static_cast<char>(b), static_cast<char>(c)});
        for (const int d : {0x7F, 0x80, 0xBF, 0xC0}) {
          if (a >= 0xF0) {
            sequences.push_back({static_cast<char>(a), static_cast<char>(b), static_cast<char>(c),
                                 static_cast<char>(d)});
          }
        }
      }
    }
  }
  std::size_t checked = 0;
  for (const std::string& seq : sequences) {
    for (const std::size_t before : {0, 1, 15, 16, 17}) {
      for (const std::size_t after : {0, 1, 16}) {
        const std::string s = std::string(before, 'a') + seq + std::string(after, 'b');
        ASSERT_EQ(IsUtf8(s), utf8::is_valid(s.begin(), s.end())) << before << " " << after;
        ++checked;
      }
    }
  }
  EXPECT_GT(checked, 1000000u);
}

TEST(VcardValues, SplitAndUnescapeByVersion) {
  EXPECT_EQ(Split("a\\;b;c\\\\;;d\\,e", ';'),
            (std::vector<std::string_view>{"a\\;b", "c\\\\", "", "d\\,e"}));
  EXPECT_EQ(Split("x,y\\,z", ','), (std::vector<std::string_view>{"x", "y\\,z"}));
  EXPECT_EQ(Unescape("a\\,b\\;c\\\\d\\ne\\Nf\\:g\\", "3.0"), "a,b;c\\d\ne\nf\\:g\\");
  EXPECT_EQ(Unescape("C:\\new\\;x", "2.1"), "C:\\new;x");
}

}  // namespace
}  // namespace qvvcard::vcf
