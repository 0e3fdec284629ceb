// The one shape of every error the server answers, as JSON:
//   {"error": "...", "field": "...", "status": "0x80020006",
//    "problems": [{"record": 2, "field": "...", "error": "...", "status": "..."}, ...],
//    "bad_records": 2}
// error always; field and status where one value or the card's read is at
// fault; problems where there is more than one problem or the problems
// belong to records (then with their record numbers); bad_records for
// POST /v1/cards.
#ifndef QVVCARD_SERVE_API_ERROR_HPP
#define QVVCARD_SERVE_API_ERROR_HPP

#include <cstdint>
#include <string>
#include <vector>

#include "common/problem.hpp"
#include "serve/http_server.hpp"

namespace qvvcard {

http::Response ErrorAnswer(int http_status, const std::string& error, const std::string& field = {},
                           qv_VCard::Status status = qv_VCard::kOk);
// The problems of one record (a request's values): the first one's words at
// the top, all of them under problems when there are several.
http::Response ProblemsAnswer(int http_status, const std::vector<Problem>& problems);

// A problem of one of many records.
struct RecordProblem {
  std::uint64_t record;
  Problem problem;
};
http::Response RecordsAnswer(int http_status, const std::string& error, std::uint64_t bad_records,
                             const std::vector<RecordProblem>& problems);

// Thrown where a request is refused as a whole; the router sends answer.
struct RequestRefused {
  http::Response answer;
};
[[noreturn]] void Refuse(int http_status, const std::string& error, const std::string& field = {},
                         qv_VCard::Status status = qv_VCard::kOk);

}  // namespace qvvcard

#endif
