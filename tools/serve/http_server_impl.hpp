// Inside the HTTP layer: the server's own state (the acceptor, the live
// connections, stopping), which each connection reads and leaves.
#ifndef QVVCARD_SERVE_HTTP_SERVER_IMPL_HPP
#define QVVCARD_SERVE_HTTP_SERVER_IMPL_HPP

#include <atomic>
#include <boost/asio.hpp>
#include <chrono>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "serve/http_server.hpp"

namespace qvvcard::http {

namespace asio = boost::asio;
using tcp = asio::ip::tcp;
using Clock = std::chrono::steady_clock;
using boost::system::error_code;

// The phases a connection goes through (see http_connection.hpp).
enum class Phase : int { kIdle, kHead, kBusy, kClosing };

class Connection;

class Server::Impl {
 public:
  Impl(Handler& handler, Limits limits)
      : handler_(handler),
        limits_(limits),
        strand_(asio::make_strand(io_)),
        acceptor_(strand_),
        retry_(strand_),
        grace_(strand_) {
    limits_.threads = std::max(1u, limits_.threads);
    limits_.max_connections = std::max<std::size_t>(1, limits_.max_connections);
    limits_.max_requests = std::max<std::size_t>(1, limits_.max_requests);
  }

  int Listen(const std::string& address, int port, std::string& error);
  void Run();
  void Stop() {
    asio::post(strand_, [this] { DoStop(); });
  }

  Handler& handler_;
  Limits limits_;
  std::atomic<bool> stopping_{false};

  // The live connections, for the cap and for stopping.
  std::mutex mutex_;
  std::list<std::weak_ptr<Connection>> connections_;

 private:
  void Accept();
  void OnAccept(const error_code& ec, tcp::socket socket);
  bool MakeRoom();
  void DoStop();
  void WatchGrace();
  std::vector<std::shared_ptr<Connection>> Live();

  asio::io_context io_;
  asio::strand<asio::io_context::executor_type> strand_;  // the acceptor's and the timers'
  tcp::acceptor acceptor_;
  asio::steady_timer retry_;  // accepting again after running out of descriptors
  asio::steady_timer grace_;
  Clock::time_point grace_end_{};
};

}  // namespace qvvcard::http

#endif
