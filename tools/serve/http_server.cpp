// The server: one strand per connection (http_connection.hpp), on an
// io_context run by a few threads; the acceptor, the cap on connections
// and stopping.
#include "serve/http_server.hpp"

#include <thread>

#include "serve/http_connection.hpp"

namespace qvvcard::http {

int Server::Impl::Listen(const std::string& address, int port, std::string& error) {
  const std::string where = address + " port " + std::to_string(port);
  if (port < 0 || port > 65535) {
    error = "cannot listen on " + where + ": not a port";
    return 0;
  }
  error_code ec;
  asio::ip::address ip = asio::ip::make_address(address, ec);
  if (ec) {
    tcp::resolver resolver(io_);
    const auto found = resolver.resolve(address, "", asio::ip::resolver_base::passive, ec);
    if (ec || found.empty()) {
      error = "cannot listen on " + where + ": not an address of this machine";
      return 0;
    }
    ip = found.begin()->endpoint().address();
  }
  const tcp::endpoint endpoint(ip, static_cast<unsigned short>(port));
  // Address reuse lets a restarted server bind while old connections time
  // out; port sharing (SO_REUSEPORT) is never asked for, so a port another
  // server holds stays taken.
  acceptor_.open(endpoint.protocol(), ec);
  if (!ec) acceptor_.set_option(asio::socket_base::reuse_address(true), ec);
  if (!ec) acceptor_.bind(endpoint, ec);
  if (!ec) acceptor_.listen(limits_.backlog, ec);
  if (ec) {
    error = "cannot listen on " + where + ": " + ec.message();
    acceptor_.close(ec);
    return 0;
  }
  const int bound = acceptor_.local_endpoint(ec).port();
  asio::post(strand_, [this] { Accept(); });
  return bound;
}

void Server::Impl::Accept() {
  if (stopping_ || !acceptor_.is_open()) return;
  acceptor_.async_accept(asio::make_strand(io_), [this](const error_code& ec, tcp::socket socket) {
    OnAccept(ec, std::move(socket));
  });
}

void Server::Impl::OnAccept(const error_code& ec, tcp::socket socket) {
  if (stopping_) return;
  if (ec) {
    if (ec == asio::error::operation_aborted) return;
    // Out of descriptors or memory: wait a moment rather than spin.
    retry_.expires_after(std::chrono::milliseconds(50));
    retry_.async_wait([this](const error_code& e) {
      if (!e) Accept();
    });
    return;
  }
  if (!MakeRoom()) {
    error_code ignored;
    socket.close(ignored);
    return Accept();
  }
  auto connection = std::make_shared<Connection>(*this, std::move(socket));
  {
    std::lock_guard<std::mutex> lock(mutex_);
    connection->Register(connections_.insert(connections_.end(), connection));
  }
  connection->Post([](Connection& c) { c.Start(); });
  Accept();
}

// At the cap: closes the connection idle longest, else the one whose head
// began first. False when every connection is busy with a request.
bool Server::Impl::MakeRoom() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (connections_.size() < limits_.max_connections) return true;
  }
  // Held outside the lock: the last reference may go here, and a
  // connection takes the lock to leave the list.
  const auto live = Live();
  if (live.size() < limits_.max_connections) return true;
  const Connection* idle = nullptr;
  const Connection* head = nullptr;
  for (const auto& c : live) {
    const Phase p = c->phase();
    const Connection*& best = p == Phase::kIdle ? idle : head;
    if (p != Phase::kIdle && p != Phase::kHead) continue;
    if (!best || c->since() < best->since()) best = c.get();
  }
  const Connection* chosen = idle ? idle : head;
  if (!chosen) return false;
  for (const auto& c : live) {
    if (c.get() == chosen) c->Post([](Connection& x) { x.Evict(); });
  }
  return true;
}

std::vector<std::shared_ptr<Connection>> Server::Impl::Live() {
  std::vector<std::shared_ptr<Connection>> live;
  std::lock_guard<std::mutex> lock(mutex_);
  for (const auto& weak : connections_) {
    if (auto c = weak.lock()) live.push_back(std::move(c));
  }
  return live;
}

void Server::Impl::DoStop() {
  if (stopping_.exchange(true)) return;
  error_code ignored;
  acceptor_.close(ignored);
  retry_.cancel();
  for (const auto& c : Live()) c->Post([](Connection& x) { x.Shutdown(); });
  grace_end_ = Clock::now() + limits_.stop_grace;
  WatchGrace();
}

// Every 50 ms until no connection is left; at the end of the grace, the
// rest are closed.
void Server::Impl::WatchGrace() {
  const auto live = Live();
  if (live.empty()) return;
  if (Clock::now() >= grace_end_) {
    for (const auto& c : live) c->Post([](Connection& x) { x.Kill(); });
    return;
  }
  grace_.expires_after(std::chrono::milliseconds(50));
  grace_.async_wait([this](const error_code& ec) {
    if (!ec) WatchGrace();
  });
}

void Server::Impl::Run() {
  auto serve = [this] {
    for (;;) {
      try {
        io_.run();
        return;
      } catch (const std::exception&) {
        // A handler's failure ends only its own connection; serve on.
      }
    }
  };
  std::vector<std::thread> threads;
  for (unsigned i = 1; i < limits_.threads; ++i) threads.emplace_back(serve);
  serve();
  for (auto& t : threads) t.join();
}

Server::Server(Handler& handler, Limits limits) : impl_(std::make_shared<Impl>(handler, limits)) {}
Server::~Server() = default;
int Server::Listen(const std::string& address, int port, std::string& error) {
  return impl_->Listen(address, port, error);
}
void Server::Run() { impl_->Run(); }
void Server::Stop() { impl_->Stop(); }

}  // namespace qvvcard::http
