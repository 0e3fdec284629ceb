#include "serve/page.hpp"

#include <array>
#include <cstddef>

namespace qvvcard {

namespace {

struct EmbeddedFile {
  const char* url;
  const char* name;
  const unsigned char* data;
  std::size_t size;
};

#include "serve_page_files.inc"

std::string_view TypeOf(std::string_view name) {
  const auto ends = [&](std::string_view ext) {
    return name.size() >= ext.size() && name.substr(name.size() - ext.size()) == ext;
  };
  if (ends(".html")) return "text/html; charset=utf-8";
  if (ends(".css")) return "text/css; charset=utf-8";
  if (ends(".js")) return "text/javascript; charset=utf-8";
  if (ends(".svg")) return "image/svg+xml";
  return "application/octet-stream";
}

constexpr std::size_t kCount = sizeof kPageFiles / sizeof kPageFiles[0];

std::array<PageFile, kCount> MakeFiles() {
  std::array<PageFile, kCount> files{};
  for (std::size_t i = 0; i < kCount; ++i) {
    files[i].body = {reinterpret_cast<const char*>(kPageFiles[i].data), kPageFiles[i].size};
    files[i].content_type = TypeOf(kPageFiles[i].name);
  }
  return files;
}

}  // namespace

const PageFile* FindPageFile(std::string_view url) {
  static const std::array<PageFile, kCount> files = MakeFiles();
  for (std::size_t i = 0; i < kCount; ++i) {
    if (url == kPageFiles[i].url) return &files[i];
  }
  return nullptr;
}

}  // namespace qvvcard
