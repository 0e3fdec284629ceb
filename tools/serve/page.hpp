// The page at "/": its files, embedded in the binary at build time from
// tools/serve/page. The form's fields are made from the page's table
// (page_fields.hpp) and put in place of index.html's marker once, on first
// use.
#ifndef QVVCARD_SERVE_PAGE_HPP
#define QVVCARD_SERVE_PAGE_HPP

#include <string_view>

namespace qvvcard {

struct PageFile {
  std::string_view body;
  std::string_view content_type;
};

// The file served at url ("/", "/page.js", ...), or nullptr.
const PageFile* FindPageFile(std::string_view url);

}  // namespace qvvcard

#endif
