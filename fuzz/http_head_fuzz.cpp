// Fuzz target: the HTTP layer's head reader, and the body parser behind it.
//
// The first two bytes pick the size limit and the line limit, the next one
// how the bytes arrive (whole, or in pieces of 1 to 16 bytes); the rest is
// what a client sends. Checks:
//   - the verdict, the end of the head and the refusal's status are the
//     same however the bytes arrive;
//   - a refusal says why, with a status the layer gives (400, 431, 501,
//     505); a head is never longer than its limit;
//   - a head it accepts and the body parser accepts too (else the layer
//     answers 400) is read whole by both, with the same framing: the same
//     Content-Length, chunked or not. Two readers disagreeing on where a
//     body ends is how requests get smuggled.
#include <boost/beast/http/parser.hpp>
#include <boost/beast/http/string_body.hpp>
#include <cstdint>
#include <limits>
#include <string>

#include "fuzz_input.hpp"
#include "serve/http_head.hpp"

namespace {

using qvvcard::http::HeadChecker;

std::string Printable(std::string_view s) {
  std::string out;
  for (const char c : s.substr(0, 600)) {
    const auto u = static_cast<unsigned char>(c);
    if (u >= 0x20 && u < 0x7F) {
      out += c;
    } else {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\x%02X", u);
      out += buf;
    }
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  qv_fuzz::Input in(data, size);
  const std::size_t max_bytes = 16 + in.Byte() * 4;  // 16 to 1036
  const std::size_t max_lines = 1 + in.Byte() % 16;
  const unsigned step = in.Byte() % 17;  // 0: whole
  const std::string_view sent = in.Bytes(in.left());

  HeadChecker whole(max_bytes, max_lines);
  const HeadChecker::State verdict = whole.Feed(sent);
  if (step > 0) {
    HeadChecker pieces(max_bytes, max_lines);
    HeadChecker::State s = HeadChecker::State::kMore;
    for (std::size_t n = 0; n < sent.size() && s == HeadChecker::State::kMore;) {
      n = std::min(sent.size(), n + step);
      s = pieces.Feed(sent.substr(0, n));
    }
    FUZZ_CHECK(s == verdict, Printable(sent));
    FUZZ_CHECK(pieces.end() == whole.end() && pieces.status() == whole.status(), Printable(sent));
  }
  if (verdict == HeadChecker::State::kRefused) {
    const int st = whole.status();
    FUZZ_CHECK(st == 400 || st == 431 || st == 501 || st == 505, Printable(sent));
    FUZZ_CHECK(!whole.why().empty(), Printable(sent));
    return 0;
  }
  if (verdict == HeadChecker::State::kMore) {
    FUZZ_CHECK(sent.size() <= max_bytes + 1, Printable(sent));
    return 0;
  }

  FUZZ_CHECK(whole.end() <= max_bytes && whole.end() <= sent.size(), Printable(sent));
  const std::string_view head = sent.substr(whole.skipped(), whole.end() - whole.skipped());
  namespace http = boost::beast::http;
  http::request_parser<http::string_body> parser;
  parser.header_limit(static_cast<std::uint32_t>(head.size() + 1));
  parser.body_limit(std::numeric_limits<std::uint64_t>::max());
  parser.eager(false);
  boost::system::error_code ec;
  const std::size_t used = parser.put(boost::asio::buffer(head.data(), head.size()), ec);
  // The body parser may refuse what the head reader let through (a
  // Connection header that is not a list of tokens): the layer answers
  // that with a 400 too.
  if (ec && ec != http::error::need_more) return 0;
  FUZZ_CHECK(used == head.size() && parser.is_header_done(), Printable(head));
  FUZZ_CHECK(parser.chunked() == whole.chunked(), Printable(head));
  const auto length = parser.content_length();
  FUZZ_CHECK(length.has_value() == whole.content_length().has_value(), Printable(head));
  if (length) FUZZ_CHECK(*length == *whole.content_length(), Printable(head));
  FUZZ_CHECK(parser.get().method_string() == whole.method(), Printable(head));
  FUZZ_CHECK(parser.get().target() == whole.target(), Printable(head));
  return 0;
}
