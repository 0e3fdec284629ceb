#include "serve/routes.hpp"

#include <utf8.h>

#include <cstddef>
#include <cstdio>
#include <exception>
#include <memory>
#include <new>
#include <nlohmann/json.hpp>
#include <string_view>
#include <utility>
#include <vector>

#include "bridge/status.hpp"
#include "bridge/utf.hpp"
#include "input/input_stream.hpp"
#include "input/records.hpp"
#include "input/values.hpp"
#include "serve/http_text.hpp"
#include "serve/json_object.hpp"
#include "serve/page.hpp"
#include "serve/qr.hpp"

namespace qvvcard {

RequestTrace& CurrentTrace() {
  thread_local RequestTrace trace;
  return trace;
}

namespace {

using httplib::ContentReader;
using httplib::Request;
using httplib::Response;
using json = nlohmann::json;
using qv_VCard::bridge::StatusHex;
using qv_VCard::bridge::StatusMessage;
using qv_VCard::bridge::TextToUtf8;
using qv_VCard::bridge::Utf8ToText;

// The page may use its own files only; its images are made in the page.
constexpr const char* kPagePolicy =
    "default-src 'self'; img-src 'self' blob:; object-src 'none'; base-uri 'none'; "
    "form-action 'self'; frame-ancestors 'none'";
// Everything else is data, never a document that runs anything.
constexpr const char* kDataPolicy = "default-src 'none'; frame-ancestors 'none'; sandbox";

constexpr const char* kCardType = "text/vcard; charset=utf-8";
// At most this many bad records are listed in one answer.
constexpr std::size_t kMaxListedRecords = 1000;
// Cards of a POST /v1/cards are sent in pieces of about this size once
// they do not fit into the held answer.
constexpr std::size_t kPieceBytes = std::size_t{64} << 10;

constexpr unsigned kGet = 1;
constexpr unsigned kPost = 2;

struct Route {
  std::string_view path;
  unsigned methods;
};

constexpr Route kApiRoutes[] = {
    {"/healthz", kGet},           {"/v1/card", kGet | kPost},   {"/v1/cards", kPost},
    {"/v1/qr.png", kGet | kPost}, {"/v1/qr.svg", kGet | kPost},
};

// The methods path answers (0 for no such path).
unsigned MethodsOf(std::string_view path) {
  for (const Route& r : kApiRoutes) {
    if (r.path == path) return r.methods;
  }
  return FindPageFile(path) != nullptr ? kGet : 0;
}

std::string AllowOf(unsigned methods) {
  std::string allow;
  if (methods & kGet) allow += "GET, HEAD, ";
  if (methods & kPost) allow += "POST, ";
  return allow + "OPTIONS";
}

void SetHeader(Response& res, const std::string& name, const std::string& value) {
  res.headers.erase(name);
  res.set_header(name, value);
}

void SendJson(Response& res, int status, const json& body) {
  res.status = status;
  res.body = body.dump(-1, ' ', false, json::error_handler_t::replace);
  res.body += '\n';
  SetHeader(res, "Content-Type", "application/json");
}

void SendError(Response& res, int status, const std::string& error, const std::string& field = {},
               qv_VCard::Status card_status = qv_VCard::kOk) {
  json body = {{"error", error}};
  if (!field.empty()) body["field"] = field;
  if (card_status != qv_VCard::kOk) body["status"] = StatusHex(card_status);
  SendJson(res, status, body);
}

// A refusal after which the rest of a request body may still be on its
// way: the client is asked to close the connection.
void SendErrorAndClose(Response& res, int status, const std::string& error) {
  SendError(res, status, error);
  SetHeader(res, "Connection", "close");
}

std::string UnknownProperty(std::string_view name) {
  std::string s = "unknown property " + Quoted(name);
  const std::string near = NearestPropertyName(name);
  if (!near.empty()) s += " (did you mean " + near + "?)";
  return s;
}

std::string InvalidUtf8At(std::ptrdiff_t offset) {
  return "invalid UTF-8 at byte " + std::to_string(offset + 1);
}

// How a request's values are read. Only escaping is the request's to
// choose: columns stay read by the header (a column map is a file of the
// machine), and UIDs random.
ConvertOptions OptionsFor(bool raw) {
  ConvertOptions options;
  options.rfc_escape = !raw;
  return options;
}

bool HasBody(const Request& req) {
  return req.has_header("Content-Length") || req.has_header("Transfer-Encoding");
}

class Api {
 public:
  explicit Api(ServeConfig config) : config_(std::move(config)) {}

