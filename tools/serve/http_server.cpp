// The server: one strand per connection, on an io_context run by a few
// threads. A connection goes through its phases in turn: idle (waiting for
// the first byte of a request), head (HeadChecker reads it), busy (body,
// the handler, the answer), and closing (after an answer that closes: the
// sending side is shut and what the client still sends is read and thrown
// away for a moment, so that the answer is not lost to a reset).
#include "serve/http_server.hpp"

#include <zlib.h>

#include <array>
#include <atomic>
#include <boost/asio.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/http/error.hpp>
#include <boost/beast/http/parser.hpp>
#include <boost/beast/http/read.hpp>
#include <boost/beast/http/status.hpp>
#include <boost/beast/http/string_body.hpp>
#include <climits>
#include <cstdio>
#include <ctime>
#include <limits>
#include <list>
#include <mutex>
#include <thread>

#include "serve/http_head.hpp"

namespace qvvcard::http {

namespace asio = boost::asio;
namespace beast = boost::beast;
using tcp = asio::ip::tcp;
using Clock = std::chrono::steady_clock;
using boost::system::error_code;

// ---------------------------------------------------------------------------
// Requests and queries

const std::string* Request::Find(std::string_view name) const {
  for (const Header& h : headers) {
    if (SameName(h.name, name)) return &h.value;
  }
  return nullptr;
}

std::size_t Request::Count(std::string_view name) const {
  std::size_t n = 0;
  for (const Header& h : headers) n += SameName(h.name, name) ? 1 : 0;
  return n;
}

namespace {

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::string DecodeComponent(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  for (std::size_t i = 0; i < s.size(); ++i) {
    const char c = s[i];
    if (c == '+') {
      out += ' ';
    } else if (c == '%' && i + 2 < s.size() && HexDigit(s[i + 1]) >= 0 && HexDigit(s[i + 2]) >= 0) {
      out += static_cast<char>(HexDigit(s[i + 1]) * 16 + HexDigit(s[i + 2]));
      i += 2;
    } else {
      out += c;
    }
  }
  return out;
}

}  // namespace

std::vector<std::pair<std::string, std::string>> ParseQuery(std::string_view query) {
  std::vector<std::pair<std::string, std::string>> pairs;
  while (!query.empty()) {
    const std::size_t amp = query.find('&');
    const std::string_view pair = query.substr(0, amp);
    query = amp == std::string_view::npos ? std::string_view() : query.substr(amp + 1);
    if (pair.empty()) continue;
    const std::size_t eq = pair.find('=');
    if (eq == std::string_view::npos) {
      pairs.emplace_back(DecodeComponent(pair), std::string());
    } else {
      pairs.emplace_back(DecodeComponent(pair.substr(0, eq)), DecodeComponent(pair.substr(eq + 1)));
    }
  }
  return pairs;
}

namespace {

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

// ---------------------------------------------------------------------------
// Content codings of request bodies

// Undoes one gzip or deflate coding of body, the result bounded by max.
// Returns 0, or the status to refuse with (400 broken data, 413 too large).
int Inflate(std::string& body, bool gzip, std::uint64_t max, std::string& why) {
  for (const int bits : {gzip ? 15 + 16 : 15, -15}) {
    z_stream z{};
    if (inflateInit2(&z, bits) != Z_OK) {
      why = "the body could not be decoded";
      return 500;
    }
    std::string out;
    std::array<char, 16384> chunk;
    std::size_t fed = 0;
    int status = 0;
    bool retry = false;
    for (;;) {
      if (z.avail_in == 0 && fed < body.size()) {
        const std::size_t n = std::min<std::size_t>(body.size() - fed, UINT_MAX / 2);
        z.next_in = reinterpret_cast<Bytef*>(body.data() + fed);
        z.avail_in = static_cast<uInt>(n);
        fed += n;
      }
      z.next_out = reinterpret_cast<Bytef*>(chunk.data());
      z.avail_out = static_cast<uInt>(chunk.size());
      const int r = inflate(&z, Z_NO_FLUSH);
      const std::size_t made = chunk.size() - z.avail_out;
      if (out.size() + made > max) {
        why = "the body is larger than " + std::to_string(max) + " bytes once decoded";
        status = 413;
        break;
      }
      out.append(chunk.data(), made);
      if (r == Z_STREAM_END) {
        if (z.avail_in == 0 && fed == body.size()) break;
        if (gzip && inflateReset(&z) == Z_OK) continue;  // the next gzip member
        why = "data after the end of the compressed body";
        status = 400;
        break;
      }
      if (r == Z_DATA_ERROR && !gzip && bits > 0 && z.total_out == 0) {
        retry = true;  // raw deflate, without the zlib wrapper some clients leave out
        break;
      }
      if (r == Z_OK) continue;
      if (r == Z_BUF_ERROR && z.avail_in == 0 && fed == body.size()) {
        why = "the compressed body ends too early";
      } else {
        why = "the compressed body is broken";
      }
      status = 400;
      break;
    }
    inflateEnd(&z);
    if (retry) continue;
    if (status == 0) body = std::move(out);
    return status;
  }
  why = "the compressed body is broken";
  return 400;
}

// The codings named by Content-Encoding headers, in the order applied.
// Returns 0, or 415 with why.
int ReadCodings(const Request& r, std::vector<bool>& gzip, std::string& why) {
  for (const Header& h : r.headers) {
    if (!SameName(h.name, "Content-Encoding")) continue;
    std::string_view rest = h.value;
    for (;;) {
      const std::size_t comma = rest.find(',');
      const std::string_view item = Trim(rest.substr(0, comma));
      if (SameName(item, "gzip") || SameName(item, "x-gzip")) {
        gzip.push_back(true);
      } else if (SameName(item, "deflate")) {
        gzip.push_back(false);
      } else if (!item.empty() && !SameName(item, "identity")) {
        why = "Content-Encoding " + std::string(item) + " is not supported (gzip, deflate are)";
        return 415;
      }
      if (comma == std::string_view::npos) break;
      rest = rest.substr(comma + 1);
    }
  }
  if (gzip.size() > 4) {
    why = "more than 4 content codings";
    return 415;
  }
  return 0;
}

// ---------------------------------------------------------------------------
// Answers

std::string HttpDate() {
  static constexpr const char* kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                            "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  const std::time_t now = std::time(nullptr);
  std::tm tm{};
  gmtime_r(&now, &tm);
  char text[40];
  std::snprintf(text, sizeof text, "%s, %02d %s %04d %02d:%02d:%02d GMT", kDays[tm.tm_wday % 7],
                tm.tm_mday, kMonths[tm.tm_mon % 12], tm.tm_year + 1900, tm.tm_hour, tm.tm_min,
                tm.tm_sec);
  return text;
}

bool SafeValue(std::string_view v) {
  for (const char c : v) {
    const auto u = static_cast<unsigned char>(c);
    if ((u < 0x20 && u != '\t') || u == 0x7F) return false;
  }
  return true;
}

bool LayerHeader(std::string_view name) {
  return SameName(name, "Connection") || SameName(name, "Content-Length") ||
         SameName(name, "Transfer-Encoding") || SameName(name, "Date") ||
         SameName(name, "Keep-Alive");
}

// Whether a comma-separated list of tokens holds one (any case).
bool ListHas(std::string_view list, std::string_view token) {
  for (;;) {
    const std::size_t comma = list.find(',');
    const std::string_view item = Trim(list.substr(0, comma));
    if (SameName(item, token)) return true;
    if (comma == std::string_view::npos) return false;
    list = list.substr(comma + 1);
  }
}

std::string Hex(std::size_t n) {
  char text[24];
  std::snprintf(text, sizeof text, "%zx", n);
  return text;
}

// A refusal when the application's own could not be had.
Response PlainRefusal(int status, std::string_view what) {
  Response r;
  r.status = status;
  r.headers.push_back({"Content-Type", "text/plain; charset=utf-8"});
  r.body = std::string(what) + "\n";
  return r;
}

enum class Phase : int { kIdle, kHead, kBusy, kClosing };

class Connection;

}  // namespace

// ---------------------------------------------------------------------------
// The server

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

namespace {

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

