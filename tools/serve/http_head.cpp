#include "serve/http_head.hpp"

#include <utility>

#include "common/chars.hpp"

namespace qvvcard::http {

namespace {

// tchar of RFC 9110: the characters of methods, header names and codings.
bool IsTokenChar(unsigned char c) {
  if (c >= '0' && c <= '9') return true;
  if ((c | 0x20) >= 'a' && (c | 0x20) <= 'z') return true;
  switch (c) {
    case '!':
    case '#':
    case '$':
    case '%':
    case '&':
    case '\'':
    case '*':
    case '+':
    case '-':
    case '.':
    case '^':
    case '_':
    case '`':
    case '|':
    case '~':
      return true;
    default:
      return false;
  }
}

}  // namespace

bool IsToken(std::string_view s) {
  if (s.empty()) return false;
  for (const char c : s) {
    if (!IsTokenChar(static_cast<unsigned char>(c))) return false;
  }
  return true;
}

bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    auto x = static_cast<unsigned char>(a[i]);
    auto y = static_cast<unsigned char>(b[i]);
    if (x >= 'A' && x <= 'Z') x = static_cast<unsigned char>(x | 0x20);
    if (y >= 'A' && y <= 'Z') y = static_cast<unsigned char>(y | 0x20);
    if (x != y) return false;
  }
  return true;
}

HeadChecker::State HeadChecker::Refuse(int status, std::string why) {
  status_ = status;
  why_ = std::move(why);
  state_ = State::kRefused;
  return state_;
}

HeadChecker::State HeadChecker::Feed(std::string_view data) {
  while (state_ == State::kMore && pos_ < data.size()) {
    if (pos_ >= max_bytes_) {
      return Refuse(431,
                    "the request head is larger than " + std::to_string(max_bytes_) + " bytes");
    }
    const auto c = static_cast<unsigned char>(data[pos_]);
    if (c == '\r') {
      if (pos_ + 1 == data.size()) break;  // its LF may be on its way
      if (data[pos_ + 1] != '\n') return Refuse(400, "a CR without LF in the request head");
    } else if (c == '\n') {
      if (pos_ == line_start_ || data[pos_ - 1] != '\r') {
        return Refuse(400, "a line of the request head ends in LF without CR");
      }
      const std::string_view line = data.substr(line_start_, pos_ - 1 - line_start_);
      ++pos_;
      line_start_ = pos_;
      if (!have_request_line_) {
        if (line.empty()) {
          skipped_ = pos_;
        } else if (!RequestLine(line)) {
          return state_;
        }
      } else if (line.empty()) {
        end_ = pos_;
        if (Finish()) state_ = State::kDone;
        return state_;
      } else if (!HeaderLine(line)) {
        return state_;
      }
      continue;
    } else if ((c < 0x20 && c != '\t') || c == 0x7F) {
      return Refuse(400, "a control character in the request head");
    }
    ++pos_;
  }
  return state_;
}

bool HeadChecker::RequestLine(std::string_view line) {
  have_request_line_ = true;
  const std::size_t sp1 = line.find(' ');
  const std::size_t sp2 = sp1 == std::string_view::npos ? sp1 : line.find(' ', sp1 + 1);
  if (sp2 == std::string_view::npos) {
    Refuse(400, "a malformed request line");
    return false;
  }
  const std::string_view method = line.substr(0, sp1);
  const std::string_view target = line.substr(sp1 + 1, sp2 - sp1 - 1);
  const std::string_view version = line.substr(sp2 + 1);
  bool target_ok = !target.empty();
  for (const char c : target) {
    const auto u = static_cast<unsigned char>(c);
    if (u <= 0x20 || u == 0x7F) target_ok = false;
  }
  const bool version_ok = version.size() == 8 && version.substr(0, 5) == "HTTP/" &&
                          version[5] >= '0' && version[5] <= '9' && version[6] == '.' &&
                          version[7] >= '0' && version[7] <= '9';
  if (!IsToken(method) || !target_ok || !version_ok) {
    Refuse(400, "a malformed request line");
    return false;
  }
  method_ = method;
  target_ = target;
  if (version[5] != '1') {
    Refuse(505, "HTTP version " + std::string(version.substr(5)) + " is not supported");
    return false;
  }
  version_ = version[7] == '0' ? 10 : 11;
  return true;
}