  // ---- the parts around every request

  httplib::Server::HandlerResponse BeforeRouting(const Request& req, Response&) {
    RequestTrace& trace = CurrentTrace();
    trace.start = std::chrono::steady_clock::now();
    trace.started = true;
    trace.streamed = 0;
    // Every answer is whole: byte ranges of a card made anew for each
    // request mean nothing, and many ranges would multiply a large answer.
    // The request is the library's own object, handed over as const.
    const_cast<Request&>(req).ranges.clear();
    return httplib::Server::HandlerResponse::Unhandled;
  }

  void AfterRouting(const Request& req, Response& res) const {
    SetHeader(res, "X-Content-Type-Options", "nosniff");
    SetHeader(res, "Referrer-Policy", "no-referrer");
    SetHeader(res, "X-Frame-Options", "DENY");
    if (!res.has_header("Content-Security-Policy")) {
      SetHeader(res, "Content-Security-Policy", kDataPolicy);
    }
    // Cards and errors hold personal data: no cache keeps them.
    if (!res.has_header("Cache-Control")) SetHeader(res, "Cache-Control", "no-store");
    if (CorsAllowed(req)) {
      SetHeader(res, "Access-Control-Allow-Origin", config_.cors);
      SetHeader(res, "Access-Control-Expose-Headers",
                "Content-Disposition, X-QR-Version, X-QR-Error-Correction");
    }
    if (!config_.cors.empty() && config_.cors != "*") SetHeader(res, "Vary", "Origin");
  }

  // Errors the library found itself (a malformed request, a body over the
  // limit) get a JSON body like every other error.
  httplib::Server::HandlerResponse OnError(const Request& req, Response& res) const {
    if (!res.body.empty()) return httplib::Server::HandlerResponse::Unhandled;
    if (res.status == 400 && (req.method == "TRACE" || req.method == "CONNECT")) {
      const unsigned methods = MethodsOf(req.path);
      if (methods != 0) {
        SetHeader(res, "Allow", AllowOf(methods));
        SendError(res, 405, req.method + " is not allowed here");
        return httplib::Server::HandlerResponse::Handled;
      }
      SendError(res, 404, "no such path");
      return httplib::Server::HandlerResponse::Handled;
    }
    std::string what;
    switch (res.status) {
      case 400:
        what = "the request is malformed";
        break;
      case 404:
        what = "no such path";
        break;
      case 413:
        what = TooLarge();
        break;
      case 414:
        what = "the request target is too long";
        break;
      case 415:
        what = "the Content-Encoding of the body is not supported";
        break;
      case 416:
        what = "the Range header is malformed";
        break;
      default:
        what = res.status >= 500 ? "internal error" : "the request cannot be answered";
        break;
    }
    SendError(res, res.status, what);
    if (res.status == 413 || res.status == 415) SetHeader(res, "Connection", "close");
    return httplib::Server::HandlerResponse::Handled;
  }

  void OnException(const Request& req, Response& res, const std::exception_ptr& thrown) const {
    std::string what = "unknown exception";
    try {
      std::rethrow_exception(thrown);
    } catch (const std::bad_alloc&) {
      what = "out of memory";
    } catch (const std::exception& e) {
      what = e.what();
    } catch (...) {
    }
    std::fprintf(stderr, "qvvcard serve: %s %s: %s\n", LogSafe(req.method).c_str(),
                 LogSafe(req.path).c_str(), LogSafe(what, 300).c_str());
    res.headers.clear();
    SendError(res, 500, "internal error");
  }

  // ---- the methods

