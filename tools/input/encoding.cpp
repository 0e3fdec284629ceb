#include "input/encoding.hpp"

#include <iconv.h>
#include <unistd.h>
#include <utf8.h>

#include <cerrno>
#include <functional>
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

struct Named {
  std::string_view name;
  Encoding encoding;
};
constexpr Named kNames[] = {
    {"utf-8", Encoding::Utf8},          {"utf8", Encoding::Utf8},
    {"windows-1252", Encoding::Cp1252}, {"cp1252", Encoding::Cp1252},
    {"iso-8859-1", Encoding::Latin1},   {"latin1", Encoding::Latin1},
    {"latin-1", Encoding::Latin1},      {"utf-16", Encoding::Utf16},
    {"utf-16le", Encoding::Utf16le},    {"utf-16be", Encoding::Utf16be},
};
constexpr std::string_view kNameList[] = {"utf-8",      "utf8",    "windows-1252", "cp1252",
                                          "iso-8859-1", "latin1",  "latin-1",      "utf-16",
                                          "utf-16le",   "utf-16be"};

const char* IconvName(Encoding e) {
  switch (e) {
    case Encoding::Utf8:
      return "UTF-8";
    case Encoding::Cp1252:
      return "WINDOWS-1252";
    case Encoding::Latin1:
      return "ISO-8859-1";
    case Encoding::Utf16:
    case Encoding::Utf16le:
      return "UTF-16LE";
    case Encoding::Utf16be:
      return "UTF-16BE";
  }
  return "UTF-8";
}

bool IsUtf16(Encoding e) {
  return e == Encoding::Utf16 || e == Encoding::Utf16le || e == Encoding::Utf16be;
}

// By its byte-order mark, a UTF-16 text of either order.
Encoding Utf16Order(std::string_view head, Encoding fallback) {
  if (head.starts_with("\xFF\xFE")) return Encoding::Utf16le;
  if (head.starts_with("\xFE\xFF")) return Encoding::Utf16be;
  return fallback;
}

// Converts chunk after chunk (next gives at least a whole character while
// input lasts, and is told how much was taken) to UTF-8, handing the output
// to put. offset counts the bytes taken, for messages.
void Convert(Encoding from, const std::string& shown, std::uint64_t offset,
             const std::function<std::string_view(std::size_t)>& next,
             const std::function<void(std::size_t)>& take,
             const std::function<void(std::string_view)>& put) {
  Converter conv(IconvName(from));
  std::vector<char> buffer(std::size_t{1} << 16);
  const auto refuse = [&](const char* what, std::uint64_t at) {
    return InputRefused(shown + ": " + what + " " + NameOf(from) + " at byte " +
                        std::to_string(at + 1));
  };
  for (std::size_t more = 4;;) {
    std::string_view chunk = next(more);
    more = 4;
    if (chunk.empty()) break;
    char* src = const_cast<char*>(chunk.data());
    std::size_t left = chunk.size();
    char* dst = buffer.data();
    std::size_t room = buffer.size();
    const std::size_t r = iconv(conv.cd, &src, &left, &dst, &room);
    const int e = errno;
    const std::size_t taken = chunk.size() - left;
    put({buffer.data(), buffer.size() - room});
    take(taken);
    offset += taken;
    if (r != static_cast<std::size_t>(-1) || e == E2BIG) continue;
    if (e == EINVAL) {
      // The rest is the start of a character: more input must complete it.
      if (next(left + 1).size() > left) {
        more = left + 1;
        continue;
      }
      throw refuse("ends inside a character of", offset);
    }
    if (e == EILSEQ) throw refuse("not valid", offset);
    throw std::system_error(e, std::generic_category(), "cannot convert " + shown);
  }
}

}  // namespace

std::optional<Encoding> EncodingNamed(std::string_view name) {
  for (const Named& n : kNames) {
    if (qv_VCard::ascii::EqualIgnoringCase(name, n.name)) return n.encoding;
  }
  return std::nullopt;
}

