#include "serve/api_error.hpp"

#include <nlohmann/json.hpp>

#include "bridge/status.hpp"

namespace qvvcard {

namespace {

using json = nlohmann::json;

http::Response JsonAnswer(int http_status, const json& body) {
  http::Response res;
  res.status = http_status;
  res.body = body.dump(-1, ' ', false, json::error_handler_t::replace);
  res.body += '\n';
  res.headers.push_back({"Content-Type", "application/json"});
  return res;
}

json Described(const Problem& p) {
  json item = {{"error", Describe(p)}, {"field", p.field}};
  if (p.status != qv_VCard::kOk) item["status"] = qv_VCard::bridge::StatusHex(p.status);
  return item;
}

}  // namespace

http::Response ErrorAnswer(int http_status, const std::string& error, const std::string& field,
                           qv_VCard::Status status) {
  json body = {{"error", error}};
  if (!field.empty()) body["field"] = field;
  if (status != qv_VCard::kOk) body["status"] = qv_VCard::bridge::StatusHex(status);
  return JsonAnswer(http_status, body);
}

http::Response ProblemsAnswer(int http_status, const std::vector<Problem>& problems) {
  json body = Described(problems.front());
  if (problems.size() > 1) {
    json all = json::array();
    for (const Problem& p : problems) all.push_back(Described(p));
    body["problems"] = std::move(all);
  }
  return JsonAnswer(http_status, body);
}

http::Response RecordsAnswer(int http_status, const std::string& error, std::uint64_t bad_records,
                             const std::vector<RecordProblem>& problems) {
  json listed = json::array();
  for (const RecordProblem& p : problems) {
    json item = {{"record", p.record}};
    item.update(Described(p.problem));
    listed.push_back(std::move(item));
  }
  return JsonAnswer(
      http_status,
      {{"error", error}, {"bad_records", bad_records}, {"problems", std::move(listed)}});
}

void Refuse(int http_status, const std::string& error, const std::string& field,
            qv_VCard::Status status) {
  throw RequestRefused{ErrorAnswer(http_status, error, field, status)};
}

}  // namespace qvvcard
