// What the server answers: the one table of its paths, the methods and
// bodies each takes, the headers every answer carries, and the log. It
// answers through the HTTP layer's Handler; nothing is kept between
// requests, and no request reaches a file.
#ifndef QVVCARD_SERVE_ROUTER_HPP
#define QVVCARD_SERVE_ROUTER_HPP

#include <cstddef>
#include <optional>
#include <string>

#include "serve/endpoints.hpp"
#include "serve/http_server.hpp"

namespace qvvcard {

struct RouterConfig {
  std::size_t max_body = std::size_t{1} << 20;  // for the words of a 413
  std::string cors;                             // "", "*" or one origin
  bool quiet = false;                           // no log line per request
  CardsLimits cards;
};

class Router final : public http::Handler {
 public:
  explicit Router(RouterConfig config) : config_(std::move(config)) {}

  std::optional<http::Response> Check(const http::Request& head) override;
  http::Response Handle(const http::Request& request) override;
  http::Response Refusal(int status, std::string_view what) override;
  void Log(const http::Request& head, int status, std::uint64_t body_bytes,
           double ms) noexcept override;

 private:
  bool CorsAllowed(const http::Request& req) const;
  // The headers every answer carries.
  http::Response Finished(const http::Request* req, http::Response res) const;

  RouterConfig config_;
};

}  // namespace qvvcard

#endif
