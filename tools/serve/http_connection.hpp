// One connection of the server, on a strand of its own. It goes through its
// phases in turn: idle (waiting for the first byte of a request), head
// (HeadChecker reads it), busy (body, the handler, the answer), and closing
// (after an answer that closes: the sending side is shut and what the
// client still sends is read and thrown away for a moment, so that the
// answer is not lost to a reset).
#ifndef QVVCARD_SERVE_HTTP_CONNECTION_HPP
#define QVVCARD_SERVE_HTTP_CONNECTION_HPP

#include <array>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/http/parser.hpp>
#include <boost/beast/http/string_body.hpp>
#include <functional>
#include <optional>

#include "serve/http_head.hpp"
#include "serve/http_server_impl.hpp"

namespace qvvcard::http {

namespace beast = boost::beast;

class Connection : public std::enable_shared_from_this<Connection> {
 public:
  Connection(Server::Impl& server, tcp::socket socket)
      : server_(server),
        limits_(server.limits_),
        socket_(std::move(socket)),
        timer_(socket_.get_executor()),
        buffer_(limits_.max_head + 65536) {}

  ~Connection() {
    std::lock_guard<std::mutex> lock(server_.mutex_);
    server_.connections_.erase(self_);
  }

  void Register(std::list<std::weak_ptr<Connection>>::iterator self) { self_ = self; }

  void Start();

  // From another thread: for choosing whom to close at the cap.
  Phase phase() const { return phase_.load(std::memory_order_relaxed); }
  Clock::rep since() const { return since_.load(std::memory_order_relaxed); }

  // On the connection's strand, by way of Post.
  void Shutdown();
  void Evict() { Shutdown(); }
  void Kill() { Close(); }

  template <class F>
  void Post(F f) {
    asio::post(socket_.get_executor(), [self = shared_from_this(), f] { f(*self); });
  }

 private:
  void SetPhase(Phase p);

  // One deadline at a time; a new one replaces the old. When it passes, the
  // operation in hand is cancelled and sees timed_out_.
  void Arm(std::chrono::milliseconds d);
  void Disarm();
  void Idle();
  void StartHead();
  void ReadHead();
  void OnHeadRead(const error_code& ec, std::size_t n);
  static std::string Seconds(std::chrono::milliseconds d);
  void OnHeadBytes();

  // The path and the query. A target in absolute form, as sent to proxies
  // ("http://host/path?query"), has its path after the host.
  void SplitTarget();
  void CheckHead();
  void ReadBody();
  void OnBody(const error_code& ec);
  void Process();
  void Refuse(int status, std::string why);
  void Send(Response r, bool refusal = false);

  // A streamed answer: one chunk a write. Stopping does not cut it short;
  // only the end of the grace (Kill) or a failing piece does, and then the
  // final chunk is never sent.
  void NextPiece();
  void Log();
  void Answered();

  // A broken answer: logged as it is, and closed without the final chunk,
  // so that no client can take it for a whole one.
  void Abort();

  // After an answer that closes: the answer is out; what the client still
  // sends (a body not read, the next requests) is thrown away unread for a
  // moment, then the connection closes.
  void Linger();
  void Drain(std::size_t drained);
  void Close();

  Server::Impl& server_;
  const Limits& limits_;
  tcp::socket socket_;
  asio::steady_timer timer_;
  beast::flat_buffer buffer_;
  std::list<std::weak_ptr<Connection>>::iterator self_;

  std::atomic<Phase> phase_{Phase::kIdle};
  std::atomic<Clock::rep> since_{0};
  unsigned gen_ = 0;
  bool timed_out_ = false;
  bool closed_ = false;

  std::optional<HeadChecker> checker_;
  std::optional<beast::http::request_parser<beast::http::string_body>> parser_;
  std::vector<bool> codings_;  // gzip (true) or deflate, in the order applied
  Request request_;
  Clock::time_point started_ = Clock::now();
  bool keep_alive_ = true;
  bool close_after_ = false;
  bool closing_ = false;
  std::size_t served_ = 0;
  int status_ = 0;
  std::uint64_t body_bytes_ = 0;
  std::string head_out_, body_, chunk_, piece_;
  std::function<bool(std::string&)> stream_;
  std::array<char, 8192> scratch_;
};

}  // namespace qvvcard::http

#endif
