// The answers of the API: the card of one set of values (GET and POST
// /v1/card), its QR code (/v1/qr.png, /v1/qr.svg) and the cards of many
// records (POST /v1/cards). Each returns its answer or throws
// RequestRefused.
#ifndef QVVCARD_SERVE_ENDPOINTS_HPP
#define QVVCARD_SERVE_ENDPOINTS_HPP

#include <cstddef>

#include "serve/http_server.hpp"

namespace qvvcard {

// How many bytes of cards an answer of /v1/cards holds before it sends
// them in pieces.
struct CardsLimits {
  std::size_t held_bytes = std::size_t{8} << 20;
};

http::Response CardAnswer(const http::Request& req);
http::Response QrAnswer(const http::Request& req, bool png);
http::Response CardsAnswer(const http::Request& req, const CardsLimits& limits);

}  // namespace qvvcard

#endif
