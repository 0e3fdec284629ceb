// qvvcard serve: the command, the listening socket, the log and stopping.
#include <httplib.h>
#include <pthread.h>
#include <signal.h>
#include <sys/socket.h>

#include <CLI/CLI.hpp>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <thread>

#include "cli/commands.hpp"
#include "output/safe_write.hpp"
#include "serve/http_text.hpp"
#include "serve/routes.hpp"
#include "serve/serve.hpp"

namespace qvvcard {

namespace {

constexpr const char* kServeNotes =
    R"text(Serves, on ADDR:N (127.0.0.1:8080 by default, this machine only):
  /                   a page to make a card and its QR code
  /v1/card            GET ?Name=Value&...  or POST a JSON object: the card
  /v1/cards           POST CSV (text/csv) or JSON Lines (application/x-ndjson):
                      all cards, or a 422 listing every bad record
  /v1/qr.png, .svg    GET ?Name=Value&...  or POST a JSON object (or a card as
                      text/vcard): a QR code of the card
  /healthz            "ok"
Values are read as in JSON Lines input and escaped for card readers;
?raw=1 or the header X-Raw-Values: 1 takes them as escaped already. Errors
are JSON: {"error": ..., "field": ..., "status": ...}. One line per request
goes to standard error (method, path, status, bytes, milliseconds).
SIGINT or SIGTERM lets the requests in hand finish and exits 0.

Examples:
  qvvcard serve
  curl 'http://127.0.0.1:8080/v1/card?NameFamily=Doe&NameGiven=John'
  curl -H 'Content-Type: application/json' \
      -d '{"NameFamily": "Doe", "Tel1_Number": "+1-555-0100", "Tel1_Cell": true}' \
      http://127.0.0.1:8080/v1/card
  curl -o doe.png 'http://127.0.0.1:8080/v1/qr.png?NameFamily=Doe'
  curl -H 'Content-Type: text/csv' --data-binary @contacts.csv \
      http://127.0.0.1:8080/v1/cards

Exit status: 0 stopped by SIGINT or SIGTERM; 2 usage error, or the address
cannot be listened on.
)text";

// An origin as browsers send it ("https://example.org:8443"), or "*".
std::string CheckOrigin(const std::string& origin) {
  if (origin == "*") return {};
  const std::size_t colon = origin.find("://");
  bool ok = colon != std::string::npos && colon > 0 && colon + 3 < origin.size();
  for (std::size_t i = 0; ok && i < origin.size(); ++i) {
    const auto c = static_cast<unsigned char>(origin[i]);
    if (c <= 0x20 || c >= 0x7F || (i > colon + 2 && (c == '/' || c == '?' || c == '#'))) {
      ok = false;
    }
  }
  return ok ? std::string() : "expects an origin such as https://example.org (no path) or *";
}

std::string UrlOf(const std::string& host, int port) {
  const bool v6 = host.find(':') != std::string::npos;
  return "http://" + (v6 ? "[" + host + "]" : host) + ":" + std::to_string(port) + "/";
}

// Binds the listening socket; port 0 takes any free port. Returns the
// port, or 0 with why in error.
int Bind(httplib::Server& server, const std::string& host, int port, std::string& error) {
  errno = 0;
  const int bound =
      port == 0 ? server.bind_to_any_port(host) : (server.bind_to_port(host, port) ? port : 0);
  if (bound > 0) return bound;
  const int e = errno;
  error = "cannot listen on " + host + " port " + std::to_string(port);
  if (e == EADDRINUSE || e == EACCES || e == EADDRNOTAVAIL) {
    error += ": " + std::string(std::strerror(e));
  } else {
    error += " (is " + host + " an address of this machine?)";
  }
  return 0;
}

// Waits for a stop request and stops the server once it is listening. The
// stop signals reach this thread only.
class StopWatcher {
 public:
  explicit StopWatcher(httplib::Server& server) : server_(server), thread_([this] { Run(); }) {}
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

  bool stopping() const { return stopping_; }

 private:
  void Run() {
    sigset_t stops;
    sigemptyset(&stops);
    for (const int sig : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&stops, sig);
    pthread_sigmask(SIG_UNBLOCK, &stops, nullptr);
    std::unique_lock<std::mutex> lock(mutex_);
    while (!done_) {
      // The library's stop works once, on a running server.
      if (!stopping_ && StopSignal() != 0 && server_.is_running()) {
        stopping_ = true;
        server_.stop();
      }
      wake_.wait_for(lock, std::chrono::milliseconds(50));
    }
  }

  httplib::Server& server_;
  std::mutex mutex_;
  std::condition_variable wake_;
  bool done_ = false;
  std::atomic<bool> stopping_{false};
  std::thread thread_;
};

}  // namespace