  void Get(const Request& req, Response& res) const {
    const unsigned methods = MethodsOf(req.path);
    if (methods == 0) return SendError(res, 404, "no such path");
    if (!(methods & kGet)) return NotAllowed(req, res, methods);
    if (req.path == "/healthz") {
      res.status = 200;
      res.body = "ok\n";
      SetHeader(res, "Content-Type", "text/plain; charset=utf-8");
      return;
    }
    if (req.path == "/v1/card") {
      std::string card, name;
      if (MakeCard(req, res, nullptr, &name, card)) SendCard(res, std::move(card), name);
      return;
    }
    if (req.path == "/v1/qr.png" || req.path == "/v1/qr.svg") {
      std::string card;
      if (MakeCard(req, res, nullptr, nullptr, card)) SendQr(res, card, req.path == "/v1/qr.png");
      return;
    }
    const PageFile* file = FindPageFile(req.path);
    res.status = 200;
    res.body.assign(file->body);
    SetHeader(res, "Content-Type", std::string(file->content_type));
    SetHeader(res, "Cache-Control", "no-cache");
    if (file->content_type.starts_with("text/html")) {
      SetHeader(res, "Content-Security-Policy", kPagePolicy);
      SetHeader(res, "Cross-Origin-Opener-Policy", "same-origin");
    }
  }

  void Post(const Request& req, Response& res, const ContentReader& reader) const {
    const unsigned methods = MethodsOf(req.path);
    if (methods == 0) return Refuse(req, res, 404, "no such path");
    if (!(methods & kPost)) return NotAllowed(req, res, methods);

    const MediaType type = ParseMediaType(req.get_header_value("Content-Type"));
    const bool qr = req.path == "/v1/qr.png" || req.path == "/v1/qr.svg";
    std::string format;  // of /v1/cards
    if (req.path == "/v1/cards") {
      if (type.type == "text/csv") {
        format = "csv";
      } else if (type.type == "application/x-ndjson" || type.type == "application/jsonl") {
        format = "jsonl";
      } else {
        return Refuse(req, res, 415,
                      "send the records as text/csv, application/x-ndjson or application/jsonl");
      }
    } else if (type.type != "application/json" && !(qr && type.type == "text/vcard")) {
      return Refuse(req, res, 415,
                    qr ? "send the values as application/json, or the card as text/vcard"
                       : "send the values as application/json");
    }
    if (!type.Utf8()) return Refuse(req, res, 415, "the body must be UTF-8");

    std::string body;
    if (!ReadBody(req, res, reader, body)) return;

    if (!format.empty()) return MakeCards(req, res, std::move(body), format);
    std::string card, name;
    if (type.type == "text/vcard") {
      if (!CheckCardText(res, body)) return;
      card = std::move(body);
    } else if (!MakeCard(req, res, &body, qr ? nullptr : &name, card)) {
      return;
    }
    if (qr) return SendQr(res, card, req.path == "/v1/qr.png");
    SendCard(res, std::move(card), name);
  }

  // PUT, PATCH and DELETE: no path takes them; their bodies are not read.
  void Other(const Request& req, Response& res, const ContentReader&) const {
    const unsigned methods = MethodsOf(req.path);
    if (methods == 0) return Refuse(req, res, 404, "no such path");
    NotAllowed(req, res, methods);
  }

  void Options(const Request& req, Response& res) const {
    const unsigned methods = MethodsOf(req.path);
    if (methods == 0) return SendError(res, 404, "no such path");
    res.status = 204;
    SetHeader(res, "Allow", AllowOf(methods));
    if (CorsAllowed(req) && req.has_header("Access-Control-Request-Method")) {
      SetHeader(res, "Access-Control-Allow-Methods", AllowOf(methods));
      SetHeader(res, "Access-Control-Allow-Headers", "Content-Type, X-Raw-Values");
      SetHeader(res, "Access-Control-Max-Age", "600");
    }
  }

 private:
  bool CorsAllowed(const Request& req) const {
    if (config_.cors.empty() || !req.has_header("Origin")) return false;
    return config_.cors == "*" || req.get_header_value("Origin") == config_.cors;
  }

  std::string TooLarge() const {
    return "the body is larger than " + std::to_string(config_.max_body) + " bytes (--max-body)";
  }

  void NotAllowed(const Request& req, Response& res, unsigned methods) const {
    SetHeader(res, "Allow", AllowOf(methods));
    if (HasBody(req)) {
      SendErrorAndClose(res, 405, req.method + " is not allowed here");
    } else {
      SendError(res, 405, req.method + " is not allowed here");
    }
  }

