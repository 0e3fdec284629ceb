// POST /v1/cards: the cards of many records, or every record that cannot
// become one.
#include <memory>
#include <string>

#include "common/text.hpp"
#include "input/encoding.hpp"
#include "input/input_stream.hpp"
#include "input/record_source.hpp"
#include "serve/api_error.hpp"
#include "serve/endpoints.hpp"
#include "serve/request_values.hpp"

namespace qvvcard {

namespace {

constexpr const char* kCardType = "text/vcard; charset=utf-8";
// At most this many problems are listed in one answer.
constexpr std::size_t kMaxListedProblems = 1000;
// Cards that do not fit into the held answer are sent in pieces of about
// this size.
constexpr std::size_t kPieceBytes = std::size_t{64} << 10;

// The records of one body, opened for reading. Only escaping is the
// request's to choose: columns stay read by the header (a column map is a
// file of the machine), and UIDs random.
struct Records {
  Records(std::string body, const std::string& format, bool raw)
      : text(std::move(body)), in(text), builder(!raw) {
    options.rfc_escape = !raw;
    // The answer is made whole before it is sent: the records are read once.
    options.check_keys_first = false;
    source = OpenRecords(in, format, "the request body", options);
  }
  std::string text;
  ConvertOptions options;
  InputStream in;
  CardBuilder builder;
  std::unique_ptr<RecordSource> source;
};

std::string FormatOf(const http::Request& req) {
  const std::string type = BodyType(req).type;
  return type == "text/csv" ? "csv" : "jsonl";
}

}  // namespace

http::Response CardsAnswer(const http::Request& req, const CardsLimits& limits) {
  const QueryPairs query = http::ParseQuery(req.query);
  const bool raw = RawValues(req, query);
  OnlyRawInQuery(query, "records");
  const std::string format = FormatOf(req);
  // The charset of the body, or UTF-16 by its byte-order mark, as batch
  // reads files.
  const MediaType type = BodyType(req);
  std::optional<Encoding> given;
  if (type.has_charset) given = EncodingNamed(type.charset);
  InputStream head(std::string_view(req.body).substr(0, 2));
  const Encoding encoding = EncodingOf(head, given);
  std::string body;
  std::unique_ptr<Records> records;
  try {
    if (encoding != Encoding::Utf8) DecodeToUtf8(req.body, encoding, "the request body", body);
    records = std::make_unique<Records>(encoding != Encoding::Utf8 ? std::move(body) : req.body,
                                        format, raw);
  } catch (const InputRefused& refused) {
    Refuse(400, refused.what());
  }
  // Every record is made into its card first; only when all are good are
  // the cards sent. Cards that do not fit into the held answer are made
  // again as they are sent.
  std::string cards, card;
  bool held = true;
  std::uint64_t count = 0, bad = 0;
  std::vector<RecordProblem> listed;
  CardBuilder& builder = records->builder;
  while (true) {
    try {
      if (!records->source->Next(builder)) break;
    } catch (const InputRefused& refused) {
      Refuse(400, refused.what());
    }
    ++count;
    if (builder.Finish(card)) {
      if (!held) continue;
      if (card.size() > limits.held_bytes - cards.size()) {
        held = false;
        std::string().swap(cards);
      } else {
        cards += card;
      }
      continue;
    }
    ++bad;
    for (const Problem& p : builder.problems()) {
      if (listed.size() == kMaxListedProblems) break;
      listed.push_back({builder.record(), p});
    }
  }
  if (bad > 0) {
    throw RequestRefused{RecordsAnswer(422,
                                       std::to_string(bad) + " of " + Plural(count, "record") +
                                           " cannot become " + (bad == 1 ? "a card" : "cards") +
                                           "; no card was made",
                                       bad, listed)};
  }
  http::Response res;
  res.headers.push_back({"Content-Type", kCardType});
  res.headers.push_back({"X-Cards", std::to_string(count)});
  std::string left_out;
  for (std::size_t i = 0; i < qv_VCard::slots::kTypedSlots.size(); ++i) {
    if (builder.untyped_count(i) == 0) continue;
    if (!left_out.empty()) left_out += ", ";
    left_out += CardBuilder::SlotName(i) + " (" + Plural(builder.untyped_count(i), "card") + ")";
  }
  if (!left_out.empty()) res.headers.push_back({"X-Slots-Left-Out", left_out});
  if (held) {
    res.body = std::move(cards);
    return res;
  }
  // Too many cards to hold: made once more, a piece at a time.
  auto again = std::make_shared<Records>(records->text, format, raw);
  res.stream = [again](std::string& piece) {
    std::string one;
    while (piece.size() < kPieceBytes) {
      if (!again->source->Next(again->builder)) return false;
      // The records were all good a moment ago.
      if (!again->builder.Finish(one)) throw std::runtime_error("a record changed");
      piece += one;
    }
    return true;
  };
  return res;
}

}  // namespace qvvcard