bool HeadChecker::HeaderLine(std::string_view line) {
  if (++lines_ > max_lines_) {
    Refuse(431, "more than " + std::to_string(max_lines_) + " header lines");
    return false;
  }
  if (line.front() == ' ' || line.front() == '\t') {
    Refuse(400, "a folded header line (starting with a blank)");
    return false;
  }
  const std::size_t colon = line.find(':');
  if (colon == std::string_view::npos) {
    Refuse(400, "a header line without a colon");
    return false;
  }
  const std::string_view name = line.substr(0, colon);
  const char last = name.empty() ? 'x' : name.back();
  if (last == ' ' || last == '\t') {
    Refuse(400, "a blank before a header's colon");
    return false;
  }
  if (!IsToken(name)) {
    Refuse(400, "a header name that is not a token");
    return false;
  }
  const std::string_view value = TrimBlanks(line.substr(colon + 1));
  if (SameName(name, "Host")) {
    ++hosts_;
  } else if (SameName(name, "Content-Length")) {
    ++lengths_;
    length_value_ = value;
  } else if (SameName(name, "Transfer-Encoding")) {
    ++codings_;
    coding_value_ = value;
  }
  return true;
}

bool HeadChecker::Finish() {
  if (version_ == 11 && hosts_ == 0) {
    Refuse(400, "an HTTP/1.1 request without Host");
    return false;
  }
  if (hosts_ > 1) {
    Refuse(400, "two Host headers");
    return false;
  }
  if (lengths_ > 1) {
    Refuse(400, "two Content-Length headers");
    return false;
  }
  if (codings_ > 0) {
    if (lengths_ > 0) {
      Refuse(400, "Content-Length together with Transfer-Encoding");
      return false;
    }
    if (version_ == 10) {
      Refuse(400, "Transfer-Encoding in an HTTP/1.0 request");
      return false;
    }
    if (codings_ > 1) {
      Refuse(400, "two Transfer-Encoding headers");
      return false;
    }
    // A list of codings; chunked must be there once, and last.
    std::string_view rest = coding_value_;
    std::string_view other;
    bool chunked_last = false;
    for (;;) {
      const std::size_t comma = rest.find(',');
      const std::string_view item = TrimBlanks(rest.substr(0, comma));
      if (!item.empty()) {
        if (!IsToken(item)) {
          Refuse(400, "a malformed Transfer-Encoding");
          return false;
        }
        if (chunked_last) {
          Refuse(400, "chunked is not the last transfer coding");
          return false;
        }
        if (SameName(item, "chunked")) {
          chunked_last = true;
        } else if (other.empty()) {
          other = item;
        }
      }
      if (comma == std::string_view::npos) break;
      rest = rest.substr(comma + 1);
    }
    if (!chunked_last) {
      Refuse(400, "chunked is not the last transfer coding: the body's length is unknown");
      return false;
    }
    if (!other.empty()) {
      Refuse(501, "the transfer coding " + std::string(other) + " is not supported");
      return false;
    }
    chunked_ = true;
  }
  if (lengths_ == 1) {
    const std::string_view v = length_value_;
    bool digits = !v.empty() && v.size() <= 18;
    std::uint64_t n = 0;
    for (const char c : v) {
      if (c < '0' || c > '9') {
        digits = false;
        break;
      }
      n = n * 10 + static_cast<std::uint64_t>(c - '0');
    }
    if (!digits) {
      Refuse(400, "Content-Length is not a plain number");
      return false;
    }
    content_length_ = n;
  }
  return true;
}

}  // namespace qvvcard::http