  // An error answered before the body was read.
  static void Refuse(const Request& req, Response& res, int status, const std::string& error) {
    if (HasBody(req)) {
      SendErrorAndClose(res, status, error);
    } else {
      SendError(res, status, error);
    }
  }

  // Reads the request body, at most --max-body bytes (after any
  // Content-Encoding is undone); false after answering the refusal.
  bool ReadBody(const Request& req, Response& res, const ContentReader& reader,
                std::string& body) const {
    // Without Content-Length or Transfer-Encoding a request has no body.
    if (!HasBody(req)) return true;
    if (req.has_header("Transfer-Encoding")) {
      std::string coding = req.get_header_value("Transfer-Encoding");
      for (char& c : coding) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
      if (coding != "chunked") {
        SendErrorAndClose(res, 400, "the Transfer-Encoding of the body is not supported");
        return false;
      }
    }
    // A body sent in chunks, or compressed, shows its size only as it
    // comes: past the limit the rest is read and dropped, up to a bound, so
    // that the connection stays in step; beyond the bound reading stops.
    const std::size_t drain = 4 * config_.max_body + (std::size_t{1} << 20);
    std::size_t dropped = 0;
    bool over = false;
    const bool ok = reader([&](const char* data, std::size_t n) {
      if (!over && n <= config_.max_body - body.size()) {
        body.append(data, n);
        return true;
      }
      if (!over) std::string().swap(body);
      over = true;
      dropped += n;
      return dropped <= drain;
    });
    if (ok && !over) return true;
    if (over || res.status == 413) {
      SendErrorAndClose(res, 413, TooLarge());
    } else if (res.status == 415) {
      SendErrorAndClose(res, 415, "the Content-Encoding of the body is not supported");
    } else {
      SendErrorAndClose(res, 400, "the body could not be read");
    }
    return false;
  }

  // Whether the values of the request are to be escaped for card readers
  // (the default) or are escaped already: ?raw=1 or X-Raw-Values: 1. False
  // after answering a bad value.
  static bool ReadRaw(const Request& req, Response& res, bool& raw) {
    raw = false;
    const auto take = [&](const std::string& value, const char* field) {
      if (value == "1" || value == "true" || value == "yes") {
        raw = true;
      } else if (value == "0" || value == "false" || value == "no" || value.empty()) {
        raw = false;
      } else {
        SendError(res, 400, "expects 1 or 0, not " + Quoted(value), field);
        return false;
      }
      return true;
    };
    if (req.has_header("X-Raw-Values") &&
        !take(req.get_header_value("X-Raw-Values"), "X-Raw-Values")) {
      return false;
    }
    if (req.get_param_value_count("raw") > 1) {
      SendError(res, 400, "given twice", "raw");
      return false;
    }
    return !req.has_param("raw") || take(req.get_param_value("raw"), "raw");
  }

