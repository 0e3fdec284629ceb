#include "input/csv_reader.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "input_helper.hpp"

namespace qvvcard {
namespace {

struct Row {
  std::vector<std::string> fields;
  std::uint64_t line;
  std::string error;
  bool operator==(const Row&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Row& r) {
  os << "line " << r.line << " [";
  for (const auto& f : r.fields) os << '"' << f << "\" ";
  return os << "] " << r.error;
}

// Small buffers, so that each state of the reader meets the end of a buffer.
class CsvReaderTest : public ::testing::TestWithParam<std::size_t> {
 protected:
  std::vector<Row> Read(std::string_view data, CsvReader::Limits limits = {}) {
    testing::StringInput input(data, GetParam());
    CsvReader reader(input.stream(), limits);
    CsvRecord rec;
    std::vector<Row> rows;
    while (reader.Next(rec)) {
      rows.push_back({{rec.views().begin(), rec.views().end()}, rec.line(), rec.error()});
    }
    return rows;
  }
};

TEST_P(CsvReaderTest, QuotedFieldsHoldSeparatorsQuotesAndLineBreaks) {
  const auto rows = Read(
      "a,b,c\r\n"
      "\"x, y\",\"say \"\"hi\"\"\",\"two\r\nlines\"\r\n"
      ",\"\",\n"
      "\"lf\nonly\",last");
  EXPECT_EQ(rows, (std::vector<Row>{
                      {{"a", "b", "c"}, 1, ""},
                      {{"x, y", "say \"hi\"", "two\r\nlines"}, 2, ""},
                      {{"", "", ""}, 4, ""},
                      {{"lf\nonly", "last"}, 5, ""},
                  }));
}

TEST_P(CsvReaderTest, LineEndsBlankLinesAndByteOrderMark) {
  // LF, CR LF and a lone CR all end a record; blank lines are no records;
  // only a mark at the very start is dropped.
  const auto rows = Read(
      "\xEF\xBB\xBFh1,h2\n\r\n\na,b\rc,d\r\n\xEF\xBB\xBF"
      "e,f\n\n");
  EXPECT_EQ(rows, (std::vector<Row>{
                      {{"h1", "h2"}, 1, ""},
                      {{"a", "b"}, 4, ""},
                      {{"c", "d"}, 5, ""},
                      {{"\xEF\xBB\xBF"
                        "e",
                        "f"},
                       6,
                       ""},
                  }));
  EXPECT_TRUE(Read("").empty());
  EXPECT_TRUE(Read("\xEF\xBB\xBF").empty());
  EXPECT_EQ(Read("\xEF\xBB"), (std::vector<Row>{{{"\xEF\xBB"}, 1, ""}}));
}

TEST_P(CsvReaderTest, MalformedRecordsAreFlaggedAndReadingGoesOn) {
  const auto rows = Read(
      "ok,1\n"
      "ab\"c,2\n"
      "\"closed\"after,3\n"
      "fine,4\n"
      "\"never closed,5\nmore\n");
  ASSERT_EQ(rows.size(), 5u);
  EXPECT_EQ(rows[0].error, "");
  EXPECT_EQ(rows[1].error, "a quote inside an unquoted value in field 1");
  EXPECT_EQ(rows[2].error, "text after the closing quote in field 1");
  EXPECT_EQ(rows[3], (Row{{"fine", "4"}, 4, ""}));
  EXPECT_EQ(rows[4].line, 5u);
  EXPECT_EQ(rows[4].error, "a quoted value not closed before the end of the input in field 1");
}

TEST_P(CsvReaderTest, LimitsBoundMemoryAndAreReported) {
  CsvReader::Limits limits;
  limits.max_record_bytes = 8;
  limits.max_fields = 3;
  const auto rows = Read("12345,6789\nshort\n1,2,3,4,5\n\"a\nb\",c\n", limits);
  ASSERT_EQ(rows.size(), 4u);
  EXPECT_EQ(rows[0].error, "record longer than 8 bytes");
  EXPECT_EQ(rows[1], (Row{{"short"}, 2, ""}));
  EXPECT_EQ(rows[2].error, "more than 3 fields");
  EXPECT_EQ(rows[2].fields.size(), 3u);
  EXPECT_EQ(rows[3], (Row{{"a\nb", "c"}, 4, ""}));
}

// Fields of every length, plain and quoted, so that runs of ordinary bytes
// end at every place in and after a block of the scan, and records cross the
// end of the buffer wherever they can.
TEST_P(CsvReaderTest, FieldsOfEveryLengthReadBackExactly) {
  const auto cycle = [](std::size_t n) {
    std::string s;
    for (std::size_t i = 0; i < n; ++i) s.push_back("abcdefghijklmnopqrstuvwxyz0123456789"[i % 36]);
    return s;
  };
  std::string data;
  std::vector<Row> expected;
  std::uint64_t line = 1;
  for (std::size_t n = 0; n <= 40; ++n) {
    const std::string plain = cycle(n);
    std::string quoted = cycle(n);
    quoted.insert(n / 2, "\",\"");
    if (n % 7 == 3) quoted += "\nmore";
    std::string encoded = "\"";
    for (char c : quoted) encoded += c == '"' ? std::string("\"\"") : std::string(1, c);
    encoded += '"';
    const std::string last = "\xC3\xA9" + cycle(40 - n);
    data += plain + "," + encoded + "," + last + (n % 3 == 0 ? "\r\n" : "\n");
    expected.push_back({{plain, quoted, last}, line, ""});
    line += n % 7 == 3 ? 2 : 1;
  }
  EXPECT_EQ(Read(data), expected);
}

TEST_P(CsvReaderTest, SizeLimitHoldsToTheByte) {
  CsvReader::Limits limits;
  limits.max_record_bytes = 20;
  const auto rows = Read(
      "0123456789,0123456789\n"
      "0123456789,01234567890\n"
      "\"0123456789\",\"012345678\"\"\"\n"
      "x\n",
      limits);
  EXPECT_EQ(rows, (std::vector<Row>{
                      {{"0123456789", "0123456789"}, 1, ""},
                      {{"0123456789", "0123456789"}, 2, "record longer than 20 bytes"},
                      {{"0123456789", "012345678\""}, 3, ""},
                      {{"x"}, 4, ""},
                  }));
}

// Records read where they lie in the buffer and records read into their
// own storage (quoted, or reaching beyond the buffer, or past a limit)
// give the same fields and lines, wherever the buffer ends: before, inside
// or after a CR LF, a separator or a quote.
TEST(CsvReaderBuffers, RecordsReadTheSameWhereverTheBufferEnds) {
  const std::string data =
      "name,phone,mail\r\n"
      "Ann,+1 555,ann@example.org\r\n"
      "Bo,\"x, y\",z\rCy,,\n"
      "\r\n"
      "\"q\",1,2\n"
      "ab\"c,2,3\n"
      "1,2,3,4,5\n"
      "0123456789abcdef0123456789,x,y\r"
      "last,no,end";
  CsvReader::Limits limits;
  limits.max_fields = 4;
  limits.max_record_bytes = 24;
  const std::vector<Row> expected = {
      {{"name", "phone", "mail"}, 1, ""},
      {{"Ann", "+1 555", "ann@example.org"}, 2, ""},
      {{"Bo", "x, y", "z"}, 3, ""},
      {{"Cy", "", ""}, 4, ""},
      {{"q", "1", "2"}, 6, ""},
      {{"ab\"c", "2", "3"}, 7, "a quote inside an unquoted value in field 1"},
      {{"1", "2", "3", "5"}, 8, "more than 4 fields"},
      {{"0123456789abcdef01234567", "", ""}, 9, "record longer than 24 bytes"},
      {{"last", "no", "end"}, 10, ""},
  };
  for (std::size_t buffer = 4; buffer <= data.size() + 1; ++buffer) {
    testing::StringInput input(data, buffer);
    CsvReader reader(input.stream(), limits);
    CsvRecord rec;
    std::vector<Row> rows;
    while (reader.Next(rec)) {
      rows.push_back({{rec.views().begin(), rec.views().end()}, rec.line(), rec.error()});
    }
    ASSERT_EQ(rows, expected) << "buffer of " << buffer;
  }
}

INSTANTIATE_TEST_SUITE_P(BufferSizes, CsvReaderTest, ::testing::Values(4, 5, 6, 7, 64 * 1024));

}  // namespace
}  // namespace qvvcard
