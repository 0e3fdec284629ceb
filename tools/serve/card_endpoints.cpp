// GET and POST /v1/card, and the QR codes of a card.
#include <algorithm>
#include <span>
#include <string>
#include <string_view>

#include "bridge/status.hpp"
#include "bridge/utf.hpp"
#include "common/problem.hpp"
#include "input/card_builder.hpp"
#include "input/json_object.hpp"
#include "output/file_names.hpp"
#include "serve/api_error.hpp"
#include "serve/endpoints.hpp"
#include "serve/http_text.hpp"
#include "serve/qr.hpp"
#include "serve/request_values.hpp"

namespace qvvcard {

namespace {

constexpr const char* kCardType = "text/vcard; charset=utf-8";

struct MadeCard {
  std::string text;      // UTF-8, its last line ending in CR LF
  std::string name;      // its file name
  std::string left_out;  // the slots the card left out ("Tel1, Adr2")
};

// Names the query of a QR code may hold besides the values.
constexpr std::string_view kQrWords[] = {"raw", "full"};
constexpr std::string_view kCardWords[] = {"raw"};

// The card of the request's values: the query's, or those of the JSON
// object in the body. words are the query's names that are no values.
MadeCard MakeCard(const http::Request& req, bool from_body,
                  std::span<const std::string_view> words = kCardWords) {
  const QueryPairs query = http::ParseQuery(req.query);
  CardBuilder builder(!RawValues(req, query));
  builder.Begin(1);
  if (from_body) {
    OnlyInQuery(query, "values", words);
    std::size_t bad = 0;
    std::u16string scratch;
    if (!qv_VCard::bridge::Utf8ToText(req.body, scratch, &bad)) {
      const Problem p = MakeProblem(ProblemKind::InvalidUtf8, {}, std::to_string(bad + 1));
      Refuse(400, Describe(p), {}, p.status);
    }
    if (req.body.find_first_not_of(" \t\r\n") == std::string::npos) {
      Refuse(400, "the body is empty: it must be one JSON object");
    }
    std::string text = req.body;
    JsonObjectParser parser("the body");
    JsonObject object;
    parser.Parse(text, object);
    if (!object.error().empty()) Refuse(400, object.error());
    for (const JsonItem& item : object.items()) {
      if (const qv_VCard::PropertyInfo* info = qv_VCard::FindProperty(item.key)) {
        builder.Set(*info, item.value);
      } else if (IsGeoField(item.key)) {
        builder.SetGeo(item.value);
      } else {
        builder.Fail(MakeProblem(ProblemKind::UnknownProperty, item.key));
      }
    }
  } else {
    for (const auto& [name, value] : query) {
      if (std::find(words.begin(), words.end(), name) != words.end()) continue;
      if (const qv_VCard::PropertyInfo* info = qv_VCard::FindProperty(name)) {
        builder.Set(*info, std::string_view(value));
      } else if (IsGeoField(name)) {
        builder.SetGeo(value);
      } else {
        builder.Fail(MakeProblem(ProblemKind::UnknownProperty, name));
      }
    }
  }
  if (builder.bad()) throw RequestRefused{ProblemsAnswer(400, builder.problems())};
  MadeCard card;
  if (!builder.Finish(card.text)) {
    // The card read's own failure is the card's (422); a position without
    // its hemisphere is the values' (400).
    const bool read = IsCardProblem(builder.problems().front().kind);
    throw RequestRefused{ProblemsAnswer(read ? 422 : 400, builder.problems())};
  }
  for (std::size_t i = 0; i < qv_VCard::slots::kTypedSlots.size(); ++i) {
    if (((builder.untyped() >> i) & 1) == 0) continue;
    if (!card.left_out.empty()) card.left_out += ", ";
    card.left_out += CardBuilder::SlotName(i);
  }
  // The name batch gives the card in a folder.
  card.name = CardFileNameOf(builder.card());
  return card;
}

// A card sent as text/vcard, for its QR code: UTF-8 without NUL, one card
// from BEGIN:VCARD to END:VCARD.
void CheckCardText(std::string_view text) {
  std::u16string scratch;
  std::size_t bad = 0;
  if (!qv_VCard::bridge::Utf8ToText(text, scratch, &bad)) {
    const Problem p = MakeProblem(ProblemKind::InvalidUtf8, "vCard", std::to_string(bad + 1));
    Refuse(400, Describe(p), "vCard", p.status);
  }
  if (const std::size_t nul = text.find('\0'); nul != std::string_view::npos) {
    Refuse(400, "the card holds a NUL byte (byte " + std::to_string(nul + 1) + ")", "vCard");
  }
  std::string_view end = text;
  if (end.ends_with("\r\n")) end.remove_suffix(2);
  const char* kOne = "expected one card, from BEGIN:VCARD to END:VCARD, lines ending in CR LF";
  if (!text.starts_with("BEGIN:VCARD\r\n") || !end.ends_with("\r\nEND:VCARD")) {
    Refuse(400, kOne, "vCard");
  }
  // A second card inside, which a scanner would take for part of the first.
  if (end.find("\nBEGIN:VCARD\r") != std::string_view::npos ||
      end.substr(0, end.size() - 9).find("\nEND:VCARD\r") != std::string_view::npos) {
    Refuse(400, kOne + std::string("; this holds more than one"), "vCard");
  }
}

}  // namespace

http::Response CardAnswer(const http::Request& req) {
  MadeCard card = MakeCard(req, req.method == "POST");
  http::Response res;
  res.body = std::move(card.text);
  res.headers.push_back({"Content-Type", kCardType});
  res.headers.push_back({"Content-Disposition", AttachmentDisposition(card.name)});
  if (!card.left_out.empty()) res.headers.push_back({"X-Slots-Left-Out", card.left_out});
  return res;
}

http::Response QrAnswer(const http::Request& req, bool png) {
  std::string card;
  const QueryPairs query = http::ParseQuery(req.query);
  bool full = false;
  for (const auto& [name, value] : query) {
    if (name == "full") full = Word(value, "full");
  }
  if (req.method == "POST" && BodyType(req).type == "text/vcard") {
    OnlyInQuery(query, "card", kQrWords);
    CheckCardText(req.body);
    card = req.body;
  } else {
    card = MakeCard(req, req.method == "POST", kQrWords).text;
  }
  // A scanner needs no product, revision or identifier: the code stays
  // small (full=1 keeps them).
  if (!full) card = WithoutStamps(card);
  const std::optional<QrCode> code = EncodeQr(card);
  if (!code) {
    Refuse(422,
           "the card is too long for a QR code: " + std::to_string(card.size()) +
               " bytes, and a QR code holds at most " + std::to_string(kQrMaxBytes),
           "vCard");
  }
  http::Response res;
  res.body = png ? QrPng(*code) : QrSvg(*code);
  res.headers.push_back({"Content-Type", png ? "image/png" : "image/svg+xml"});
  res.headers.push_back({"X-QR-Version", std::to_string(code->version)});
  res.headers.push_back({"X-QR-Error-Correction", std::string(1, LevelLetter(code->level))});
  return res;
}

}  // namespace qvvcard