  void Start() {
    error_code ec;
    socket_.set_option(tcp::no_delay(true), ec);
    Idle();
  }

  // From another thread: for choosing whom to close at the cap.
  Phase phase() const { return phase_.load(std::memory_order_relaxed); }
  Clock::rep since() const { return since_.load(std::memory_order_relaxed); }

  // On the connection's strand, by way of Post.
  void Shutdown() {
    if (phase_ == Phase::kIdle || phase_ == Phase::kHead) Close();
  }
  void Evict() { Shutdown(); }
  void Kill() { Close(); }

  template <class F>
  void Post(F f) {
    asio::post(socket_.get_executor(), [self = shared_from_this(), f] { f(*self); });
  }

 private:
  void SetPhase(Phase p) {
    phase_.store(p, std::memory_order_relaxed);
    since_.store(Clock::now().time_since_epoch().count(), std::memory_order_relaxed);
  }

  // One deadline at a time; a new one replaces the old. When it passes, the
  // operation in hand is cancelled and sees timed_out_.
  void Arm(std::chrono::milliseconds d) {
    const unsigned gen = ++gen_;
    timed_out_ = false;
    timer_.expires_after(d);
    timer_.async_wait([self = shared_from_this(), gen](const error_code& ec) {
      if (ec || gen != self->gen_ || self->closed_) return;
      self->timed_out_ = true;
      error_code ignored;
      self->socket_.cancel(ignored);
    });
  }
  void Disarm() {
    ++gen_;
    timer_.cancel();
  }

