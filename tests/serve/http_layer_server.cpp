// A small application on the HTTP layer for its tests (test_http_layer.py):
//   GET  /healthz            "ok"
//   POST /echo               the body back; X-Method, X-Target, X-Query, X-Version,
//                            X-Headers (count), X-Echo (the request's X-Echo);
//                            Connection: close when asked by X-Answer-Close
//   GET  /stream?n=N&ms=M    N pieces "piece I\n", M ms apart
//   GET  /broken?n=N         N pieces, then the stream fails
//   POST /refuse             refused by Check with 415, body unread
//   GET  /split              an answer with a header that would split it
//   GET  /throw              Handle throws
// Other paths are 404, other methods 405. Refusals are JSON. One log line a
// request on standard error. Prints "port N" once listening; SIGTERM or
// SIGINT stops it, and it exits 0.
#include <pthread.h>
#include <signal.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <string>
#include <thread>

#include "serve/http_server.hpp"

namespace http = qvvcard::http;

namespace {

std::string Param(const http::Request& r, const std::string& name, const std::string& fallback) {
  for (const auto& [key, value] : http::ParseQuery(r.query)) {
    if (key == name) return value;
  }
  return fallback;
}

http::Response Text(int status, std::string body) {
  http::Response r;
  r.status = status;
  r.headers.push_back({"Content-Type", "text/plain"});
  r.body = std::move(body);
  return r;
}

class TestApp : public http::Handler {
 public:
  std::optional<http::Response> Check(const http::Request& head) override {
    const bool get = head.method == "GET" || head.method == "HEAD";
    if (head.path == "/healthz" || head.path == "/stream" || head.path == "/broken" ||
        head.path == "/split" || head.path == "/throw") {
      if (!get) return Text(405, "method not allowed\n");
      return std::nullopt;
    }
    if (head.path == "/echo") {
      if (head.method != "POST") return Text(405, "method not allowed\n");
      return std::nullopt;
    }
    if (head.path == "/refuse") return Text(415, "unsupported media type\n");
    return Text(404, "not found\n");
  }

  http::Response Handle(const http::Request& r) override {
    if (r.path == "/healthz") return Text(200, "ok\n");
    if (r.path == "/throw") throw std::runtime_error("no answer");
    if (r.path == "/split") {
      http::Response out = Text(200, "split\n");
      out.headers.push_back({"X-Note", "a\r\nSet-Cookie: taken=1"});
      return out;
    }
    if (r.path == "/echo") {
      http::Response out = Text(200, r.body);
      out.headers.push_back({"X-Method", r.method});
      out.headers.push_back({"X-Target", r.target});
      out.headers.push_back({"X-Query", r.query});
      out.headers.push_back({"X-Version", std::to_string(r.version)});
      out.headers.push_back({"X-Headers", std::to_string(r.headers.size())});
      if (const std::string* echo = r.Find("x-echo")) out.headers.push_back({"X-Echo", *echo});
      if (r.Find("x-answer-close")) out.headers.push_back({"Connection", "Close"});
      return out;
    }
    const int n = std::atoi(Param(r, "n", "3").c_str());
    const int ms = std::atoi(Param(r, "ms", "0").c_str());
    const bool broken = r.path == "/broken";
    http::Response out = Text(200, "");
    out.stream = [i = 0, n, ms, broken](std::string& piece) mutable {
      if (ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
      if (i == n) {
        if (broken) throw std::runtime_error("the pieces ran out");
        return false;
      }
      piece += "piece " + std::to_string(i++) + "\n";
      return i < n || broken;
    };
    return out;
  }

  http::Response Refusal(int status, std::string_view what) override {
    http::Response r;
    r.status = status;
    r.headers.push_back({"Content-Type", "application/json"});
    r.body =
        "{\"error\": \"" + std::string(what) + "\", \"status\": " + std::to_string(status) + "}\n";
    return r;
  }

  void Log(const http::Request& head, int status, std::uint64_t bytes,
           double ms) noexcept override {
    std::fprintf(stderr, "log %s %s %d %llu %.1f\n", head.method.c_str(), head.target.c_str(),
                 status, static_cast<unsigned long long>(bytes), ms);
  }
};

}  // namespace

int main(int argc, char** argv) {
  http::Limits limits;
  std::string bind = "127.0.0.1";
  int port = 0;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string option = argv[i];
    const char* value = argv[i + 1];
    const auto ms = std::chrono::milliseconds(std::atol(value));
    if (option == "--bind") {
      bind = value;
    } else if (option == "--port") {
      port = std::atoi(value);
    } else if (option == "--max-body") {
      limits.max_body = std::strtoull(value, nullptr, 10);
    } else if (option == "--head-timeout-ms") {
      limits.head_timeout = ms;
    } else if (option == "--body-timeout-ms") {
      limits.body_timeout = ms;
    } else if (option == "--idle-timeout-ms") {
      limits.idle_timeout = ms;
    } else if (option == "--grace-ms") {
      limits.stop_grace = ms;
    } else if (option == "--max-connections") {
      limits.max_connections = std::strtoull(value, nullptr, 10);
    } else if (option == "--max-requests") {
      limits.max_requests = std::strtoull(value, nullptr, 10);
    } else if (option == "--threads") {
      limits.threads = static_cast<unsigned>(std::atoi(value));
    } else {
      std::fprintf(stderr, "unknown option %s\n", option.c_str());
      return 2;
    }
  }

  // The stop signals go to one thread, which stops the server.
  sigset_t stops;
  sigemptyset(&stops);
  sigaddset(&stops, SIGINT);
  sigaddset(&stops, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stops, nullptr);

  TestApp app;
  http::Server server(app, limits);
  std::string error;
  const int bound = server.Listen(bind, port, error);
  if (bound == 0) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return 2;
  }
  std::printf("port %d\n", bound);
  std::fflush(stdout);
  std::thread watcher([&] {
    int sig = 0;
    sigwait(&stops, &sig);
    server.Stop();
  });
  server.Run();
  watcher.join();
  return 0;
}
