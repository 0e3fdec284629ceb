// Helpers shared by the fuzz targets: reading a fuzz input as a stream of
// small decisions, and reporting a broken invariant as a crash.
#ifndef QV_VCARD_FUZZ_FUZZ_INPUT_HPP
#define QV_VCARD_FUZZ_FUZZ_INPUT_HPP

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

namespace qv_fuzz {

// Reads an input front to back. Past the end every read gives 0, so a
// decoder never has to check lengths; done() tells when to stop.
class Input {
 public:
  Input(const std::uint8_t* data, std::size_t size) : p_(data), end_(data + size) {}

  bool done() const { return p_ == end_; }
  std::size_t left() const { return static_cast<std::size_t>(end_ - p_); }

  std::uint8_t Byte() { return p_ == end_ ? 0 : *p_++; }
  std::uint16_t U16() {
    const std::uint16_t lo = Byte();
    return static_cast<std::uint16_t>(lo | (Byte() << 8));
  }
  std::uint32_t U32() {
    const std::uint32_t lo = U16();
    return lo | (static_cast<std::uint32_t>(U16()) << 16);
  }
  // Up to n raw bytes.
  std::string_view Bytes(std::size_t n) {
    if (n > left()) n = left();
    std::string_view s(reinterpret_cast<const char*>(p_), n);
    p_ += n;
    return s;
  }

 private:
  const std::uint8_t* p_;
  const std::uint8_t* end_;
};

// A printable rendering of a text for failure messages (non-ASCII as \uXXXX).
inline std::string Show(std::u16string_view t, std::size_t max = 400) {
  std::string s;
  for (std::size_t i = 0; i < t.size() && i < max; ++i) {
    const char16_t c = t[i];
    if (c >= 0x20 && c < 0x7F) {
      s.push_back(static_cast<char>(c));
    } else {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\u%04X", static_cast<unsigned>(c));
      s += buf;
    }
  }
  if (t.size() > max) s += "...";
  return s;
}

[[noreturn]] inline void Fail(const char* file, int line, const char* what,
                              const std::string& detail) {
  std::fprintf(stderr, "%s:%d: invariant broken: %s\n%s\n", file, line, what, detail.c_str());
  std::abort();
}

}  // namespace qv_fuzz

// Stops the run (a crash to the fuzzer, a failure to the replay test).
#define FUZZ_CHECK(cond, detail)                                       \
  do {                                                                 \
    if (!(cond)) ::qv_fuzz::Fail(__FILE__, __LINE__, #cond, (detail)); \
  } while (0)

#endif