  void Idle() {
    if (server_.stopping_) return Close();
    request_ = Request();
    checker_.emplace(limits_.max_head, limits_.max_header_lines);
    parser_.reset();
    close_after_ = false;
    body_bytes_ = 0;
    SetPhase(Phase::kIdle);
    if (buffer_.size() > 0) {  // the next request, sent before this answer
      StartHead();
      return OnHeadBytes();
    }
    Arm(limits_.idle_timeout);
    ReadHead();
  }

  void StartHead() {
    SetPhase(Phase::kHead);
    started_ = Clock::now();
    Arm(limits_.head_timeout);
  }

  void ReadHead() {
    // The deadline may have passed between two reads of the head, when no
    // read was there to cancel.
    if (timed_out_) return OnHeadRead(asio::error::timed_out, 0);
    const std::size_t room = buffer_.max_size() - buffer_.size();
    socket_.async_read_some(buffer_.prepare(std::min<std::size_t>(room, 16384)),
                            [self = shared_from_this()](const error_code& ec, std::size_t n) {
                              self->OnHeadRead(ec, n);
                            });
  }

  void OnHeadRead(const error_code& ec, std::size_t n) {
    if (closed_) return;
    if (ec) {
      if (timed_out_ && phase_ == Phase::kHead) {
        return Refuse(408,
                      "the request head did not arrive within " + Seconds(limits_.head_timeout));
      }
      return Close();  // idle too long, or the client went away
    }
    buffer_.commit(n);
    if (phase_ == Phase::kIdle) StartHead();
    OnHeadBytes();
  }

  static std::string Seconds(std::chrono::milliseconds d) {
    char text[32];
    std::snprintf(text, sizeof text, "%g s", static_cast<double>(d.count()) / 1000.0);
    return text;
  }

  void OnHeadBytes() {
    const auto data = buffer_.cdata();
    const HeadChecker::State state =
        checker_->Feed(std::string_view(static_cast<const char*>(data.data()), data.size()));
    if (state == HeadChecker::State::kMore) return ReadHead();
    request_.method = checker_->method();
    request_.target = checker_->target();
    request_.version = checker_->version();
    SplitTarget();
    if (state == HeadChecker::State::kRefused) {
      return Refuse(checker_->status(), checker_->why());
    }
    Disarm();
    SetPhase(Phase::kBusy);
    buffer_.consume(checker_->skipped());
    const std::size_t head = checker_->end() - checker_->skipped();

    parser_.emplace();
    parser_->header_limit(static_cast<std::uint32_t>(head + 1));
    // The body's limit is set once the application wants the body: a length
    // too large is refused after Check, which may refuse for better reasons.
    parser_->body_limit(std::numeric_limits<std::uint64_t>::max());
    parser_->eager(false);
    error_code ec;
    const std::size_t used =
        parser_->put(asio::buffer(static_cast<const char*>(buffer_.cdata().data()), head), ec);
    if ((ec && ec != beast::http::error::need_more) || used != head || !parser_->is_header_done()) {
      return Refuse(400, "a malformed request head");
    }
    buffer_.consume(used);
    for (const auto& field : parser_->get()) {
      request_.headers.push_back({std::string(field.name_string()), std::string(field.value())});
    }
    keep_alive_ = parser_->get().keep_alive();
    CheckHead();
  }

  // The path and the query. A target in absolute form, as sent to proxies
  // ("http://host/path?query"), has its path after the host.
  void SplitTarget() {
    const std::string& t = request_.target;
    const std::size_t q = t.find('?');
    request_.path = t.substr(0, q);
    request_.query = q == std::string::npos ? std::string() : t.substr(q + 1);
    std::string& path = request_.path;
    for (const std::string_view scheme : {"http://", "https://"}) {
      if (path.size() > scheme.size() && SameName(path.substr(0, scheme.size()), scheme)) {
        const std::size_t slash = path.find('/', scheme.size());
        path = slash == std::string::npos ? "/" : path.substr(slash);
        break;
      }
    }
  }

