#include "input/jsonl_reader.hpp"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <optional>

#include "input/record_source.hpp"
#include "input_helper.hpp"

namespace qvvcard {
namespace {

using Type = FieldValue::Type;

// What a record holds, as text, to compare readings.
std::string Described(const JsonRecord& rec) {
  std::string out = std::to_string(rec.line()) + " " + rec.error();
  for (const JsonItem& item : rec.items()) {
    out += " [" + item.key + "] " + std::to_string(static_cast<int>(item.value.type)) + " " +
           std::string(item.value.view());
  }
  return out;
}

// The records of data, read through buffers of several sizes: lines read
// where they lie in the buffer and lines gathered across its end must read
// the same.
std::vector<JsonRecord> ReadAll(std::string_view data, JsonlReader::Limits limits = {}) {
  std::vector<JsonRecord> out;
  std::vector<std::string> first;
  bool read = false;
  for (const std::size_t buffer : {std::size_t{1} << 16, std::size_t{7}, std::size_t{29}}) {
    testing::StringInput input(data, buffer);
    JsonlReader reader(input.stream(), limits);
    std::vector<JsonRecord> recs;
    std::vector<std::string> described;
    JsonRecord rec;
    while (reader.Next(rec)) {
      rec.Own();
      recs.push_back(rec);
      described.push_back(Described(rec));
    }
    if (!read) {
      read = true;
      out = std::move(recs);
      first = std::move(described);
    } else {
      EXPECT_EQ(described, first) << "buffer of " << buffer;
    }
  }
  return out;
}

TEST(JsonlReader, ValuesKeepTheirJsonType) {
  const auto recs = ReadAll(
      R"({"s": "Zo\u00eb \ud83d\ude00", "t": true, "f": false, "i": -32769, "u": 18446744073709551615,)"
      R"( "big": 123456789012345678901234567890, "x": 1.5, "n": null, "o": {"k": [1, {"z": 2}]},)"
      R"( "a": [], "s": "again"})");
  ASSERT_EQ(recs.size(), 1u);
  ASSERT_EQ(recs[0].error(), "");
  const auto items = recs[0].items();
  ASSERT_EQ(items.size(), 11u);  // members inside "o" are not the record's
  EXPECT_EQ(items[0].key, "s");
  EXPECT_EQ(items[0].value.type, Type::Text);
  EXPECT_EQ(items[0].value.text, "Zo\xC3\xAB \xF0\x9F\x98\x80");
  EXPECT_EQ(items[1].value.type, Type::Bool);
  EXPECT_TRUE(items[1].value.boolean);
  EXPECT_FALSE(items[2].value.boolean);
  EXPECT_EQ(items[3].value.type, Type::Integer);
  EXPECT_EQ(items[3].value.integer, -32769);
  EXPECT_TRUE(items[4].value.integer_too_large);
  EXPECT_EQ(items[5].value.type, Type::Integer);
  EXPECT_TRUE(items[5].value.integer_too_large);
  EXPECT_EQ(items[6].value.type, Type::Other);
  EXPECT_EQ(items[6].value.text, "1.5");
  EXPECT_EQ(items[7].value.type, Type::Null);
  EXPECT_EQ(items[8].value.type, Type::Other);
  EXPECT_EQ(items[8].value.text, "an object");
  EXPECT_EQ(items[9].value.text, "an array");
  // A repeated key stays visible, for the caller to refuse.
  EXPECT_EQ(items[10].key, "s");
}

TEST(JsonlReader, LinesBlankLinesAndLineEnds) {
  const auto recs = ReadAll("\xEF\xBB\xBF{\"a\":\"1\"}\r\n\n   \r\n{\"a\":\"2\"}\n{}");
  ASSERT_EQ(recs.size(), 3u);
  EXPECT_EQ(recs[0].line(), 1u);
  EXPECT_EQ(recs[0].items()[0].value.text, "1");
  EXPECT_EQ(recs[1].line(), 4u);
  EXPECT_EQ(recs[2].line(), 5u);
  EXPECT_EQ(recs[2].error(), "");
  EXPECT_TRUE(recs[2].items().empty());
}

TEST(JsonlReader, BadLinesAreFlaggedAndReadingGoesOn) {
  JsonlReader::Limits limits;
  limits.max_line_bytes = 40;
  limits.max_items = 2;
  const auto recs = ReadAll(
      "[1]\n"
      "\"text\"\n"
      "{\"a\": 1\n"
      "{\"a\": \"\xFF\"}\n"
      "{\"a\": 1} {\"b\": 2}\n"
      "{\"a\": \"" +
          std::string(60, 'x') +
          "\"}\n"
          "{\"a\": 1, \"b\": 2, \"c\": 3}\n"
          "{\"ok\": true}\n",
      limits);
  ASSERT_EQ(recs.size(), 8u);
  EXPECT_EQ(recs[0].error(), "a line must hold one JSON object");
  EXPECT_EQ(recs[1].error(), "a line must hold one JSON object");
  for (int i : {2, 3, 4}) {
    EXPECT_TRUE(recs[i].error().starts_with("not valid JSON: parse error at column "))
        << recs[i].error();
  }
  EXPECT_EQ(recs[5].error(), "line longer than 40 bytes");
  EXPECT_EQ(recs[6].error(), "more than 2 members");
  EXPECT_EQ(recs[7].error(), "");
  EXPECT_EQ(recs[7].line(), 8u);
}

// Lines of the plain form are read without the parser: they must read as
// the parser reads them, and whatever is not quite plain must still be
// judged as the parser judges it.
TEST(JsonlReader, PlainLinesReadAsTheParserReadsThem) {
  const auto recs = ReadAll(
      " {\t\"a\" :\"\" , \"b\":-0,\"c\":null,\"d\":false, \"e\": \"Zo\xC3\xAB and a long value\"} "
      "\r\n"
      "{\"n\": 123456789012345678, \"m\": -1234567890123456789}\n"
      "{\"a\": 01}\n"
      "{\"a\": \"x\ty\"}\n"
      "{\"a\": 1,}\n"
      "{\"a\": \"\xC3\"}\n"
      "{\"a\": \"\xED\xA0\x80\"}\n"
      "{\"a\": tru}\n"
      "{\"a\": \"0123456789abcdef\", \"b\": \"0123456789abcdef0\"}\n");
  ASSERT_EQ(recs.size(), 9u);
  ASSERT_EQ(recs[0].error(), "");
  const auto items = recs[0].items();
  ASSERT_EQ(items.size(), 5u);
  EXPECT_EQ(items[0].key, "a");
  EXPECT_EQ(items[0].value.type, Type::Text);
  EXPECT_EQ(items[0].value.view(), "");
  EXPECT_EQ(items[1].value.type, Type::Integer);
  EXPECT_EQ(items[1].value.integer, 0);
  EXPECT_EQ(items[1].value.text, "-0");
  EXPECT_EQ(items[2].value.type, Type::Null);
  EXPECT_EQ(items[3].value.type, Type::Bool);
  EXPECT_FALSE(items[3].value.boolean);
  EXPECT_EQ(items[4].value.view(), "Zo\xC3\xAB and a long value");
  // Integers at the edge of what is read without the parser, and past it.
  EXPECT_EQ(recs[1].items()[0].value.integer, 123456789012345678);
  EXPECT_EQ(recs[1].items()[1].value.integer, -1234567890123456789);
  // A leading zero, a control character, a trailing comma, a cut or
  // surrogate UTF-8 sequence, a misspelt literal: refused as by the parser.
  for (int i = 2; i <= 7; ++i) {
    EXPECT_TRUE(recs[i].error().starts_with("not valid JSON: ")) << i << ": " << recs[i].error();
  }
  EXPECT_EQ(recs[8].items()[1].value.view(), "0123456789abcdef0");
}

// A key is taken as it stands only where the line before had the same
// bytes as a plain string: a key the parser unescaped (a quote, a
// backslash, a control character) written raw reads as JSON does.
TEST(JsonlReader, KeysUnescapedBeforeAreReadAgainAsWritten) {
  for (const std::size_t buffer : {std::size_t{7}, std::size_t{1} << 16}) {
    testing::StringInput input(
        "{\"a\\\"b\": 1}\n{\"a\"b\": 1}\n"
        "{\"a\\\\b\": 1}\n{\"a\\b\": 1}\n"
        "{\"t\\u0009k\": 1}\n{\"t\tk\": 1}\n"
        "{\"plain\": 1}\n{\"plain\": 2}\n",
        buffer);
    JsonlReader reader(input.stream());
    JsonRecord rec;
    std::vector<std::pair<std::string, std::string>> got;  // the first key, or the error
    while (reader.Next(rec)) {
      got.emplace_back(rec.items().empty() ? "" : rec.items()[0].key,
                       rec.error().empty() ? "" : "error");
    }
    const std::vector<std::pair<std::string, std::string>> want = {
        {"a\"b", ""}, {"", "error"}, {"a\\b", ""},  {"a\b", ""},
        {"t\tk", ""}, {"", "error"}, {"plain", ""}, {"plain", ""}};
    EXPECT_EQ(got, want) << "buffer of " << buffer;
  }
}

// Lines written alike are read by their values alone; whatever changes
// between them (a value's length or kind, a blank, a key, a member more or
// less, an escape, a malformed value) reads as each line alone reads.
TEST(JsonlReader, LinesOfOneLayoutReadAsEachLineAlone) {
  const std::vector<std::string> lines = {
      R"({"a": "x", "b": 1, "c": true})",
      R"({"a": "a longer value than before", "b": 22, "c": true})",
      R"({"a": "", "b": -3, "c": true})",
      R"({"a": 5, "b": "s", "c": null})",
      R"({"a": "x", "b": 1, "c": false})",
      R"({"a": "x", "b": 1, "c": true })",
      R"({"a": "x", "b": 1})",
      R"({"a": "x", "b": 1, "c": true, "d": 1})",
      R"({"a": "x\u00e9", "b": 1, "c": true})",
      R"({"a": "x", "b": 1, "c": true})",
      "{\"a\": \"\xC3\xA9\", \"b\": 1, \"c\": true}",
      "{\"a\": \"\xC3\", \"b\": 1, \"c\": true}",
      R"({"a": "q"", "b": 1, "c": true})",
      R"({"a": "q", "b": 01, "c": true})",
      R"({"a": "q", "b": 1, "c": tru})",
      R"({"a": "q", "b": 1, "c": true}x)",
      R"({"A": "x", "b": 1, "c": true})",
      R"({"A": "y", "b": 2, "c": true})",
      R"({"A": "z", "b": 3, "c": true})",
      R"({"A": "z", "b": 3, "c": true} )",
      R"({"A": "w", "b": 4, "c": true} )",
  };
  std::string data;
  for (std::size_t i = 0; i < lines.size(); ++i) data += lines[i] + (i % 3 == 0 ? "\r\n" : "\n");
  testing::StringInput input(data);
  JsonlReader reader(input.stream());
  JsonRecord rec;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    ASSERT_TRUE(reader.Next(rec));
    JsonObjectParser alone;
    JsonRecord want;
    std::string text = lines[i];
    alone.Parse(text, want);
    std::string got = Described(rec);
    got.erase(0, got.find(' '));  // the line number
    std::string expected = Described(want);
    expected.erase(0, expected.find(' '));
    EXPECT_EQ(got, expected) << lines[i];
  }
  EXPECT_FALSE(reader.Next(rec));
}

