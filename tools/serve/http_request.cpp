// Requests and their queries.
#include "serve/http_server.hpp"

#include "common/chars.hpp"
#include "serve/http_head.hpp"

namespace qvvcard::http {

const std::string* Request::Find(std::string_view name) const {
  for (const Header& h : headers) {
    if (SameName(h.name, name)) return &h.value;
  }
  return nullptr;
}

std::size_t Request::Count(std::string_view name) const {
  std::size_t n = 0;
  for (const Header& h : headers) n += SameName(h.name, name) ? 1 : 0;
  return n;
}

namespace {

std::string DecodeComponent(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  for (std::size_t i = 0; i < s.size(); ++i) {
    const char c = s[i];
    if (c == '+') {
      out += ' ';
    } else if (c == '%' && i + 2 < s.size() && HexDigitValue(s[i + 1]) >= 0 &&
               HexDigitValue(s[i + 2]) >= 0) {
      out += static_cast<char>(HexDigitValue(s[i + 1]) * 16 + HexDigitValue(s[i + 2]));
      i += 2;
    } else {
      out += c;
    }
  }
  return out;
}

}  // namespace

std::vector<std::pair<std::string, std::string>> ParseQuery(std::string_view query) {
  std::vector<std::pair<std::string, std::string>> pairs;
  while (!query.empty()) {
    const std::size_t amp = query.find('&');
    const std::string_view pair = query.substr(0, amp);
    query = amp == std::string_view::npos ? std::string_view() : query.substr(amp + 1);
    if (pair.empty()) continue;
    const std::size_t eq = pair.find('=');
    if (eq == std::string_view::npos) {
      pairs.emplace_back(DecodeComponent(pair), std::string());
    } else {
      pairs.emplace_back(DecodeComponent(pair.substr(0, eq)), DecodeComponent(pair.substr(eq + 1)));
    }
  }
  return pairs;
}

}  // namespace qvvcard::http
