#include "serve/request_values.hpp"

#include "common/text.hpp"
#include "serve/api_error.hpp"

namespace qvvcard {

namespace {

bool Word(const std::string& value, const char* field) {
  if (value == "1" || value == "true" || value == "yes") return true;
  if (value == "0" || value == "false" || value == "no" || value.empty()) return false;
  Refuse(400, "expects 1 or 0, not " + Quoted(value), field);
}

}  // namespace

bool RawValues(const http::Request& req, const QueryPairs& query) {
  bool raw = false;
  if (const std::string* header = req.Find("X-Raw-Values")) raw = Word(*header, "X-Raw-Values");
  bool seen = false;
  for (const auto& [name, value] : query) {
    if (name != "raw") continue;
    if (seen) Refuse(400, Describe(MakeProblem(ProblemKind::GivenTwice, "raw")), "raw");
    seen = true;
    raw = Word(value, "raw");
  }
  return raw;
}

void OnlyRawInQuery(const QueryPairs& query, const char* what) {
  for (const auto& [name, value] : query) {
    if (name != "raw") {
      Refuse(400, std::string("the ") + what + " go into the body; the query holds only raw", name);
    }
  }
}

MediaType BodyType(const http::Request& req) {
  const std::string* type = req.Find("Content-Type");
  return ParseMediaType(type != nullptr ? *type : std::string());
}

}  // namespace qvvcard
