// The strict reader of a request head, byte by byte as it arrives, before
// anything else parses it: it finds where the head ends, bounds its size
// and its count of lines, and refuses every framing a server must not
// guess at. Only a head it accepts reaches the body parser.
#ifndef QVVCARD_SERVE_HTTP_HEAD_HPP
#define QVVCARD_SERVE_HTTP_HEAD_HPP

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace qvvcard::http {

class HeadChecker {
 public:
  enum class State { kMore, kDone, kRefused };

  HeadChecker(std::size_t max_bytes, std::size_t max_lines)
      : max_bytes_(max_bytes), max_lines_(max_lines) {}

  // data: every byte received for this request so far, from its first one
  // (it only grows between calls). Looks at the bytes not seen yet.
  State Feed(std::string_view data);

  State state() const { return state_; }
  // Empty lines before the request line (skipped, as RFC 9112 allows).
  std::size_t skipped() const { return skipped_; }
  // The bytes of the head, skipped lines and the final empty line included.
  std::size_t end() const { return end_; }
  // When refused: the status (400, 431, 501, 505) and why in plain words.
  int status() const { return status_; }
  const std::string& why() const { return why_; }

  // Read from the request line once it is complete (version also in kRefused
  // states after it).
  const std::string& method() const { return method_; }
  const std::string& target() const { return target_; }
  int version() const { return version_; }  // 10 or 11
  // Read from an accepted head.
  std::optional<std::uint64_t> content_length() const { return content_length_; }
  bool chunked() const { return chunked_; }
  bool has_body() const { return chunked_ || content_length_.value_or(0) > 0; }

 private:
  State Refuse(int status, std::string why);
  bool RequestLine(std::string_view line);
  bool HeaderLine(std::string_view line);
  bool Finish();

  std::size_t max_bytes_, max_lines_;
  State state_ = State::kMore;
  std::size_t pos_ = 0;         // bytes looked at
  std::size_t line_start_ = 0;  // of the line being read
  std::size_t skipped_ = 0;
  std::size_t end_ = 0;
  std::size_t lines_ = 0;  // header lines
  int status_ = 0;
  std::string why_;

  bool have_request_line_ = false;
  std::string method_, target_;
  int version_ = 11;
  std::size_t hosts_ = 0, lengths_ = 0, codings_ = 0;
  std::string length_value_, coding_value_;
  std::optional<std::uint64_t> content_length_;
  bool chunked_ = false;
};

// Case-insensitive comparison of ASCII names.
bool SameName(std::string_view a, std::string_view b);
// A method, a header name or a coding: one or more token characters.
bool IsToken(std::string_view s);

}  // namespace qvvcard::http

#endif
