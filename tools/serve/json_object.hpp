// One JSON object of property names and values, as a request body brings
// it. Values are read as a line of JSON Lines is: strings are Text,
// booleans Bool, integers Integer, null Null, anything else Other with what
// it is ("an array"); every number also keeps its digits in text, for a
// text property to take as written.
#ifndef QVVCARD_SERVE_JSON_OBJECT_HPP
#define QVVCARD_SERVE_JSON_OBJECT_HPP

#include <string>
#include <string_view>
#include <vector>

#include "input/values.hpp"

namespace qvvcard {

struct JsonMember {
  std::string key;
  FieldValue value;
};

// The members of the object in body, in their order, duplicates included;
// false with the reason in error when body is not exactly one JSON object
// (malformed JSON, invalid UTF-8, another value, or text after it).
bool ReadJsonObject(std::string_view body, std::vector<JsonMember>& members, std::string& error);

}  // namespace qvvcard

#endif