// A number too small to tell from 0 reads as a double all the same (a
// number the card cannot take, as a fraction is), however many digits its
// exponent has; one beyond the largest double, or of another form, is no
// JSON the tool reads.
TEST(JsonlReader, NumbersTooSmallForADoubleAreJson) {
  const auto recs = ReadAll(
      "{\"x\": 836854775e-3233333333333333333333333333333, \"y\": [0.0e99999999999999999999]}\n"
      "{\"x\": -0.5e-99999999999999999999, \"y\": {\"z\": 2000e-99999999999999999999}}\n"
      "{\"x\": 1.e-99999999999999999999}\n"
      "{\"x\": [01e-99999999999999999999]}\n"
      "{\"x\": 1.7e840575808}\n"
      "{\"x\": [0.001e312]}\n"
      "{\"x\": 1.8e308}\n");
  ASSERT_EQ(recs.size(), 7u);
  for (int i : {0, 1}) {
    ASSERT_EQ(recs[i].error(), "") << i;
    EXPECT_EQ(recs[i].items()[0].value.type, Type::Other) << i;
    EXPECT_TRUE(recs[i].items()[0].value.number) << i;
  }
  EXPECT_EQ(recs[0].items()[0].value.text, "836854775e-3233333333333333333333333333333");
  for (int i : {2, 3, 4, 5, 6}) {
    EXPECT_TRUE(recs[i].error().starts_with("not valid JSON: ")) << i << ": " << recs[i].error();
  }
}