  void CheckHead() {
    std::optional<Response> early;
    try {
      early = server_.handler_.Check(request_);
    } catch (...) {
      return Refuse(500, "the request could not be checked");
    }
    // No tunnels: after an answer to CONNECT, whatever it is, the
    // connection closes, so that nothing sent after it is read as requests
    // by the server and as tunnelled bytes by a proxy in front.
    if (request_.method == "CONNECT") close_after_ = true;
    if (early) {
      // The body is not read: what follows on the connection is not
      // requests.
      if (checker_->has_body()) close_after_ = true;
      return Send(std::move(*early));
    }
    std::string why;
    codings_.clear();
    if (const int status = ReadCodings(request_, codings_, why)) return Refuse(status, why);
    if (checker_->content_length().value_or(0) > limits_.max_body) {
      return Refuse(413, "the body is larger than " + std::to_string(limits_.max_body) + " bytes");
    }
    if (const std::string* expect = request_.Find("Expect"); expect && request_.version == 11) {
      if (!SameName(*expect, "100-continue")) {
        return Refuse(417, "the only expectation understood is 100-continue");
      }
      if (checker_->has_body() && !parser_->is_done()) {
        static constexpr std::string_view kContinue = "HTTP/1.1 100 Continue\r\n\r\n";
        Arm(limits_.send_timeout);
        asio::async_write(socket_, asio::buffer(kContinue.data(), kContinue.size()),
                          [self = shared_from_this()](const error_code& ec, std::size_t) {
                            if (self->closed_) return;
                            if (ec) return self->Close();
                            self->ReadBody();
                          });
        return;
      }
    }
    if (checker_->has_body() && !parser_->is_done()) return ReadBody();
    Process();
  }

  void ReadBody() {
    parser_->body_limit(limits_.max_body);
    Arm(limits_.body_timeout);
    beast::http::async_read(
        socket_, buffer_, *parser_,
        [self = shared_from_this()](const error_code& ec, std::size_t) { self->OnBody(ec); });
  }

  void OnBody(const error_code& ec) {
    if (closed_) return;
    Disarm();
    if (ec) {
      if (timed_out_) {
        return Refuse(408, "the body did not arrive within " + Seconds(limits_.body_timeout));
      }
      if (ec == beast::http::error::body_limit) {
        return Refuse(413,
                      "the body is larger than " + std::to_string(limits_.max_body) + " bytes");
      }
      if (ec == beast::http::error::buffer_overflow) {
        return Refuse(400, "a chunk header or the trailer is too large");
      }
      if (ec == beast::http::error::end_of_stream || ec == asio::error::eof ||
          ec == asio::error::connection_reset || ec == beast::http::error::partial_message) {
        return Close();
      }
      return Refuse(400, "a malformed chunked body");
    }
    request_.body = parser_->release().body();
    for (auto it = codings_.rbegin(); it != codings_.rend() && !request_.body.empty(); ++it) {
      std::string why;
      if (const int status = Inflate(request_.body, *it, limits_.max_body, why)) {
        return Refuse(status, why);
      }
    }
    Process();
  }

  void Process() {
    Response r;
    try {
      r = server_.handler_.Handle(request_);
    } catch (...) {
      return Refuse(500, "the request could not be answered");
    }
    Send(std::move(r));
  }

  void Refuse(int status, std::string why) {
    Response r;
    try {
      r = server_.handler_.Refusal(status, why);
    } catch (...) {
      r = PlainRefusal(status, why);
    }
    r.status = status;
    r.stream = nullptr;
    close_after_ = true;
    Send(std::move(r), true);
  }

