// POST /v1/cards: the cards of many records (CSV, JSON Lines or vCards),
// or the records as a table (?to=csv, ?to=jsonl), or every record that
// cannot become a card.
#include <memory>
#include <optional>
#include <string>

#include "common/text.hpp"
#include "input/encoding.hpp"
#include "input/input_stream.hpp"
#include "input/record_source.hpp"
#include "output/table_writer.hpp"
#include "serve/api_error.hpp"
#include "serve/endpoints.hpp"
#include "serve/request_values.hpp"

namespace qvvcard {

namespace {

constexpr const char* kCardType = "text/vcard; charset=utf-8";
constexpr std::string_view kWords[] = {"raw", "to"};
// At most this many problems are listed in one answer.
constexpr std::size_t kMaxListedProblems = 1000;
// Cards that do not fit into the held answer are sent in pieces of about
// this size.
constexpr std::size_t kPieceBytes = std::size_t{64} << 10;

// The records of one body, opened for reading. Only escaping is the
// request's to choose: columns stay read by the header (a column map is a
// file of the machine), and UIDs random.
struct Records {
  Records(std::string body, const std::string& format, bool raw, const std::string& vcf_charset)
      : text(std::move(body)), in(text), builder(!raw) {
    options.rfc_escape = !raw;
    // The answer is made whole before it is sent: the records are read once.
    options.check_keys_first = false;
    options.vcf_charset = vcf_charset;
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
  if (type == "text/vcard") return "vcf";
  return type == "text/csv" ? "csv" : "jsonl";
}

// The table asked for (?to=csv or ?to=jsonl); nullopt for cards.
std::optional<TableFormat> TableOf(const QueryPairs& query) {
  std::optional<TableFormat> to;
  bool seen = false;
  for (const auto& [name, value] : query) {
    if (name != "to") continue;
    if (seen) Refuse(400, Describe(MakeProblem(ProblemKind::GivenTwice, "to")), "to");
    seen = true;
    if (value == "csv") {
      to = TableFormat::Csv;
    } else if (value == "jsonl") {
      to = TableFormat::Jsonl;
    } else if (!value.empty()) {
      Refuse(400, "expects csv or jsonl, not " + Quoted(value), "to");
    }
  }
  return to;
}

// Printable ASCII only, for a header made of the input's words.
std::string HeaderSafe(std::string_view text) {
  std::string out;
  for (const char c : text) out += c >= 0x20 && c < 0x7F ? c : '?';
  return out;
}

}  // namespace

http::Response CardsAnswer(const http::Request& req, const CardsLimits& limits) {
  const QueryPairs query = http::ParseQuery(req.query);
  const bool raw = RawValues(req, query);
  OnlyInQuery(query, "records", kWords);
  const std::optional<TableFormat> table_format = TableOf(query);
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
  // UTF-16 is read as UTF-8 by every reader, and other encodings too but
  // by the vCard reader: a card names a charset of its own where it holds
  // other text, value by value, and the body's is that of the others.
  const bool utf16 = encoding == Encoding::Utf16le || encoding == Encoding::Utf16be;
  const bool decode = utf16 || (encoding != Encoding::Utf8 && format != "vcf");
  try {
    if (decode) DecodeToUtf8(req.body, encoding, "the request body", body);
    records = std::make_unique<Records>(decode ? std::move(body) : req.body, format, raw,
                                        decode ? "UTF-8" : IconvNameOf(encoding));
  } catch (const InputRefused& refused) {
    Refuse(400, refused.what());
  }
  std::optional<TableWriter> table;
  if (table_format) {
    table.emplace(*table_format);
    records->builder.RecordValues(true);
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
      if (table) {
        table->Add(builder.values());
        continue;
      }
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
  res.headers.push_back({"Content-Type", !table ? kCardType
                                         : *table_format == TableFormat::Csv
                                             ? "text/csv; charset=utf-8"
                                             : "application/x-ndjson"});
  res.headers.push_back({"X-Cards", std::to_string(count)});
  std::string left_out;
  for (std::size_t i = 0; i < qv_VCard::slots::kTypedSlots.size(); ++i) {
    if (builder.untyped_count(i) == 0) continue;
    if (!left_out.empty()) left_out += ", ";
    left_out += CardBuilder::SlotName(i) + " (" + Plural(builder.untyped_count(i), "card") + ")";
  }
  if (!left_out.empty()) res.headers.push_back({"X-Slots-Left-Out", left_out});
  // What the cards of a vCard file had no place for, as batch says it.
  // A body may bring any number of names of its own: the first few are
  // named.
  constexpr std::size_t kNamed = 20;
  std::string unplaced;
  const std::vector<std::string> lines = records->source->Unplaced();
  for (std::size_t i = 0; i < lines.size() && i < kNamed; ++i) {
    if (!unplaced.empty()) unplaced += "; ";
    unplaced += HeaderSafe(lines[i]);
  }
  if (lines.size() > kNamed) unplaced += "; and " + std::to_string(lines.size() - kNamed) + " more";
  if (!unplaced.empty()) res.headers.push_back({"X-Values-Left-Out", unplaced});
  if (table) {
    // A table is about as large as the body it was read from: made whole.
    std::string piece;
    while (table->Take(piece, true)) res.body += piece;
    return res;
  }
  if (held) {
    res.body = std::move(cards);
    return res;
  }
  // Too many cards to hold: made once more, a piece at a time.
  auto again = std::make_shared<Records>(records->text, format, raw, records->options.vcf_charset);
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