std::span<const std::string_view> EncodingNames() { return kNameList; }

std::string EncodingNameList() {
  std::string list;
  for (const std::string_view n : kNameList) {
    if (!list.empty()) list += ", ";
    list += n;
  }
  return list;
}

const char* IconvNameOf(Encoding e) { return IconvName(e); }

const char* NameOf(Encoding e) {
  switch (e) {
    case Encoding::Utf8:
      return "UTF-8";
    case Encoding::Cp1252:
      return "Windows-1252";
    case Encoding::Latin1:
      return "ISO-8859-1";
    case Encoding::Utf16:
      return "UTF-16";
    case Encoding::Utf16le:
      return "UTF-16LE";
    case Encoding::Utf16be:
      return "UTF-16BE";
  }
  return "UTF-8";
}

Encoding EncodingOf(InputStream& in, std::optional<Encoding> given) {
  const std::string_view head = in.Gather(2);
  if (given) return *given == Encoding::Utf16 ? Utf16Order(head, Encoding::Utf16le) : *given;
  return Utf16Order(head, Encoding::Utf8);
}

bool IsUtf8Throughout(InputStream& in) {
  for (;;) {
    const std::string_view chunk = in.Gather(in.capacity());
    if (chunk.empty()) return true;
    // Up to the last whole character: one whose bytes go on past the
    // chunk waits for the next one (Gather keeps what is not skipped).
    std::size_t end = chunk.size();
    const bool last = chunk.size() < in.capacity();
    if (!last) {
      std::size_t lead = end;
      while (lead > 0 && end - lead < 4 &&
             (static_cast<unsigned char>(chunk[lead - 1]) & 0xC0) == 0x80) {
        --lead;
      }
      if (lead > 0 && (static_cast<unsigned char>(chunk[lead - 1]) & 0x80) != 0) --lead;
      end = lead;
    }
    if (end == 0) end = chunk.size();  // a buffer too small for more than one character
    const std::string_view whole = chunk.substr(0, end);
    if (utf8::find_invalid(whole.begin(), whole.end()) != whole.end()) return false;
    in.Skip(end);
    if (last) return true;
  }
}

int DecodeToTemporaryFile(InputStream& in, Encoding from, const std::string& shown) {
  UniqueFd out(CreateTemporaryFile());
  std::uint64_t offset = 0;  // of the next byte taken from in
  if (IsUtf16(from)) {
    from = Utf16Order(in.Gather(2), from == Encoding::Utf16 ? Encoding::Utf16le : from);
    const std::string_view head = in.Gather(2);
    if (head.starts_with(from == Encoding::Utf16le ? "\xFF\xFE" : "\xFE\xFF")) {
      in.Skip(2);
      offset = 2;
    }
  }
  Convert(
      from, shown, offset, [&](std::size_t n) { return in.Gather(n); },
      [&](std::size_t n) { in.Skip(n); },
      [&](std::string_view bytes) { WriteToTemporaryFile(out.get(), bytes); });
  RewindTemporaryFile(out.get());
  return out.release();
}

void DecodeToUtf8(std::string_view bytes, Encoding from, const std::string& shown,
                  std::string& out) {
  out.clear();
  std::uint64_t offset = 0;
  if (IsUtf16(from)) {
    from = Utf16Order(bytes, from == Encoding::Utf16 ? Encoding::Utf16le : from);
    if (bytes.starts_with(from == Encoding::Utf16le ? "\xFF\xFE" : "\xFE\xFF")) {
      bytes.remove_prefix(2);
      offset = 2;
    }
  }
  std::string_view rest = bytes;
  Convert(
      from, shown, offset, [&](std::size_t) { return rest; },
      [&](std::size_t n) { rest.remove_prefix(n); },
      [&](std::string_view utf8) { out.append(utf8); });
}

}  // namespace qvvcard