  // The card of the request's values: the query's (json_body null) or
  // those of the JSON object in json_body. name, when given, receives its
  // vCardFileName. False after answering why there is no card.
  static bool MakeCard(const Request& req, Response& res, const std::string* json_body,
                       std::string* name, std::string& card) {
    bool raw = false;
    if (!ReadRaw(req, res, raw)) return false;
    const ConvertOptions options = OptionsFor(raw);
    CardBuilder builder(options);
    builder.Begin(1);
    if (json_body != nullptr) {
      for (const auto& param : req.params) {
        if (param.first != "raw") {
          SendError(res, 400, "the values go into the body; the query holds only raw", param.first);
          return false;
        }
      }
      if (const auto bad = utf8::find_invalid(json_body->begin(), json_body->end());
          bad != json_body->end()) {
        SendError(res, 400, InvalidUtf8At(bad - json_body->begin()), {},
                  qv_VCard::kNoUnicodeTranslation);
        return false;
      }
      std::vector<JsonMember> members;
      std::string error;
      if (!ReadJsonObject(*json_body, members, error)) {
        SendError(res, 400, error);
        return false;
      }
      for (const JsonMember& m : members) {
        if (const qv_VCard::PropertyInfo* info = qv_VCard::FindProperty(m.key)) {
          builder.Set(*info, m.value);
        } else {
          builder.Fail(m.key, UnknownProperty(m.key), qv_VCard::kUnknownName);
        }
      }
    } else {
      for (const auto& [key, value] : req.params) {
        if (key == "raw") continue;
        const qv_VCard::PropertyInfo* info = qv_VCard::FindProperty(key);
        if (info == nullptr) {
          builder.Fail(key, UnknownProperty(key), qv_VCard::kUnknownName);
        } else if (const auto bad = utf8::find_invalid(value.begin(), value.end());
                   bad != value.end()) {
          builder.Fail(info->name, InvalidUtf8At(bad - value.begin()),
                       qv_VCard::kNoUnicodeTranslation);
        } else {
          builder.Set(*info, std::string_view(value));
        }
      }
    }
    if (builder.bad()) {
      const std::vector<RecordProblem>& problems = builder.problems();
      const auto described = [](const RecordProblem& p) {
        json item = {{"error", p.reason}, {"field", p.field}};
        if (p.status != qv_VCard::kOk) item["status"] = StatusHex(p.status);
        return item;
      };
      json body = described(problems[0]);
      if (problems.size() > 1) {
        json all = json::array();
        for (const RecordProblem& p : problems) all.push_back(described(p));
        body["problems"] = std::move(all);
      }
      SendJson(res, 400, body);
      return false;
    }
    if (!builder.Finish(card)) {
      const RecordProblem& p = builder.problems().back();
      SendError(res, 422, p.reason, p.field, p.status);
      return false;
    }
    if (name != nullptr) {
      qv_VCard::Text text;
      const qv_VCard::Status s = builder.card().get_vCardFileName(text);
      if (qv_VCard::Failed(s)) {
        SendError(res, 422, StatusMessage(s), "vCardFileName", s);
        return false;
      }
      if (!TextToUtf8(text, *name)) {
        SendError(res, 422, "not valid UTF-16", "vCardFileName");
        return false;
      }
    }
    return true;
  }

  static void SendCard(Response& res, std::string&& card, const std::string& name) {
    res.status = 200;
    res.body = std::move(card);
    SetHeader(res, "Content-Type", kCardType);
    SetHeader(res, "Content-Disposition", AttachmentDisposition(name));
  }

  // A card sent as text/vcard, for its QR code: UTF-8, from BEGIN:VCARD to
  // END:VCARD.
  static bool CheckCardText(Response& res, std::string_view text) {
    std::u16string scratch;
    std::size_t bad = 0;
    if (!Utf8ToText(text, scratch, &bad)) {
      SendError(res, 400, InvalidUtf8At(static_cast<std::ptrdiff_t>(bad)), "vCard",
                qv_VCard::kNoUnicodeTranslation);
      return false;
    }
    std::string_view end = text;
    if (end.ends_with("\r\n")) end.remove_suffix(2);
    if (!text.starts_with("BEGIN:VCARD\r\n") || !end.ends_with("\r\nEND:VCARD")) {
      SendError(res, 400, "expected one card, from BEGIN:VCARD to END:VCARD, lines ending in CR LF",
                "vCard");
      return false;
    }
    return true;
  }

  static void SendQr(Response& res, const std::string& card, bool png) {
    const std::optional<QrCode> code = EncodeQr(card);
    if (!code) {
      SendError(res, 422,
                "the card is too long for a QR code: " + std::to_string(card.size()) +
                    " bytes, and a QR code holds at most " + std::to_string(kQrMaxBytes),
                "vCard");
      return;
    }
    res.status = 200;
    res.body = png ? QrPng(*code) : QrSvg(*code);
    SetHeader(res, "Content-Type", png ? "image/png" : "image/svg+xml");
    SetHeader(res, "X-QR-Version", std::to_string(code->version));
    SetHeader(res, "X-QR-Error-Correction", std::string(1, LevelLetter(code->level)));
  }

  // The records of one body, opened for reading.
  struct Records {
    Records(std::string_view body, const std::string& format, const ConvertOptions& options)
        : in(body), source(OpenRecords(in, format, "the request body", options)) {}
    InputStream in;
    std::unique_ptr<RecordSource> source;
  };

