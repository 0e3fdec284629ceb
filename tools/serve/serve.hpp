// qvvcard serve: cards and QR codes of cards over HTTP, and a page to make
// them. The server keeps nothing between requests.
#ifndef QVVCARD_SERVE_SERVE_HPP
#define QVVCARD_SERVE_SERVE_HPP

#include <cstddef>
#include <string>

namespace qvvcard {

struct ServeOptions {
  std::string bind = "127.0.0.1";
  int port = 8080;  // 0: any free port (the one taken is printed)
  unsigned threads = 16;
  std::size_t max_body = std::size_t{1} << 20;
  std::string cors;  // "" for no CORS headers, "*" or one origin
  bool quiet = false;
};

// Serves until SIGINT or SIGTERM; requests in flight are completed. Returns
// the exit status: 0 after a stop, 2 when the address cannot be bound.
int RunServe(const ServeOptions& options);

}  // namespace qvvcard

#endif
