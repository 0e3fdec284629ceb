#include "input/encoding.hpp"

#include <iconv.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>
#include <vector>

#include "card/ascii.hpp"
#include "common/fd.hpp"
#include "common/problem.hpp"

namespace qvvcard {

namespace {

struct Converter {
  explicit Converter(const char* from) : cd(iconv_open("UTF-8", from)) {
    if (cd == reinterpret_cast<iconv_t>(-1)) {
      throw std::system_error(errno, std::generic_category(),
                              std::string("cannot convert from ") + from);
    }
  }
  ~Converter() { iconv_close(cd); }
  Converter(const Converter&) = delete;
  Converter& operator=(const Converter&) = delete;
  iconv_t cd;
};

const char* IconvName(Encoding e) {
  switch (e) {
    case Encoding::Utf8:
      return "UTF-8";
    case Encoding::Cp1252:
      return "WINDOWS-1252";
    case Encoding::Latin1:
      return "ISO-8859-1";
    case Encoding::Utf16le:
      return "UTF-16LE";
    case Encoding::Utf16be:
      return "UTF-16BE";
  }
  return "UTF-8";
}

}  // namespace

std::optional<Encoding> EncodingNamed(std::string_view name) {
  for (std::size_t i = 0; i < std::size(kEncodingNames); ++i) {
    if (qv_VCard::ascii::EqualIgnoringCase(name, kEncodingNames[i])) {
      return static_cast<Encoding>(i);
    }
  }
  return std::nullopt;
}

const char* NameOf(Encoding e) { return kEncodingNames[static_cast<std::size_t>(e)]; }

Encoding EncodingOf(InputStream& in, std::optional<Encoding> given) {
  if (given) return *given;
  const std::string_view head = in.Gather(2);
  if (head.starts_with("\xFF\xFE")) return Encoding::Utf16le;
  if (head.starts_with("\xFE\xFF")) return Encoding::Utf16be;
  return Encoding::Utf8;
}

int DecodeToTemporaryFile(InputStream& in, Encoding from, const std::string& shown) {
  Converter conv(IconvName(from));
  UniqueFd out(CreateTemporaryFile());
  const bool utf16 = from == Encoding::Utf16le || from == Encoding::Utf16be;
  std::uint64_t offset = 0;  // of the next byte taken from in
  if (utf16) {
    const std::string_view head = in.Gather(2);
    if (head.starts_with(from == Encoding::Utf16le ? "\xFF\xFE" : "\xFE\xFF")) {
      in.Skip(2);
      offset = 2;
    }
  }
  std::vector<char> buffer(std::size_t{1} << 16);
  const auto refuse = [&](const char* what, std::uint64_t at) {
    return InputRefused(shown + ": " + what + " " + NameOf(from) + " at byte " +
                        std::to_string(at + 1));
  };
  for (;;) {
    // Enough bytes for a whole character, so one split between two reads
    // is never taken for an incomplete one.
    std::string_view chunk = in.Gather(4);
    if (chunk.empty()) break;
    char* src = const_cast<char*>(chunk.data());
    std::size_t left = chunk.size();
    char* dst = buffer.data();
    std::size_t room = buffer.size();
    const std::size_t r = iconv(conv.cd, &src, &left, &dst, &room);
    const int e = errno;
    const std::size_t taken = chunk.size() - left;
    WriteToTemporaryFile(out.get(), {buffer.data(), buffer.size() - room});
    in.Skip(taken);
    offset += taken;
    if (r != static_cast<std::size_t>(-1)) continue;
    if (e == E2BIG) continue;
    if (e == EINVAL) {
      // The rest is the start of a character: more input must complete it.
      if (in.Gather(left + 1).size() > left) continue;
      throw refuse("ends inside a character of", offset);
    }
    if (e == EILSEQ) throw refuse("not valid", offset);
    throw std::system_error(e, std::generic_category(), "cannot convert " + shown);
  }
  RewindTemporaryFile(out.get());
  return out.release();
}

}  // namespace qvvcard