  void Send(Response r, bool refusal = false) {
    if (closed_) return;
    SetPhase(Phase::kBusy);
    bool valid = r.status >= 200 && r.status <= 999;
    for (const Header& h : r.headers) {
      if (!IsToken(h.name) || !SafeValue(h.value)) valid = false;
    }
    if (!valid) {
      // A status out of range, or a header that would break the framing (a
      // value with CR or LF would start headers of its own).
      if (!refusal) return Refuse(500, "the answer could not be sent");
      r = PlainRefusal(500, "the answer could not be sent");
    }
    const bool head_only = request_.method == "HEAD";
    const bool no_body = r.status == 204 || r.status == 304 || head_only;
    if (r.stream && request_.version == 10 && !no_body) {
      // No chunks for HTTP/1.0: the pieces are gathered first.
      try {
        while (r.stream(r.body)) {
        }
      } catch (...) {
        return Refuse(500, "the answer could not be made");
      }
      r.stream = nullptr;
    }
    // An application that says Connection: close itself gets it, once.
    for (const Header& h : r.headers) {
      if (SameName(h.name, "Connection") && ListHas(h.value, "close")) r.close = true;
    }
    ++served_;
    closing_ = r.close || close_after_ || !keep_alive_ || server_.stopping_ ||
               served_ >= limits_.max_requests;
    status_ = r.status;

    std::string& out = head_out_;
    out.clear();
    out += "HTTP/1.1 ";
    out += std::to_string(r.status);
    out += ' ';
    const auto reason =
        beast::http::obsolete_reason(beast::http::int_to_status(static_cast<unsigned>(r.status)));
    if (reason.front() != '<') out.append(reason.data(), reason.size());
    out += "\r\nDate: ";
    out += HttpDate();
    out += "\r\n";
    for (const Header& h : r.headers) {
      if (LayerHeader(h.name)) continue;
      out += h.name;
      out += ": ";
      out += h.value;
      out += "\r\n";
    }
    if (r.stream) {
      // (To HTTP/1.0, only for HEAD: no length can be told.)
      if (r.status != 204 && r.status != 304 && request_.version == 11) {
        out += "Transfer-Encoding: chunked\r\n";
      }
    } else if (r.status != 204 && r.status != 304) {
      out += "Content-Length: ";
      out += std::to_string(r.body.size());
      out += "\r\n";
    }
    if (closing_) {
      out += "Connection: close\r\n";
    } else if (request_.version == 10) {
      out += "Connection: keep-alive\r\n";
    }
    out += "\r\n";

    body_ = no_body ? std::string() : std::move(r.body);
    stream_ = no_body ? nullptr : std::move(r.stream);
    body_bytes_ = body_.size();
    Arm(limits_.send_timeout);
    const std::array<asio::const_buffer, 2> buffers{asio::buffer(head_out_), asio::buffer(body_)};
    asio::async_write(socket_, buffers,
                      [self = shared_from_this()](const error_code& ec, std::size_t) {
                        if (self->closed_) return;
                        if (ec) return self->Close();
                        if (self->stream_) return self->NextPiece();
                        self->Answered();
                      });
  }

  // A streamed answer: one chunk a write. Stopping does not cut it short;
  // only the end of the grace (Kill) or a failing piece does, and then the
  // final chunk is never sent.
  void NextPiece() {
    piece_.clear();
    bool more = false;
    try {
      more = stream_(piece_);
    } catch (...) {
      return Abort();
    }
    chunk_.clear();
    if (!piece_.empty()) {
      chunk_ = Hex(piece_.size()) + "\r\n";
      piece_ += "\r\n";
      body_bytes_ += piece_.size() - 2;
    }
    if (!more) piece_ += "0\r\n\r\n";
    if (chunk_.empty() && more) {
      // Nothing this time: ask again, letting other work on the strand run.
      return Post([](Connection& c) {
        if (!c.closed_) c.NextPiece();
      });
    }
    Arm(limits_.send_timeout);
    const std::array<asio::const_buffer, 2> buffers{asio::buffer(chunk_), asio::buffer(piece_)};
    asio::async_write(socket_, buffers,
                      [self = shared_from_this(), more](const error_code& ec, std::size_t) {
                        if (self->closed_) return;
                        if (ec) return self->Close();
                        if (more) return self->NextPiece();
                        self->stream_ = nullptr;
                        self->Answered();
                      });
  }

  void Log() {
    const double ms = std::chrono::duration<double, std::milli>(Clock::now() - started_).count();
    server_.handler_.Log(request_, status_, body_bytes_, ms);
  }

  void Answered() {
    Disarm();
    Log();
    if (closing_) return Linger();
    Idle();
  }

  // A broken answer: logged as it is, and closed without the final chunk,
  // so that no client can take it for a whole one.
  void Abort() {
    Log();
    Close();
  }

  // After an answer that closes: the answer is out; what the client still
  // sends (a body not read, the next requests) is thrown away unread for a
  // moment, then the connection closes.
  void Linger() {
    SetPhase(Phase::kClosing);
    error_code ignored;
    socket_.shutdown(tcp::socket::shutdown_send, ignored);
    buffer_.clear();
    Arm(std::chrono::milliseconds(1000));
    Drain(0);
  }

  void Drain(std::size_t drained) {
    socket_.async_read_some(asio::buffer(scratch_), [self = shared_from_this(), drained](
                                                        const error_code& ec, std::size_t n) {
      if (self->closed_) return;
      if (ec || self->timed_out_ || drained + n > (std::size_t{1} << 20)) return self->Close();
      self->Drain(drained + n);
    });
  }

  void Close() {
    if (closed_) return;
    closed_ = true;
    SetPhase(Phase::kClosing);
    ++gen_;
    timer_.cancel();
    error_code ignored;
    socket_.close(ignored);
  }

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

}  // namespace

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