// A string or a key that the text ends in, at every length, is no plain
// object, and its scan reads no byte beyond the text (each text is held in
// storage of its own size).
TEST(JsonObjectParser, TextsEndingInAStringAreNotReadBeyond) {
  JsonObjectParser parser;
  JsonObject object;
  for (const std::string_view head : {R"({"a": ")", R"({")", R"({"a": "b", "c": ")"}) {
    for (std::size_t n = 0; n <= 40; ++n) {
      std::string text(head);
      text.append(n, n % 3 == 0 ? 'x' : '\xC3');
      const auto bytes = std::make_unique<char[]>(text.size());
      std::memcpy(bytes.get(), text.data(), text.size());
      EXPECT_FALSE(parser.ParsePlain(std::string_view(bytes.get(), text.size()), object))
          << head << " " << n;
    }
  }
}

// Strings with escapes are read without the parser, each as the parser
// reads it; an escape JSON does not have, a cut one, or a surrogate not in
// a pair is left to the parser. A line of the layout of the one before it
// may have escapes where that one had none.
TEST(JsonObjectParser, EscapesReadPlainlyAsTheParserReadsThem) {
  const std::string_view plain[] = {
      R"({"a": "say \"hi\"", "b": "a\\b\/c", "c": "\b\f\n\r\t"})",
      R"({"a": "\u00e9t\u00C9", "b": "\u20ac \ud83d\ude00", "c": "\u0000x\u007F"})",
  };
  for (const std::string_view text : plain) {
    JsonObjectParser parser, reference;
    JsonObject object, expected;
    ASSERT_TRUE(parser.ParsePlain(text, object)) << text;
    std::string copy(text);
    reference.ParseFull(copy, expected);
    ASSERT_EQ(expected.error(), "") << text;
    ASSERT_EQ(object.items().size(), expected.items().size());
    for (std::size_t i = 0; i < object.items().size(); ++i) {
      EXPECT_EQ(object.items()[i].value.view(), expected.items()[i].value.view()) << text;
    }
  }
  for (const std::string_view text :
       {R"({"a": "x\y"})", R"({"a": "\u12"})", R"({"a": "\u12G4"})", R"({"a": "\ud83d"})",
        R"({"a": "\ude00"})", R"({"a": "\ud83d\u0041"})", R"({"a": "\ud83dx"})", R"({"a\"": "x"})",
        R"({"a": "x\)"}) {
    JsonObjectParser parser;
    JsonObject object;
    EXPECT_FALSE(parser.ParsePlain(text, object)) << text;
  }
  const auto recs = ReadAll(
      "{\"a\": \"x\", \"b\": 1}\n{\"a\": \"y\\\"z\", \"b\": 2}\n{\"a\": \"\\u00e9\", \"b\": 3}\n");
  ASSERT_EQ(recs.size(), 3u);
  EXPECT_EQ(recs[1].items()[0].value.view(), "y\"z");
  EXPECT_EQ(recs[2].items()[0].value.view(), "\xC3\xA9");
  EXPECT_EQ(recs[2].items()[1].value.integer, 3);
}

