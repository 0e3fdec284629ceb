// What a request asks for, read the way every endpoint reads it: whether its
// values are escaped already (?raw=1 or X-Raw-Values: 1), its query, and
// its body's media type.
#ifndef QVVCARD_SERVE_REQUEST_VALUES_HPP
#define QVVCARD_SERVE_REQUEST_VALUES_HPP

#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "serve/http_server.hpp"
#include "serve/http_text.hpp"

namespace qvvcard {

using QueryPairs = std::vector<std::pair<std::string, std::string>>;

// Whether the values are to be taken as escaped already; refuses (400) a
// value other than 1, true, yes, 0, false, no or empty, and raw given twice.
bool RawValues(const http::Request& req, const QueryPairs& query);

// Refuses (400) a query that holds a name other than those of words, for
// requests whose values go into the body; what names them ("values",
// "records").
void OnlyInQuery(const QueryPairs& query, const char* what,
                 std::span<const std::string_view> words);

// A yes-or-no value of the query: 1, true, yes or 0, false, no, empty;
// anything else is refused (400) naming field.
bool Word(const std::string& value, const char* field);

// The media type of the body.
MediaType BodyType(const http::Request& req);

}  // namespace qvvcard

#endif
