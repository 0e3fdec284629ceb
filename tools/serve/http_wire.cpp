#include "serve/http_wire.hpp"

#include <zlib.h>

#include <cstdio>
#include <ctime>

#include "common/chars.hpp"
#include "serve/http_head.hpp"

namespace qvvcard::http {

namespace {}  // namespace

// Undoes one gzip or deflate coding of body, the result bounded by max.
// Returns 0, or the status to refuse with (400 broken data, 413 too large).
int Inflate(std::string& body, bool gzip, std::uint64_t max, std::string& why) {
  for (const int bits : {gzip ? 15 + 16 : 15, -15}) {
    z_stream z{};
    if (inflateInit2(&z, bits) != Z_OK) {
      why = "the body could not be decoded";
      return 500;
    }
    std::string out;
    std::array<char, 16384> chunk;
    std::size_t fed = 0;
    int status = 0;
    bool retry = false;
    for (;;) {
      if (z.avail_in == 0 && fed < body.size()) {
        const std::size_t n = std::min<std::size_t>(body.size() - fed, UINT_MAX / 2);
        z.next_in = reinterpret_cast<Bytef*>(body.data() + fed);
        z.avail_in = static_cast<uInt>(n);
        fed += n;
      }
      z.next_out = reinterpret_cast<Bytef*>(chunk.data());
      z.avail_out = static_cast<uInt>(chunk.size());
      const int r = inflate(&z, Z_NO_FLUSH);
      const std::size_t made = chunk.size() - z.avail_out;
      if (out.size() + made > max) {
        why = "the body is larger than " + std::to_string(max) + " bytes once decoded";
        status = 413;
        break;
      }
      out.append(chunk.data(), made);
      if (r == Z_STREAM_END) {
        if (z.avail_in == 0 && fed == body.size()) break;
        if (gzip && inflateReset(&z) == Z_OK) continue;  // the next gzip member
        why = "data after the end of the compressed body";
        status = 400;
        break;
      }
      if (r == Z_DATA_ERROR && !gzip && bits > 0 && z.total_out == 0) {
        retry = true;  // raw deflate, without the zlib wrapper some clients leave out
        break;
      }
      if (r == Z_OK) continue;
      if (r == Z_BUF_ERROR && z.avail_in == 0 && fed == body.size()) {
        why = "the compressed body ends too early";
      } else {
        why = "the compressed body is broken";
      }
      status = 400;
      break;
    }
    inflateEnd(&z);
    if (retry) continue;
    if (status == 0) body = std::move(out);
    return status;
  }
  why = "the compressed body is broken";
  return 400;
}

// The codings named by Content-Encoding headers, in the order applied.
// Returns 0, or 415 with why.
int ReadCodings(const Request& r, std::vector<bool>& gzip, std::string& why) {
  for (const Header& h : r.headers) {
    if (!SameName(h.name, "Content-Encoding")) continue;
    std::string_view rest = h.value;
    for (;;) {
      const std::size_t comma = rest.find(',');
      const std::string_view item = TrimBlanks(rest.substr(0, comma));
      if (SameName(item, "gzip") || SameName(item, "x-gzip")) {
        gzip.push_back(true);
      } else if (SameName(item, "deflate")) {
        gzip.push_back(false);
      } else if (!item.empty() && !SameName(item, "identity")) {
        why = "Content-Encoding " + std::string(item) + " is not supported (gzip, deflate are)";
        return 415;
      }
      if (comma == std::string_view::npos) break;
      rest = rest.substr(comma + 1);
    }
  }
  if (gzip.size() > 4) {
    why = "more than 4 content codings";
    return 415;
  }
  return 0;
}

std::string HttpDate() {
  static constexpr const char* kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                            "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  const std::time_t now = std::time(nullptr);
  std::tm tm{};
  gmtime_r(&now, &tm);
  char text[40];
  std::snprintf(text, sizeof text, "%s, %02d %s %04d %02d:%02d:%02d GMT", kDays[tm.tm_wday % 7],
                tm.tm_mday, kMonths[tm.tm_mon % 12], tm.tm_year + 1900, tm.tm_hour, tm.tm_min,
                tm.tm_sec);
  return text;
}

bool SafeValue(std::string_view v) {
  for (const char c : v) {
    const auto u = static_cast<unsigned char>(c);
    if ((u < 0x20 && u != '\t') || u == 0x7F) return false;
  }
  return true;
}

bool LayerHeader(std::string_view name) {
  return SameName(name, "Connection") || SameName(name, "Content-Length") ||
         SameName(name, "Transfer-Encoding") || SameName(name, "Date") ||
         SameName(name, "Keep-Alive");
}

// Whether a comma-separated list of tokens holds one (any case).
bool ListHas(std::string_view list, std::string_view token) {
  for (;;) {
    const std::size_t comma = list.find(',');
    const std::string_view item = TrimBlanks(list.substr(0, comma));
    if (SameName(item, token)) return true;
    if (comma == std::string_view::npos) return false;
    list = list.substr(comma + 1);
  }
}

std::string Hex(std::size_t n) {
  char text[24];
  std::snprintf(text, sizeof text, "%zx", n);
  return text;
}

// A refusal when the application's own could not be had.
Response PlainRefusal(int status, std::string_view what) {
  Response r;
  r.status = status;
  r.headers.push_back({"Content-Type", "text/plain; charset=utf-8"});
  r.body = std::string(what) + "\n";
  return r;
}

}  // namespace qvvcard::http
