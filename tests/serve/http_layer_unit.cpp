// The head reader and the query splitter of the HTTP layer, directly; the
// layer on a socket is driven by test_http_layer.py.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "serve/http_head.hpp"
#include "serve/http_server.hpp"

namespace qvvcard::http {
namespace {

using Pairs = std::vector<std::pair<std::string, std::string>>;

TEST(ParseQuery, SplitsAtAmpersandsAndTheFirstEqualsSign) {
  const std::vector<std::pair<std::string, Pairs>> cases = {
      {"", {}},
      {"Note=key=value", {{"Note", "key=value"}}},
      {"=x", {{"", "x"}}},
      {"flag", {{"flag", ""}}},
      {"a=1&&b=2&", {{"a", "1"}, {"b", "2"}}},
      {"Name=John+Doe&City=K%C3%B6ln", {{"Name", "John Doe"}, {"City", "K\xC3\xB6ln"}}},
      {"a%3Db=c%26d", {{"a=b", "c&d"}}},  // escaped separators are data
      {"plus=%2B", {{"plus", "+"}}},
      // A bad escape stays as it is.
      {"p=100%&q=%zz&r=%4", {{"p", "100%"}, {"q", "%zz"}, {"r", "%4"}}},
      {"n=%00", {{"n", std::string(1, '\0')}}},
  };
  for (const auto& [query, want] : cases) EXPECT_EQ(ParseQuery(query), want) << query;
}

struct HeadCase {
  std::string head;
  HeadChecker::State state;
  int status;  // when refused
};

HeadChecker::State FeedWhole(HeadChecker& c, const std::string& data) { return c.Feed(data); }

HeadChecker::State FeedByteByByte(HeadChecker& c, const std::string& data) {
  HeadChecker::State s = HeadChecker::State::kMore;
  for (std::size_t n = 1; n <= data.size() && s == HeadChecker::State::kMore; ++n) {
    s = c.Feed(std::string_view(data).substr(0, n));
  }
  return s;
}

// The same verdict however the bytes arrive: whole, or one at a time.
TEST(HeadChecker, SameVerdictWholeOrByteByByte) {
  using S = HeadChecker::State;
  const std::vector<HeadCase> cases = {
      {"GET / HTTP/1.1\r\nHost: a\r\n\r\n", S::kDone, 0},
      {"\r\n\r\nGET / HTTP/1.1\r\nHost: a\r\n\r\n", S::kDone, 0},
      {"GET / HTTP/1.0\r\n\r\n", S::kDone, 0},
      {"GET / HTTP/1.1\r\nHost: a\r\n", S::kMore, 0},
      {"GET / HTTP/1.1\r\nHost: a\r", S::kMore, 0},
      {"GET / HTTP/1.1\r\nHost: a\rX: 1\r\n\r\n", S::kRefused, 400},
      {"GET / HTTP/1.1\nHost: a\n\n", S::kRefused, 400},
      {std::string("GET / HTTP/1.1\r\nHost: a\r\nX: a\0b\r\n\r\n", 35), S::kRefused, 400},
      {"GET / HTTP/1.1\r\nHost: a\r\nX: a\x7f\r\n\r\n", S::kRefused, 400},
      {"GET / HTTP/1.1\r\nHost: a\r\nX: a\tb\xC3\xA9\r\n\r\n", S::kDone, 0},
      {"GET / HTTP/1.1\r\nHost: a\r\n folded\r\n\r\n", S::kRefused, 400},
      {"GET / HTTP/1.1\r\nHost : a\r\n\r\n", S::kRefused, 400},
      {"GET / HTTP/1.1\r\nHo(st: a\r\n\r\n", S::kRefused, 400},
      {"GET / HTTP/1.1\r\nNoColon\r\n\r\n", S::kRefused, 400},
      {"GET / HTTP/1.1\r\n: a\r\n\r\n", S::kRefused, 400},
      {"GET / HTTP/1.1\r\n\r\n", S::kRefused, 400},
      {"GET / HTTP/1.1\r\nHost: a\r\nhost: b\r\n\r\n", S::kRefused, 400},
      {"GET  / HTTP/1.1\r\nHost: a\r\n\r\n", S::kRefused, 400},
      {"GET / HTTP/1.1 \r\nHost: a\r\n\r\n", S::kRefused, 400},
      {"GET /\tx HTTP/1.1\r\nHost: a\r\n\r\n", S::kRefused, 400},
      {"G@T / HTTP/1.1\r\nHost: a\r\n\r\n", S::kRefused, 400},
      {"GET / http/1.1\r\nHost: a\r\n\r\n", S::kRefused, 400},
      {"GET / HTTP/11\r\nHost: a\r\n\r\n", S::kRefused, 400},
      {"GET / HTTP/2.0\r\nHost: a\r\n\r\n", S::kRefused, 505},
      {"GET / HTTP/0.9\r\nHost: a\r\n\r\n", S::kRefused, 505},
      {"POST / HTTP/1.1\r\nHost: a\r\nContent-Length: 2abc\r\n\r\n", S::kRefused, 400},
      {"POST / HTTP/1.1\r\nHost: a\r\nContent-Length: -1\r\n\r\n", S::kRefused, 400},
      {"POST / HTTP/1.1\r\nHost: a\r\nContent-Length: \r\n\r\n", S::kRefused, 400},
      {"POST / HTTP/1.1\r\nHost: a\r\nContent-Length: 99999999999999999999\r\n\r\n", S::kRefused,
       400},
      {"POST / HTTP/1.1\r\nHost: a\r\nContent-Length: 1\r\nContent-Length: 1\r\n\r\n", S::kRefused,
       400},
      {"POST / HTTP/1.1\r\nHost: a\r\nContent-Length: 1,1\r\n\r\n", S::kRefused, 400},
      {"POST / HTTP/1.1\r\nHost: a\r\nContent-Length: 1\r\nTransfer-Encoding: chunked\r\n\r\n",
       S::kRefused, 400},
      {"POST / HTTP/1.1\r\nHost: a\r\nTransfer-Encoding: gzip\r\n\r\n", S::kRefused, 400},
      {"POST / HTTP/1.1\r\nHost: a\r\nTransfer-Encoding: chunked, gzip\r\n\r\n", S::kRefused, 400},
      {"POST / HTTP/1.1\r\nHost: a\r\nTransfer-Encoding: chunked, chunked\r\n\r\n", S::kRefused,
       400},
      {"POST / HTTP/1.1\r\nHost: a\r\nTransfer-Encoding: gzip, chunked\r\n\r\n", S::kRefused, 501},
      {"POST / HTTP/1.1\r\nHost: a\r\nTransfer-Encoding: chunked\r\nTransfer-Encoding: "
       "chunked\r\n\r\n",
       S::kRefused, 400},
      {"POST / HTTP/1.0\r\nTransfer-Encoding: chunked\r\n\r\n", S::kRefused, 400},
      {"POST / HTTP/1.1\r\nHost: a\r\nTransfer-Encoding: ,Chunked ,\r\n\r\n", S::kDone, 0},
  };
  for (const auto& c : cases) {
    for (auto feed : {FeedWhole, FeedByteByByte}) {
      HeadChecker checker(4096, 10);
      const HeadChecker::State state = feed(checker, c.head);
      EXPECT_EQ(state, c.state) << c.head;
      if (state == HeadChecker::State::kRefused) {
        EXPECT_EQ(checker.status(), c.status) << c.head;
        EXPECT_FALSE(checker.why().empty());
      }
    }
  }
}

TEST(HeadChecker, EndsAtTheEmptyLineAndReadsTheFraming) {
  const std::string head = "\r\nPOST /echo?a=1 HTTP/1.2\r\nHost: a\r\nContent-Length: 007\r\n\r\n";
  const std::string data = head + "1234567GET / HTTP/1.1\r\n";
  HeadChecker checker(4096, 10);
  ASSERT_EQ(checker.Feed(data), HeadChecker::State::kDone);
  EXPECT_EQ(checker.skipped(), 2u);
  EXPECT_EQ(checker.end(), head.size());
  EXPECT_EQ(checker.method(), "POST");
  EXPECT_EQ(checker.target(), "/echo?a=1");
  EXPECT_EQ(checker.version(), 11);  // a later minor version is read as 1.1
  EXPECT_EQ(checker.content_length(), 7u);
  EXPECT_FALSE(checker.chunked());
  EXPECT_TRUE(checker.has_body());

  HeadChecker chunked(4096, 10);
  ASSERT_EQ(chunked.Feed("POST / HTTP/1.1\r\nHost: a\r\ntransfer-encoding: chunked\r\n\r\n"),
            HeadChecker::State::kDone);
  EXPECT_TRUE(chunked.chunked());
  EXPECT_FALSE(chunked.content_length());
  EXPECT_TRUE(chunked.has_body());

  HeadChecker empty(4096, 10);
  ASSERT_EQ(empty.Feed("POST / HTTP/1.1\r\nHost: a\r\nContent-Length: 0\r\n\r\n"),
            HeadChecker::State::kDone);
  EXPECT_FALSE(empty.has_body());
}

TEST(HeadChecker, LimitsOfSizeAndLines) {
  const std::string start = "GET / HTTP/1.1\r\nHost: a\r\n";
  // Size: a head of exactly the limit passes; one byte more is a 431, also
  // while its end has not arrived.
  const std::string filler = "X: " + std::string(100, 'x') + "\r\n";
  std::string head = start;
  while (head.size() + filler.size() + 2 <= 1000) head += filler;
  head += "Y: " + std::string(1000 - head.size() - 7, 'y') + "\r\n\r\n";
  ASSERT_EQ(head.size(), 1000u);
  HeadChecker exact(1000, 100);
  EXPECT_EQ(exact.Feed(head), HeadChecker::State::kDone);
  HeadChecker over(999, 100);
  EXPECT_EQ(over.Feed(head), HeadChecker::State::kRefused);
  EXPECT_EQ(over.status(), 431);
  HeadChecker endless(1000, 100);
  EXPECT_EQ(endless.Feed(start + std::string(2000, 'x')), HeadChecker::State::kRefused);
  EXPECT_EQ(endless.status(), 431);

  // Lines: Host and 9 more make 10.
  std::string lines = start;
  for (int i = 0; i < 9; ++i) lines += "X: 1\r\n";
  HeadChecker ten(4096, 10);
  EXPECT_EQ(ten.Feed(lines + "\r\n"), HeadChecker::State::kDone);
  HeadChecker eleven(4096, 10);
  EXPECT_EQ(eleven.Feed(lines + "X: 1\r\n\r\n"), HeadChecker::State::kRefused);
  EXPECT_EQ(eleven.status(), 431);
}

TEST(Request, FindsHeadersInAnyCase) {
  Request r;
  r.headers = {{"X-One", "1"}, {"x-one", "2"}, {"Other", "3"}};
  ASSERT_NE(r.Find("X-ONE"), nullptr);
  EXPECT_EQ(*r.Find("X-ONE"), "1");
  EXPECT_EQ(r.Find("X-On"), nullptr);
  EXPECT_EQ(r.Count("x-one"), 2u);
  EXPECT_EQ(r.Count("missing"), 0u);
}

}  // namespace
}  // namespace qvvcard::http
