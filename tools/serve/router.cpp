#include "serve/router.hpp"

#include <cstdio>
#include <new>
#include <span>
#include <string_view>

#include "input/encoding.hpp"
#include "serve/api_error.hpp"
#include "serve/http_head.hpp"
#include "serve/http_text.hpp"
#include "serve/page.hpp"
#include "serve/request_values.hpp"

namespace qvvcard {

namespace {

// The page may use its own files only; its images are made in the page.
constexpr const char* kPagePolicy =
    "default-src 'self'; img-src 'self' blob:; object-src 'none'; base-uri 'none'; "
    "form-action 'self'; frame-ancestors 'none'";
// Everything else is data, never a document that runs anything.
constexpr const char* kDataPolicy = "default-src 'none'; frame-ancestors 'none'; sandbox";

constexpr unsigned kGet = 1;
constexpr unsigned kPost = 2;

enum class Endpoint { Health, Card, Cards, QrPng, QrSvg, Page };

constexpr std::string_view kValueTypes[] = {"application/json"};
constexpr std::string_view kQrTypes[] = {"application/json", "text/vcard"};
constexpr std::string_view kRecordTypes[] = {"text/csv", "application/x-ndjson",
                                             "application/jsonl", "text/vcard"};

struct Route {
  std::string_view path;
  unsigned methods;
  Endpoint endpoint;
  std::span<const std::string_view> body_types;  // of POST
  const char* body_hint;                         // the words of a 415
};

constexpr Route kRoutes[] = {
    {"/healthz", kGet, Endpoint::Health, {}, ""},
    {"/v1/card", kGet | kPost, Endpoint::Card, kValueTypes, "send the values as application/json"},
    {"/v1/cards", kPost, Endpoint::Cards, kRecordTypes,
     "send the records as text/csv, application/x-ndjson, application/jsonl or text/vcard"},
    {"/v1/qr.png", kGet | kPost, Endpoint::QrPng, kQrTypes,
     "send the values as application/json, or the card as text/vcard"},
    {"/v1/qr.svg", kGet | kPost, Endpoint::QrSvg, kQrTypes,
     "send the values as application/json, or the card as text/vcard"},
};
constexpr Route kPageRoute = {"", kGet, Endpoint::Page, {}, ""};

const Route* RouteOf(std::string_view path) {
  for (const Route& r : kRoutes) {
    if (r.path == path) return &r;
  }
  return FindPageFile(path) != nullptr ? &kPageRoute : nullptr;
}

std::string AllowOf(unsigned methods) {
  std::string allow;
  if (methods & kGet) allow += "GET, HEAD, ";
  if (methods & kPost) allow += "POST, ";
  return allow + "OPTIONS";
}

unsigned MethodBit(std::string_view method) {
  if (method == "GET" || method == "HEAD") return kGet;
  if (method == "POST") return kPost;
  return 0;
}

void Set(http::Response& res, std::string_view name, std::string value) {
  for (http::Header& h : res.headers) {
    if (http::SameName(h.name, name)) {
      h.value = std::move(value);
      return;
    }
  }
  res.headers.push_back({std::string(name), std::move(value)});
}

bool Has(const http::Response& res, std::string_view name) {
  for (const http::Header& h : res.headers) {
    if (http::SameName(h.name, name)) return true;
  }
  return false;
}

http::Response PageAnswer(std::string_view path) {
  const PageFile* file = FindPageFile(path);
  http::Response res;
  res.body.assign(file->body);
  res.headers.push_back({"Content-Type", std::string(file->content_type)});
  res.headers.push_back({"Cache-Control", "no-cache"});
  if (file->content_type.starts_with("text/html")) {
    res.headers.push_back({"Content-Security-Policy", kPagePolicy});
    res.headers.push_back({"Cross-Origin-Opener-Policy", "same-origin"});
  }
  return res;
}

}  // namespace

bool Router::CorsAllowed(const http::Request& req) const {
  if (config_.cors.empty()) return false;
  const std::string* origin = req.Find("Origin");
  return origin != nullptr && (config_.cors == "*" || *origin == config_.cors);
}

http::Response Router::Finished(const http::Request* req, http::Response res) const {
  Set(res, "X-Content-Type-Options", "nosniff");
  Set(res, "Referrer-Policy", "no-referrer");
  Set(res, "X-Frame-Options", "DENY");
  if (!Has(res, "Content-Security-Policy")) Set(res, "Content-Security-Policy", kDataPolicy);
  // Cards and errors hold personal data: no cache keeps them.
  if (!Has(res, "Cache-Control")) Set(res, "Cache-Control", "no-store");
  if (req != nullptr && CorsAllowed(*req)) {
    Set(res, "Access-Control-Allow-Origin", config_.cors);
    Set(res, "Access-Control-Expose-Headers",
        "Content-Disposition, X-QR-Version, X-QR-Error-Correction, X-Slots-Left-Out, X-Cards, "
        "X-Values-Left-Out");
  }
  if (!config_.cors.empty() && config_.cors != "*") Set(res, "Vary", "Origin");
  return res;
}

std::optional<http::Response> Router::Check(const http::Request& head) {
  const Route* route = RouteOf(head.path);
  if (route == nullptr) return Finished(&head, ErrorAnswer(404, "no such path"));
  if (head.method == "OPTIONS") {
    http::Response res;
    res.status = 204;
    res.headers.push_back({"Allow", AllowOf(route->methods)});
    if (CorsAllowed(head) && head.Find("Access-Control-Request-Method") != nullptr) {
      res.headers.push_back({"Access-Control-Allow-Methods", AllowOf(route->methods)});
      res.headers.push_back({"Access-Control-Allow-Headers", "Content-Type, X-Raw-Values"});
      res.headers.push_back({"Access-Control-Max-Age", "600"});
    }
    return Finished(&head, std::move(res));
  }
  if ((MethodBit(head.method) & route->methods) == 0) {
    http::Response res = ErrorAnswer(405, head.method + " is not allowed here");
    res.headers.push_back({"Allow", AllowOf(route->methods)});
    return Finished(&head, std::move(res));
  }
  if (head.method != "POST") return std::nullopt;
  const MediaType type = BodyType(head);
  bool known = false;
  for (const std::string_view t : route->body_types) known = known || t == type.type;
  if (!known) return Finished(&head, ErrorAnswer(415, route->body_hint));
  // Records may come in the encodings batch reads; everything else is UTF-8.
  if (route->endpoint == Endpoint::Cards) {
    if (type.has_charset && !EncodingNamed(type.charset)) {
      return Finished(&head,
                      ErrorAnswer(415, "the charset \"" + type.charset +
                                           "\" cannot be read; send one of " + EncodingNameList()));
    }
  } else if (!type.Utf8()) {
    return Finished(&head, ErrorAnswer(415, "the body must be UTF-8"));
  }
  return std::nullopt;
}

http::Response Router::Handle(const http::Request& req) {
  const Route* route = RouteOf(req.path);
  http::Response res;
  try {
    switch (route->endpoint) {
      case Endpoint::Health:
        res.body = "ok\n";
        res.headers.push_back({"Content-Type", "text/plain; charset=utf-8"});
        break;
      case Endpoint::Card:
        res = CardAnswer(req);
        break;
      case Endpoint::Cards:
        res = CardsAnswer(req, config_.cards);
        break;
      case Endpoint::QrPng:
      case Endpoint::QrSvg:
        res = QrAnswer(req, route->endpoint == Endpoint::QrPng);
        break;
      case Endpoint::Page:
        res = PageAnswer(req.path);
        break;
    }
  } catch (const RequestRefused& refused) {
    res = refused.answer;
  } catch (const std::exception& e) {
    const char* what =
        dynamic_cast<const std::bad_alloc*>(&e) != nullptr ? "out of memory" : e.what();
    std::fprintf(stderr, "qvvcard serve: %s %s: %s\n", LogSafe(req.method).c_str(),
                 LogSafe(req.path).c_str(), LogSafe(what, 300).c_str());
    res = ErrorAnswer(500, "internal error");
  }
  return Finished(&req, std::move(res));
}

http::Response Router::Refusal(int status, std::string_view what) {
  std::string words(what);
  if (status == 413) {
    words = "the body is larger than " + std::to_string(config_.max_body) + " bytes (--max-body)";
  }
  return Finished(nullptr, ErrorAnswer(status, words));
}

void Router::Log(const http::Request& head, int status, std::uint64_t body_bytes,
                 double ms) noexcept {
  if (config_.quiet) return;
  try {
    // The query string holds card values: only the path is shown.
    std::fprintf(stderr, "qvvcard serve: %s %s %d %llu bytes %.1f ms\n",
                 head.method.empty() ? "-" : LogSafe(head.method, 20).c_str(),
                 head.path.empty() ? "-" : LogSafe(head.path).c_str(), status,
                 static_cast<unsigned long long>(body_bytes), ms);
  } catch (...) {
    // No memory for the line: the request goes unlogged.
  }
}

}  // namespace qvvcard