  // POST /v1/cards: every record is made into its card first; only when all
  // are good are the cards sent. Cards that do not fit into the held answer
  // (eight times --max-body) are made again as they are sent.
  void MakeCards(const Request& req, Response& res, std::string body,
                 const std::string& format) const {
    bool raw = false;
    if (!ReadRaw(req, res, raw)) return;
    for (const auto& param : req.params) {
      if (param.first != "raw") {
        return SendError(res, 400, "the records go into the body; the query holds only raw",
                         param.first);
      }
    }
    const ConvertOptions options = OptionsFor(raw);
    std::unique_ptr<Records> records;
    try {
      records = std::make_unique<Records>(body, format, options);
    } catch (const InputRefused& refused) {
      return SendError(res, 400, refused.what());
    }
    CardBuilder builder(options);
    const std::size_t hold = 8 * config_.max_body;
    std::string cards, card;
    bool held = true;
    std::uint64_t count = 0, bad = 0;
    json listed = json::array();
    while (records->source->Next(builder)) {
      ++count;
      if (builder.Finish(card)) {
        if (!held) continue;
        if (card.size() > hold - cards.size()) {
          held = false;
          std::string().swap(cards);
        } else {
          cards += card;
        }
        continue;
      }
      ++bad;
      for (const RecordProblem& p : builder.problems()) {
        if (listed.size() == kMaxListedRecords) break;
        json item = {{"record", p.record}, {"field", p.field}, {"reason", p.reason}};
        if (p.status != qv_VCard::kOk) item["status"] = StatusHex(p.status);
        listed.push_back(std::move(item));
      }
    }
    if (bad > 0) {
      json answer = {{"error", std::to_string(bad) + " of " + std::to_string(count) +
                                   (bad == 1 ? " records cannot become a card"
                                             : " records cannot become cards") +
                                   "; no card was made"},
                     {"bad_records", bad},
                     {"records", std::move(listed)}};
      return SendJson(res, 422, answer);
    }
    res.status = 200;
    if (held) {
      res.body = std::move(cards);
      SetHeader(res, "Content-Type", kCardType);
      return;
    }
    // Too many cards to hold: made once more, a piece at a time.
    struct Stream {
      Stream(std::string_view b, const std::string& format, const ConvertOptions& o)
          : options(o), records(b, format, options), builder(options) {}
      ConvertOptions options;
      Records records;  // holds its own copy of the body
      CardBuilder builder;
    };
    auto stream = std::make_shared<Stream>(body, format, options);
    std::string().swap(body);
    res.set_chunked_content_provider(
        kCardType, [stream](std::size_t, httplib::DataSink& sink) noexcept {
          try {
            std::string piece, one;
            bool more = true;
            while (piece.size() < kPieceBytes &&
                   (more = stream->records.source->Next(stream->builder))) {
              // The records were all good a moment ago.
              if (!stream->builder.Finish(one)) return false;
              piece += one;
            }
            if (!piece.empty()) {
              CurrentTrace().streamed += piece.size();
              if (!sink.write(piece.data(), piece.size())) return false;
            }
            if (!more) sink.done();
            return true;
          } catch (...) {
            return false;  // the connection is closed; the client sees a cut answer
          }
        });
  }

  ServeConfig config_;
};

}  // namespace

void InstallRoutes(httplib::Server& server, const ServeConfig& config) {
  auto api = std::make_shared<Api>(config);
  server.set_pre_routing_handler(
      [api](const Request& req, Response& res) { return api->BeforeRouting(req, res); });
  server.set_post_routing_handler(
      [api](const Request& req, Response& res) { api->AfterRouting(req, res); });
  server.set_error_handler(httplib::Server::HandlerWithResponse(
      [api](const Request& req, Response& res) { return api->OnError(req, res); }));
  server.set_exception_handler([api](const Request& req, Response& res, std::exception_ptr thrown) {
    api->OnException(req, res, thrown);
  });
  // Every path goes through the one router; the library serves no file.
  const std::string any = ".*";
  server.Get(any, [api](const Request& req, Response& res) { api->Get(req, res); });
  server.Options(any, [api](const Request& req, Response& res) { api->Options(req, res); });
  server.Post(any, [api](const Request& req, Response& res, const ContentReader& reader) {
    api->Post(req, res, reader);
  });
  const auto other = [api](const Request& req, Response& res, const ContentReader& reader) {
    api->Other(req, res, reader);
  };
  server.Put(any, other);
  server.Patch(any, other);
  server.Delete(any, other);
}

}  // namespace qvvcard
