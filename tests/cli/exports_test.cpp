// The export tables against the columns they claim, recognition of
// headers, and column maps.
#include "input/export_format.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "input/column_map.hpp"
#include "input/record_source.hpp"
#include "input_helper.hpp"

namespace qvvcard {
namespace {

std::string Expanded(std::string_view header, int group = 1) {
  const std::size_t at = header.find('#');
  if (at == std::string_view::npos) return std::string(header);
  std::string s(header.substr(0, at));
  s.append(std::to_string(group)).append(header.substr(at + 1));
  return s;
}

std::string CsvCell(const std::string& s) {
  if (s.find_first_of(",\"") == std::string::npos) return s;
  std::string quoted(1, '"');
  quoted += s;
  quoted += '"';
  return quoted;
}

struct Converted {
  std::vector<std::string> cards;
  std::vector<std::string> problems;
  std::vector<std::string> unplaced;
  std::string notice;
};

Converted Convert(const std::string& csv, const ConvertOptions& options = {}) {
  testing::StringInput input(csv);
  auto source = OpenRecords(input.stream(), "csv", "in.csv", options);
  CardBuilder builder(options.rfc_escape);
  Converted run;
  run.notice = source->Notice();
  std::string card;
  while (source->Next(builder)) {
    if (builder.Finish(card)) run.cards.push_back(card);
    for (const Problem& p : builder.problems())
      run.problems.push_back(p.field + ": " + Describe(p));
  }
  run.unplaced = source->Unplaced();
  return run;
}

// Every column of every table: its name finds its own row, its property
// exists, and a value in it alone either reaches the card or is reported,
// under the column's name.
TEST(ExportTables, EveryColumnIsHandledAsItsRowSays) {
  for (const ExportFormat& format : KnownExports()) {
    std::vector<std::string> header;
    for (const ExportColumn& row : format.columns) {
      SCOPED_TRACE(std::string(format.key) + ": " + std::string(row.header));
      const std::string name = Expanded(row.header);
      std::uint32_t group = 0;
      EXPECT_EQ(FindExportColumn(format, name, group), &row) << "another row takes the name";
      EXPECT_EQ(group, row.header.find('#') != std::string_view::npos ? 1u : 0u);
      const bool needs_property = row.holds == Holds::Property || row.holds == Holds::Date ||
                                  row.holds == Holds::Organisation;
      EXPECT_EQ(row.property.has_value(), needs_property);
      header.push_back(name);
    }
    std::string head;
    for (const std::string& h : header) {
      if (!head.empty()) head += ',';
      head += CsvCell(h);
    }
    EXPECT_EQ(RecogniseExport(std::vector<std::string_view>(header.begin(), header.end())),
              &format);

    for (std::size_t i = 0; i < format.columns.size(); ++i) {
      const ExportColumn& row = format.columns[i];
      SCOPED_TRACE(std::string(format.key) + ": " + header[i]);
      const std::string value = row.holds == Holds::Date
                                    ? std::string("7/4/1979")
                                    : std::string(1, 'v').append(std::to_string(i)).append("w");
      std::string line;
      for (std::size_t j = 0; j < header.size(); ++j) {
        if (j > 0) line += ',';
        if (j == i) line += value;
      }
      const Converted run = Convert(head + "\r\n" + line + "\r\n");
      ASSERT_EQ(run.cards.size(), 1u);
      EXPECT_TRUE(run.problems.empty()) << run.problems.front();
      const std::string shown = row.holds == Holds::Date ? "1979-07-04" : value;
      const bool placed = run.cards[0].find(shown) != std::string::npos;
      const bool reported =
          run.unplaced.size() == 1 && run.unplaced[0].starts_with(header[i] + ": 1 record had");
      const bool qualifies = row.holds == Holds::Qualifier || row.part == Part::Label;
      if (qualifies) {
        // A label says what its value is; alone it neither stands on the card
        // nor is lost.
        EXPECT_FALSE(placed);
        EXPECT_TRUE(run.unplaced.empty());
      } else if (row.holds == Holds::NoPlace || row.part == Part::DisplayName) {
        EXPECT_FALSE(placed);
        EXPECT_TRUE(reported) << (run.unplaced.empty() ? "nothing reported" : run.unplaced[0]);
      } else {
        EXPECT_TRUE(placed) << run.cards[0];
        EXPECT_TRUE(run.unplaced.empty()) << run.unplaced.front();
      }
    }
  }
}

// All columns of a table at once: no property is given twice, and every
// value that is not a label is on the card or reported.
TEST(ExportTables, AllColumnsAtOnce) {
  for (const ExportFormat& format : KnownExports()) {
    SCOPED_TRACE(format.key);
    std::string head, line;
    std::vector<std::string> values;
    for (std::size_t i = 0; i < format.columns.size(); ++i) {
      const ExportColumn& row = format.columns[i];
      std::string value = std::string(1, 'v').append(std::to_string(i)).append("w");
      if (row.holds == Holds::Date) value = "7/4/1979";
      if (row.part == Part::Label) value = "Work";
      if (i > 0) {
        head += ',';
        line += ',';
      }
      head += CsvCell(Expanded(row.header));
      line += value;
      values.push_back(value);
    }
    const Converted run = Convert(head + "\n" + line + "\n");
    ASSERT_EQ(run.cards.size(), 1u);
    EXPECT_TRUE(run.problems.empty()) << run.problems.front();
    for (std::size_t i = 0; i < format.columns.size(); ++i) {
      const ExportColumn& row = format.columns[i];
      if (row.holds == Holds::Qualifier || row.part == Part::Label) continue;
      if (row.part == Part::Formatted) {
        // It repeats the parts of its address, which are there.
        EXPECT_EQ(run.cards[0].find(values[i]), std::string::npos);
        continue;
      }
      const std::string shown = row.holds == Holds::Date ? "1979-07-04" : values[i];
      const std::string name = Expanded(row.header) + ": ";
      const bool reported = std::any_of(run.unplaced.begin(), run.unplaced.end(),
                                        [&](const std::string& l) { return l.starts_with(name); });
      EXPECT_NE(run.cards[0].find(shown) != std::string::npos, reported) << row.header;
    }
  }
}

TEST(ExportTables, HeadersAreRecognisedOnlyWhenTheySayWhichExport) {
  using V = std::vector<std::string_view>;
  const auto google = FindExport("GOOGLE"), old = FindExport("google-old"),
             outlook = FindExport("Outlook");
  ASSERT_TRUE(google && old && outlook);
  EXPECT_EQ(FindExport("gmail"), nullptr);
  // Columns in any order and case, some left out, one unknown.
  EXPECT_EQ(RecogniseExport(V{"last name", "First Name", " Phone 1 - Label ", "Phone 1 - Value",
                              "Something New"}),
            google);
  EXPECT_EQ(RecogniseExport(V{"Given Name", "Family Name", "Group Membership"}), old);
  EXPECT_EQ(RecogniseExport(V{"Title", "First Name", "Last Name", "Job Title", "Pager"}), outlook);
  // Names that several exports share say nothing; a minority of known
  // names is no export.
  EXPECT_EQ(RecogniseExport(V{"First Name", "Last Name", "Notes"}), nullptr);
  EXPECT_EQ(RecogniseExport(V{"Pager", "Fax number", "Surname", "Forename"}), nullptr);
  // Phone 0 and numbers without a group are no group columns.
  EXPECT_EQ(RecogniseExport(V{"Phone 0 - Label", "Phone - Value", "First Name"}), nullptr);

  EXPECT_TRUE(RecognisedHeader(V{"NameFamily", "", "tel1_number"}));
  EXPECT_TRUE(RecognisedHeader(V{"Title", "First Name", "Job Title"}));
  EXPECT_FALSE(RecognisedHeader(V{"NameFamily;NameGiven"}));
  EXPECT_FALSE(RecognisedHeader(V{"Title;First Name;Job Title"}));
  EXPECT_FALSE(RecognisedHeader(V{"", ""}));
}

TEST(ColumnMap, LinesCommentsAndFurtherAssignments) {
  const ColumnMap map = ParseColumnMap(
      "\xEF\xBB\xBF# people\r\n\r\n  Mobile = Tel1_Number, Tel1_Cell=true\r\n"
      "Work Street = adr1_street, Adr1_Work=yes\nWork City = Adr1_Locality, Adr1_Work=yes\n"
      "Photo =\n   # indented comment\nPhone # = Tel2_Number\nFax = Tel2_Fax",
      "m.map");
  ASSERT_EQ(map.lines.size(), 6u);
  EXPECT_EQ(map.lines[0].column, "Mobile");
  EXPECT_EQ(map.lines[0].line, 3u);
  EXPECT_STREQ(map.lines[0].target->name, "Tel1_Number");
  ASSERT_EQ(map.lines[0].extras.size(), 1u);
  EXPECT_STREQ(map.lines[0].extras[0].property->name, "Tel1_Cell");
  EXPECT_EQ(map.lines[0].extras[0].value, "true");
  EXPECT_STREQ(map.lines[1].target->name, "Adr1_Street");
  EXPECT_EQ(map.lines[3].column, "Photo");
  EXPECT_EQ(map.lines[3].target, nullptr);
  EXPECT_EQ(map.lines[4].column, "Phone #");  // '#' only starts a comment line
  EXPECT_EQ(map.lines[4].line, 8u);
}

TEST(ColumnMap, ErrorsNameTheLine) {
  const struct {
    const char* text;
    const char* message;
  } cases[] = {
      {"A = NameFamily\nB NameGiven",
       "line 2: expects \"Column Name = Property\", not \"B NameGiven\""},
      {"= NameFamily", "line 1: no column name before \"=\""},
      {"# c\nA = NameFamly", "line 2: unknown property \"NameFamly\" (did you mean NameFamily?)"},
      {"A = Tel1_Number, Tel1_Cell", "line 1: expects \"Property=VALUE\" after the first property"},
      {"A = Tel1_Number, Tel1_Cell=maybe", "line 1: Tel1_Cell: expects true, false, yes, no"},
      {"A = GeoLatDeg\nB = Tel1_Number, GeoLatMin=99999",
       "line 2: GeoLatMin: \"99999\" is outside"},
      {"A = NameFamily\n\na = NameGiven", "line 3: column \"a\" is already mapped on line 1"},
      {"A = NameFamily\nB = namefamily", "line 2: NameFamily is already assigned on line 1"},
      {"A = Tel1_Number, Tel1_Cell=1\nB = Tel1_Cell",
       "line 2: Tel1_Cell is already assigned on line 1"},
      {"A = Adr1_Street, Adr1_Work=1\nB = Adr1_City", "line 2: unknown property \"Adr1_City\""},
      {"A = Adr1_Street, Adr1_Work=1\nB = Adr1_Locality, Adr1_Work=0",
       "line 2: Adr1_Work is already assigned on line 1"},
      {"A = Note, Note=x", "line 1: Note is assigned twice"},
      {"A = Note, Title=", "line 1: Title is given no value"},
      {"A = Note\nB = Tel2_Number\nC = Tel1_Number, Tel1_Cell=1",
       "line 2: Tel2_Number stands on a card only with a type of Tel2 (such as Tel2_Voice=true)"},
      {"A = Note, Adr3_Street=x", "line 1: Adr3_Street stands on a card only with a type of Adr3"},
      {"A = , Title=x", "line 1: no property after \"=\""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    try {
      ParseColumnMap(c.text, "m.map");
      ADD_FAILURE() << "accepted";
    } catch (const InputRefused& e) {
      EXPECT_EQ(std::string(e.what()).rfind(std::string("the column map m.map: ") + c.message, 0),
                0u)
          << e.what();
    }
  }
}

}  // namespace
}  // namespace qvvcard
