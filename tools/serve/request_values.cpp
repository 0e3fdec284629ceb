#include "serve/request_values.hpp"

#include <algorithm>

#include "common/text.hpp"
#include "serve/api_error.hpp"

namespace qvvcard {

bool Word(const std::string& value, const char* field) {
  if (value == "1" || value == "true" || value == "yes") return true;
  if (value == "0" || value == "false" || value == "no" || value.empty()) return false;
  Refuse(400, "expects 1 or 0, not " + Quoted(value), field);
}

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

void OnlyInQuery(const QueryPairs& query, const char* what,
                 std::span<const std::string_view> words) {
  for (const auto& [name, value] : query) {
    if (std::find(words.begin(), words.end(), name) != words.end()) continue;
    std::string allowed;
    for (std::size_t i = 0; i < words.size(); ++i) {
      if (i > 0) allowed += i + 1 == words.size() ? " and " : ", ";
      allowed += words[i];
    }
    Refuse(400,
           std::string("the ") + what + (std::string_view(what) == "card" ? " goes" : " go") +
               " into the body; the query holds only " + allowed,
           name);
  }
}

MediaType BodyType(const http::Request& req) {
  const std::string* type = req.Find("Content-Type");
  return ParseMediaType(type != nullptr ? *type : std::string());
}

}  // namespace qvvcard
