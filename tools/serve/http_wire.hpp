// What the HTTP layer reads and writes on the wire besides the head: the
// content codings of request bodies and the pieces of an answer's head.
#ifndef QVVCARD_SERVE_HTTP_WIRE_HPP
#define QVVCARD_SERVE_HTTP_WIRE_HPP

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "serve/http_server.hpp"

namespace qvvcard::http {

// Undoes one gzip or deflate coding of body, the result bounded by max.
// Returns 0, or the status to refuse with (400 broken data, 413 too large).
int Inflate(std::string& body, bool gzip, std::uint64_t max, std::string& why);
// The codings named by Content-Encoding headers, in the order applied.
// Returns 0, or 415 with why.
int ReadCodings(const Request& r, std::vector<bool>& gzip, std::string& why);

// The Date header's value for now.
std::string HttpDate();
// Whether a header value may be sent as it is (no control character).
bool SafeValue(std::string_view v);
// Whether the layer writes a header itself (Connection, Content-Length, ...).
bool LayerHeader(std::string_view name);
// Whether a comma-separated list of tokens holds one (any case).
bool ListHas(std::string_view list, std::string_view token);
// n in hexadecimal, as chunk sizes are written.
std::string Hex(std::size_t n);
// A refusal when the application's own could not be had.
Response PlainRefusal(int status, std::string_view what);

}  // namespace qvvcard::http

#endif
