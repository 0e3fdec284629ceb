// qvvcard serve's command line.
#include <CLI/CLI.hpp>

#include <string>

#include "cli/commands.hpp"
#include "cli/decimal_option.hpp"
#include "serve/serve.hpp"

namespace qvvcard {

namespace {

constexpr const char* kServeNotes =
    R"text(Serves, on ADDR:N (127.0.0.1:8080 by default, this machine only):
  /                   a page to make a card and its QR code
  /v1/card            GET ?Name=Value&...  or POST a JSON object: the card
  /v1/cards           POST CSV (text/csv), JSON Lines (application/x-ndjson)
                      or vCards (text/vcard): all cards, or with ?to=csv or
                      ?to=jsonl the records as a table; or a 422 listing
                      every bad record
  /v1/qr.png, .svg    GET ?Name=Value&...  or POST a JSON object (or a card as
                      text/vcard): a QR code of the card, without its PRODID,
                      REV and UID unless ?full=1
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
  curl -H 'Content-Type: text/vcard' --data-binary @phone.vcf \
      'http://127.0.0.1:8080/v1/cards?to=csv'

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

}  // namespace

CLI::App* AddServeCommand(CLI::App& app, ServeOptions& options) {
  CLI::App* sub = app.add_subcommand(
      "serve", "Serve cards and QR codes of cards over HTTP, with a page to make them");
  sub->footer(kServeNotes);
  sub->add_option("--bind", options.bind,
                  "Address to listen on; default 127.0.0.1 (this machine only); 0.0.0.0 or :: "
                  "for every network")
      ->type_name("ADDR");
  AddDecimalOption(sub, "--port", options.port, 0, 65535,
                   "TCP port, 0 to 65535; default 8080; 0 takes a free one")
      ->type_name("N");
  AddDecimalOption(sub, "--threads", options.threads, 1u, 1024u,
                   "Threads serving the connections, 1 to 1024 (also the requests handled at "
                   "once); default 16")
      ->type_name("N");
  AddDecimalOption(sub, "--max-body", options.max_body, std::size_t{1}, std::size_t{1} << 30,
                   "The largest request body, in bytes, 1 to 1073741824; default 1048576 (1 MiB)")
      ->type_name("BYTES");
  sub->add_option("--cors", options.cors,
                  "Let pages of ORIGIN (https://example.org, or * for any) call the API")
      ->type_name("ORIGIN")
      ->check(CLI::Validator(CheckOrigin, std::string()));
  sub->add_flag("--quiet,-q", options.quiet, "No log line per request");
  return sub;
}

}  // namespace qvvcard