// The layout of an object read before serves only that object while it
// holds the keys it had: a new object in the same place is read in full.
TEST(JsonObjectParser, ANewObjectWhereAnotherWasIsReadInFull) {
  JsonObjectParser parser;
  std::optional<JsonObject> object;
  object.emplace();
  std::string first = R"({"a": "x", "b": "y"})";
  parser.Parse(first, *object);
  ASSERT_EQ(object->items().size(), 2u);
  object.reset();
  object.emplace();
  std::string second = R"({"a": "u", "b": "v"})";
  parser.Parse(second, *object);
  ASSERT_EQ(object->items().size(), 2u);
  EXPECT_EQ(object->items()[0].key, "a");
  EXPECT_EQ(object->items()[1].value.view(), "v");
}

// A line of the layout of the one before it is held to the line limit as
// any other.
TEST(JsonlReader, LongLinesOfOneLayoutAreRefused) {
  JsonlReader::Limits limits;
  limits.max_line_bytes = 20;
  const auto recs =
      ReadAll("{\"a\": \"x\"}\n{\"a\": \"0123456789\"}\n{\"a\": \"0123456789ab\"}\n", limits);
  ASSERT_EQ(recs.size(), 3u);
  EXPECT_EQ(recs[1].error(), "");
  EXPECT_EQ(recs[2].error(), "line longer than 20 bytes");
}

// Keys are looked up again when a line names them in another order, and
// not otherwise.
TEST(JsonlSource, KeysInAnotherOrderReachTheirProperties) {
  testing::StringInput input(
      "{\"NameFamily\": \"A\", \"NameGiven\": \"B\"}\n"
      "{\"NameFamily\": \"C\", \"NameGiven\": \"D\"}\n"
      "{\"NameGiven\": \"E\", \"NameFamily\": \"F\"}\n"
      "{\"NameGiven\": \"G\", \"NameFamily\": \"H\"}\n"
      "{\"NameGiven\": \"I\",\"NameFamily\": \"J\"}\n");
  ConvertOptions options;
  options.check_keys_first = false;
  auto source = OpenRecords(input.stream(), "jsonl", "in.jsonl", options);
  CardBuilder builder;
  std::vector<std::string> names;
  std::string card;
  while (source->Next(builder)) {
    ASSERT_TRUE(builder.Finish(card));
    const std::size_t at = card.find("\r\nN:");
    names.push_back(card.substr(at + 2, card.find("\r\n", at + 2) - at - 2));
  }
  EXPECT_EQ(names,
            (std::vector<std::string>{"N:A;B;;;", "N:C;D;;;", "N:F;E;;;", "N:H;G;;;", "N:J;I;;;"}));
}

}  // namespace
}  // namespace qvvcard
