// What the server answers: the API, the page, and every error as JSON.
// Nothing is kept between requests; no request reaches a file.
#ifndef QVVCARD_SERVE_ROUTES_HPP
#define QVVCARD_SERVE_ROUTES_HPP

#include <httplib.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>

namespace qvvcard {

struct ServeConfig {
  std::size_t max_body = std::size_t{1} << 20;
  std::string cors;  // "", "*" or one origin
};

// What the log line of the request being handled on this thread needs and
// the response does not hold: when its handling began, and the bytes of a
// body written in pieces.
struct RequestTrace {
  std::chrono::steady_clock::time_point start{};
  bool started = false;
  std::uint64_t streamed = 0;
};
RequestTrace& CurrentTrace();

// Installs every route and the error responses on server.
void InstallRoutes(httplib::Server& server, const ServeConfig& config);

}  // namespace qvvcard

#endif
