// qvvcard serve: the listening socket, stopping, and the lines on standard
// error.
#include <pthread.h>
#include <signal.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <thread>

#include "common/exit_status.hpp"
#include "common/stop.hpp"
#include "serve/http_server.hpp"
#include "serve/router.hpp"
#include "serve/serve.hpp"

namespace qvvcard {

namespace {

std::string UrlOf(const std::string& host, int port) {
  const bool v6 = host.find(':') != std::string::npos;
  return "http://" + (v6 ? "[" + host + "]" : host) + ":" + std::to_string(port) + "/";
}

// Waits for a stop request and stops the server. The stop signals reach
// this thread only.
class StopWatcher {
 public:
  explicit StopWatcher(http::Server& server) : server_(server), thread_([this] { Run(); }) {}
  ~StopWatcher() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      done_ = true;
    }
    wake_.notify_one();
    thread_.join();
  }
  StopWatcher(const StopWatcher&) = delete;
  StopWatcher& operator=(const StopWatcher&) = delete;

 private:
  void Run() {
    const sigset_t stops = StopSignals();
    pthread_sigmask(SIG_UNBLOCK, &stops, nullptr);
    std::unique_lock<std::mutex> lock(mutex_);
    bool stopped = false;
    while (!done_) {
      if (!stopped && StopSignal() != 0) {
        stopped = true;
        server_.Stop();
      }
      wake_.wait_for(lock, std::chrono::milliseconds(50));
    }
  }

  http::Server& server_;
  std::mutex mutex_;
  std::condition_variable wake_;
  bool done_ = false;
  std::thread thread_;
};

}  // namespace

int RunServe(const ServeOptions& options) {
  RouterConfig config;
  config.max_body = options.max_body;
  config.cors = options.cors;
  config.quiet = options.quiet;
  config.cards.held_bytes = 8 * options.max_body;
  Router router(config);
  http::Limits limits;
  limits.max_body = options.max_body;
  limits.threads = options.threads;

  // The stop signals are held back from every thread but the watcher's.
  const sigset_t stops = StopSignals();
  sigset_t before;
  pthread_sigmask(SIG_BLOCK, &stops, &before);
  int status = kExitOk;
  {
    http::Server server(router, limits);
    std::string error;
    const int port = server.Listen(options.bind, options.port, error);
    if (port == 0) {
      std::fprintf(stderr, "qvvcard: %s\n", error.c_str());
      status = kExitUsage;
    } else {
      std::fprintf(stderr, "qvvcard serve: listening on %s\n", UrlOf(options.bind, port).c_str());
      StopWatcher watcher(server);
      server.Run();
    }
  }
  pthread_sigmask(SIG_SETMASK, &before, nullptr);
  if (status == kExitOk) {
    std::fprintf(stderr, "qvvcard serve: stopped by %s\n", SignalName(StopSignal()).c_str());
  }
  return status;
}

}  // namespace qvvcard
