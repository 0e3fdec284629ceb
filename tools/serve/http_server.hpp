// The HTTP/1.1 server under qvvcard serve: strict about framing, bounded in
// memory and time for every client, event-driven (Boost.Asio, with
// Boost.Beast's parser for bodies). It knows nothing of cards: an
// application answers requests through a Handler.
//
// What a client gets, in short:
// - The request head (request line and header lines) is at most 64 KiB and
//   100 header lines: beyond that a 431 and the connection closes.
// - Framing is read the strict way: two Content-Length headers, one that is
//   not a plain number, Content-Length with Transfer-Encoding, a transfer
//   coding other than chunked last, a blank before a header's colon, a
//   folded header line, a bare CR or LF, a control character in a header, a
//   missing or repeated Host (HTTP/1.1), a malformed request line: each is a
//   400 and the connection closes. A version other than HTTP/1.x is a 505.
// - A body (Content-Length or chunked, gzip or deflate undone) is at most
//   max_body bytes after decoding, or a 413; another Content-Encoding is a
//   415. A body is read only when the application wants it (Check); one it
//   refused is never read as requests: the connection closes.
// - Timeouts: the whole head within head_timeout of its first byte (408),
//   the whole body within body_timeout (408), the first byte of a request
//   within idle_timeout (the connection closes quietly), each write within
//   send_timeout.
// - At most max_connections at once; at the cap a new connection makes room
//   by closing the one idle longest, else the one whose head is oldest, else
//   it is closed at once.
#ifndef QVVCARD_SERVE_HTTP_SERVER_HPP
#define QVVCARD_SERVE_HTTP_SERVER_HPP

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace qvvcard::http {

struct Header {
  std::string name, value;
};

struct Request {
  std::string method, target;  // as sent
  // The target split at the first '?', without percent-decoding; the path of
  // a target in absolute form ("http://host/p?q") is the part after the host.
  std::string path, query;
  int version = 11;             // 10 or 11 (HTTP/1.2 and later minors are read as 11)
  std::vector<Header> headers;  // in order, names as sent, values without surrounding blanks
  std::string body;  // the whole body: chunked decoded, gzip/deflate undone; at most max_body
  // The first header of that name (any case), or nullptr.
  const std::string* Find(std::string_view name) const;
  std::size_t Count(std::string_view name) const;
};

// A query split into pairs: at '&', each pair at its first '=' only
// ("Note=key=value" is Note -> "key=value", "=x" has the empty name, a pair
// without '=' has the empty value), '+' read as a blank, %XX decoded. A '%'
// not followed by two hex digits is kept as it is. Empty pairs ("a=1&&b=2")
// are skipped.
std::vector<std::pair<std::string, std::string>> ParseQuery(std::string_view query);

struct Response {
  int status = 200;
  // The layer adds Date, Content-Length or Transfer-Encoding, and Connection
  // (any of these set here are dropped; Connection: close here is taken as
  // close = true). A header whose name or value could
  // break the answer's framing (CR, LF, NUL; a name that is not a token)
  // turns the answer into a 500.
  std::vector<Header> headers;
  std::string body;
  // A body made in pieces after the head is sent (chunked): each call
  // appends the next piece to `piece` and returns true while more follow,
  // false after the last. An exception ends the connection without the final
  // chunk: the client sees a broken answer, never a complete one. To an
  // HTTP/1.0 client the pieces are gathered and sent with Content-Length.
  std::function<bool(std::string& piece)> stream;
  bool close = false;  // close the connection after this answer
};

// Called from the server's threads, for several connections at once: an
// implementation must be safe to call concurrently.
class Handler {
 public:
  virtual ~Handler() = default;
  // With the head only (body empty): an answer to give without reading the
  // body (a 404, 405, 415, ...), or nullopt to have the body read and Handle
  // called. Cheap; must not block. When it answers and a body was announced,
  // the connection closes after the answer.
  virtual std::optional<Response> Check(const Request& head) = 0;
  // Runs on one of the server's threads, which serves nothing else while it
  // runs (so `threads` is also the count of requests handled at once); an
  // exception becomes a 500.
  virtual Response Handle(const Request& request) = 0;
  // The layer's own refusals (400 malformed, 408 too slow, 413 body too
  // large, 415 content coding, 417 expectation, 431 head too large, 500,
  // 501, 505): the application gives them its shape; `what` says why in
  // plain words. They always close the connection.
  virtual Response Refusal(int status, std::string_view what) = 0;
  // After each answer: for the access log. For a refusal before the head
  // was read, head holds what could be read of it (method and path may be
  // empty).
  virtual void Log(const Request& head, int status, std::uint64_t body_bytes,
                   double ms) noexcept = 0;
};

struct Limits {
  std::size_t max_head = 64 * 1024;  // request line and header lines, bytes
  std::size_t max_header_lines = 100;
  std::uint64_t max_body = std::uint64_t{1} << 20;  // after decoding
  std::chrono::milliseconds head_timeout{10'000};   // the whole head, from its first byte
  std::chrono::milliseconds body_timeout{30'000};   // the whole body
  std::chrono::milliseconds idle_timeout{5'000};    // for the first byte of each request
  std::chrono::milliseconds send_timeout{30'000};   // each write of an answer
  std::chrono::milliseconds stop_grace{3'000};      // for the requests in hand at Stop()
  std::size_t max_connections = 512;
  std::size_t max_requests = 100;  // on one connection, then it closes
  unsigned threads = 2;            // threads serving connections (Run() is one of them)
  int backlog = 1024;              // pending connections the system keeps
};

class Server {
 public:
  Server(Handler& handler, Limits limits);
  ~Server();
  Server(const Server&) = delete;
  Server& operator=(const Server&) = delete;

  // Binds and listens on an address (IPv4 or IPv6, or a name such as
  // localhost; port 0: any free port). Returns the port, or 0 with why in
  // plain words in error. Once, before Run().
  int Listen(const std::string& address, int port, std::string& error);
  // Serves until Stop(); returns when every connection is closed.
  void Run();
  // Stops accepting, closes idle connections and those whose head is not
  // complete, lets the requests in hand finish within stop_grace (a
  // streamed answer too), then closes everything. Thread-safe, and may come
  // before or during Run(): call it from a thread that waits for the stop
  // signals (sigwait), not from a signal handler.
  void Stop();

  class Impl;

 private:
  std::shared_ptr<Impl> impl_;
};

}  // namespace qvvcard::http

#endif