CLI::App* AddServeCommand(CLI::App& app, ServeOptions& options) {
  CLI::App* sub = app.add_subcommand(
      "serve", "Serve cards and QR codes of cards over HTTP, with a page to make them");
  sub->footer(kServeNotes);
  sub->add_option("--bind", options.bind,
                  "Address to listen on; default 127.0.0.1 (this machine only); 0.0.0.0 or :: "
                  "for every network")
      ->type_name("ADDR");
  sub->add_option("--port", options.port, "TCP port; default 8080; 0 takes a free one")
      ->type_name("N")
      ->check(CLI::Range(0, 65535));
  sub->add_option("--threads", options.threads,
                  "Connections served at once (each open connection holds a thread); default 16")
      ->type_name("N")
      ->check(CLI::Range(1, 1024));
  sub->add_option("--max-body", options.max_body,
                  "The largest request body, in bytes; default 1048576 (1 MiB)")
      ->type_name("BYTES")
      ->check(CLI::Range(std::size_t{1}, std::size_t{1} << 30));
  sub->add_option("--cors", options.cors,
                  "Let pages of ORIGIN (https://example.org, or * for any) call the API")
      ->type_name("ORIGIN")
      ->check(CLI::Validator(CheckOrigin, std::string()));
  sub->add_flag("--quiet,-q", options.quiet, "No log line per request");
  return sub;
}

int RunServe(const ServeOptions& options) {
  httplib::Server server;
  InstallRoutes(server, ServeConfig{options.max_body, options.cors});
  // SO_REUSEADDR only: a restart may take the port at once, but the
  // library's SO_REUSEPORT would let a second server share a port already
  // in use, each taking a part of the connections, where it must fail.
  server.set_socket_options([](socket_t sock) {
    int yes = 1;
    setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  });
  // The library writes the head and the body of an answer apart; without
  // TCP_NODELAY the body waits for the client's delayed acknowledgement.
  server.set_tcp_nodelay(true);
  server.set_payload_max_length(options.max_body);
  server.set_keep_alive_max_count(100);
  server.set_keep_alive_timeout(2);
  server.set_read_timeout(10);
  server.set_write_timeout(10);
  const unsigned threads = options.threads;
  server.new_task_queue = [threads] { return new httplib::ThreadPool(threads); };
  const bool quiet = options.quiet;
  server.set_logger([quiet](const httplib::Request& req, const httplib::Response& res) {
    RequestTrace& trace = CurrentTrace();
    if (!quiet) {
      char ms[32] = "-";
      if (trace.started) {
        const std::chrono::duration<double, std::milli> took =
            std::chrono::steady_clock::now() - trace.start;
        std::snprintf(ms, sizeof ms, "%.1f", took.count());
      }
      const std::uint64_t bytes = (req.method == "HEAD" ? 0 : res.body.size()) + trace.streamed;
      // The query string holds card values: only the path is shown.
      std::fprintf(stderr, "qvvcard serve: %s %s %d %llu bytes %s ms\n",
                   req.method.empty() ? "-" : LogSafe(req.method, 20).c_str(),
                   req.path.empty() ? "-" : LogSafe(req.path).c_str(), res.status,
                   static_cast<unsigned long long>(bytes), ms);
    }
    trace.started = false;
    trace.streamed = 0;
  });

  // The stop signals are held back from every thread but the watcher's:
  // an interrupted accept would end the library's listening loop.
  sigset_t stops, before;
  sigemptyset(&stops);
  for (const int sig : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&stops, sig);
  pthread_sigmask(SIG_BLOCK, &stops, &before);

  std::string error;
  const int port = Bind(server, options.bind, options.port, error);
  if (port == 0) {
    pthread_sigmask(SIG_SETMASK, &before, nullptr);
    std::fprintf(stderr, "qvvcard: %s\n", error.c_str());
    return kExitUsage;
  }
  std::fprintf(stderr, "qvvcard serve: listening on %s\n", UrlOf(options.bind, port).c_str());

  int status = kExitOk;
  {
    StopWatcher watcher(server);
    for (int failures = 0;;) {
      const auto began = std::chrono::steady_clock::now();
      server.listen_after_bind();
      if (watcher.stopping() || StopSignal() != 0) break;
      // Only failures in quick succession give up.
      if (std::chrono::steady_clock::now() - began > std::chrono::seconds(10)) failures = 0;
      // Accepting a connection failed; the library closed the socket.
      const int e = errno;
      std::fprintf(stderr, "qvvcard serve: accepting connections failed (%s); listening again\n",
                   std::strerror(e));
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
      if (++failures > 10 || Bind(server, options.bind, port, error) == 0) {
        std::fprintf(stderr, "qvvcard: %s\n",
                     error.empty() ? "accepting connections keeps failing" : error.c_str());
        status = kExitUsage;
        break;
      }
    }
  }
  pthread_sigmask(SIG_SETMASK, &before, nullptr);
  if (status == kExitOk) {
    std::fprintf(stderr, "qvvcard serve: stopped by %s\n", SignalName(StopSignal()).c_str());
  }
  return status;
}

}  // namespace qvvcard
