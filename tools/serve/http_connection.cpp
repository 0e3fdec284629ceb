#include "serve/http_connection.hpp"

#include <boost/beast/http/error.hpp>
#include <boost/beast/http/read.hpp>
#include <boost/beast/http/status.hpp>
#include <climits>
#include <cstdio>
#include <limits>

#include "serve/http_wire.hpp"

namespace qvvcard::http {

void Connection::Start() {
  error_code ec;
  socket_.set_option(tcp::no_delay(true), ec);
  Idle();
}

void Connection::Shutdown() {
  if (phase_ == Phase::kIdle || phase_ == Phase::kHead) Close();
}

void Connection::SetPhase(Phase p) {
  phase_.store(p, std::memory_order_relaxed);
  since_.store(Clock::now().time_since_epoch().count(), std::memory_order_relaxed);
}

void Connection::Arm(std::chrono::milliseconds d) {
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

void Connection::Disarm() {
  ++gen_;
  timer_.cancel();
}

void Connection::Idle() {
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

void Connection::StartHead() {
  SetPhase(Phase::kHead);
  started_ = Clock::now();
  Arm(limits_.head_timeout);
}

void Connection::ReadHead() {
  // The deadline may have passed between two reads of the head, when no
  // read was there to cancel.
  if (timed_out_) return OnHeadRead(asio::error::timed_out, 0);
  const std::size_t room = buffer_.max_size() - buffer_.size();
  socket_.async_read_some(buffer_.prepare(std::min<std::size_t>(room, 16384)),
                          [self = shared_from_this()](const error_code& ec, std::size_t n) {
                            self->OnHeadRead(ec, n);
                          });
}

void Connection::OnHeadRead(const error_code& ec, std::size_t n) {
  if (closed_) return;
  if (ec) {
    if (timed_out_ && phase_ == Phase::kHead) {
      return Refuse(408, "the request head did not arrive within " + Seconds(limits_.head_timeout));
    }
    return Close();  // idle too long, or the client went away
  }
  buffer_.commit(n);
  if (phase_ == Phase::kIdle) StartHead();
  OnHeadBytes();
}

std::string Connection::Seconds(std::chrono::milliseconds d) {
  char text[32];
  std::snprintf(text, sizeof text, "%g s", static_cast<double>(d.count()) / 1000.0);
  return text;
}

void Connection::OnHeadBytes() {
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

void Connection::SplitTarget() {
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

void Connection::CheckHead() {
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

void Connection::ReadBody() {
  parser_->body_limit(limits_.max_body);
  Arm(limits_.body_timeout);
  beast::http::async_read(
      socket_, buffer_, *parser_,
      [self = shared_from_this()](const error_code& ec, std::size_t) { self->OnBody(ec); });
}

void Connection::OnBody(const error_code& ec) {
  if (closed_) return;
  Disarm();
  if (ec) {
    if (timed_out_) {
      return Refuse(408, "the body did not arrive within " + Seconds(limits_.body_timeout));
    }
    if (ec == beast::http::error::body_limit) {
      return Refuse(413, "the body is larger than " + std::to_string(limits_.max_body) + " bytes");
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

void Connection::Process() {
  Response r;
  try {
    r = server_.handler_.Handle(request_);
  } catch (...) {
    return Refuse(500, "the request could not be answered");
  }
  Send(std::move(r));
}

void Connection::Refuse(int status, std::string why) {
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

void Connection::Send(Response r, bool refusal) {
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

void Connection::NextPiece() {
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

void Connection::Log() {
  const double ms = std::chrono::duration<double, std::milli>(Clock::now() - started_).count();
  server_.handler_.Log(request_, status_, body_bytes_, ms);
}

void Connection::Answered() {
  Disarm();
  Log();
  if (closing_) return Linger();
  Idle();
}

void Connection::Abort() {
  Log();
  Close();
}

void Connection::Linger() {
  SetPhase(Phase::kClosing);
  error_code ignored;
  socket_.shutdown(tcp::socket::shutdown_send, ignored);
  buffer_.clear();
  Arm(std::chrono::milliseconds(1000));
  Drain(0);
}

void Connection::Drain(std::size_t drained) {
  socket_.async_read_some(asio::buffer(scratch_), [self = shared_from_this(), drained](
                                                      const error_code& ec, std::size_t n) {
    if (self->closed_) return;
    if (ec || self->timed_out_ || drained + n > (std::size_t{1} << 20)) return self->Close();
    self->Drain(drained + n);
  });
}

void Connection::Close() {
  if (closed_) return;
  closed_ = true;
  SetPhase(Phase::kClosing);
  ++gen_;
  timer_.cancel();
  error_code ignored;
  socket_.close(ignored);
}

}  // namespace qvvcard::http
