// The page at "/": its files, embedded in the binary at build time from
// tools/serve/page.
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
