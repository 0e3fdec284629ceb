#include "input/vcard_reader.hpp"

#include <iconv.h>
#include <utf8.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <functional>

#include "card/ascii.hpp"
#include "card/simd.hpp"

namespace qvvcard::vcf {

using qv_VCard::ascii::EqualIgnoringCase;

namespace {

// Outside a card and while a card is skipped only the start of a line
// matters (BEGIN:VCARD, END:VCARD, AGENT:): the rest is read past, not kept.
constexpr std::size_t kSkimBytes = 64;
// Buffers larger than this are given back after the card that needed them.
constexpr std::size_t kKeptRoom = std::size_t{1} << 20;
// The first block of a store: room for the copies of an ordinary card.
constexpr std::size_t kFirstBlock = std::size_t{4} << 10;

bool IsBlank(std::string_view s) {
  // A DOS end-of-file mark (^Z) after the last card is no text either.
  return std::all_of(s.begin(), s.end(),
                     [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\x1A'; });
}

std::string_view TrimBlanks(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) {
    s.remove_suffix(1);
  }
  return s;
}

// "BEGIN:VCARD" or "END:VCARD" in any case, blanks after it allowed.
bool IsFrame(std::string_view line, std::string_view word) {
  if (line.size() < word.size() + 6 || (line[0] | 0x20) != (word[0] | 0x20)) return false;
  line = TrimBlanks(line);
  if (line.size() != word.size() + 6) return false;
  return EqualIgnoringCase(line.substr(0, word.size()), word) && line[word.size()] == ':' &&
         EqualIgnoringCase(line.substr(word.size() + 1), "VCARD");
}
// The plain form of a frame, "END:VCARD" in any case and nothing after it,
// compared eight bytes at a time with the letters' case bit set: only a
// letter's partner in the other case has the same bits then.
struct PlainFrame {
  std::size_t size = 0;
  std::uint64_t case_bits[2] = {0, 0}, want[2] = {0, 0};
  constexpr explicit PlainFrame(std::string_view lower) : size(lower.size()) {
    for (std::size_t i = 0; i < size; ++i) {
      const std::uint64_t bit = lower[i] >= 'a' && lower[i] <= 'z' ? 0x20u : 0u;
      case_bits[i / 8] |= bit << (8 * (i % 8));
      want[i / 8] |= std::uint64_t{static_cast<unsigned char>(lower[i])} << (8 * (i % 8));
    }
  }
  bool Is(std::string_view line) const {
    if (line.size() != size) return false;
    std::uint64_t got[2] = {0, 0};
    std::memcpy(&got[0], line.data(), 8);
    std::memcpy(&got[1], line.data() + 8, size - 8);
    return ((got[0] | case_bits[0]) == want[0]) & ((got[1] | case_bits[1]) == want[1]);
  }
};
constexpr PlainFrame kPlainBegin("begin:vcard");
constexpr PlainFrame kPlainEnd("end:vcard");
bool IsBegin(std::string_view line) { return kPlainBegin.Is(line) || IsFrame(line, "BEGIN"); }
bool IsEnd(std::string_view line) { return kPlainEnd.Is(line) || IsFrame(line, "END"); }

// An "AGENT:" line without a value: in 2.1 the agent's card follows on the
// next lines.
bool IsEmptyAgent(std::string_view line) {
  line = TrimBlanks(line);
  if (line.empty() || line.back() != ':') return false;
  const std::size_t dot = line.find('.');
  std::string_view name = line.substr(0, line.find_first_of(";:"));
  if (dot != std::string_view::npos && dot < name.size()) name.remove_prefix(dot + 1);
  return EqualIgnoringCase(name, "AGENT") && line.find(':') == line.size() - 1;
}

// Whether the parameters of a line (its text before the value) say
// ENCODING=QUOTED-PRINTABLE, or 2.1's bare QUOTED-PRINTABLE, in any case.
bool QuotedPrintable(std::string_view head) {
  static constexpr std::string_view kWord = "QUOTED-PRINTABLE";
  for (std::size_t i = 0; i + kWord.size() <= head.size(); ++i) {
    if ((head[i] == ';' || head[i] == '=' || head[i] == ',') &&
        i + 1 + kWord.size() <= head.size() &&
        EqualIgnoringCase(head.substr(i + 1, kWord.size()), kWord)) {
      const std::size_t after = i + 1 + kWord.size();
      if (after == head.size() || head[after] == ';' || head[after] == ',') return true;
    }
  }
  return false;
}

// The characters of names and groups: letters, digits, "-" and "_".
struct NameChars {
  bool has[256] = {};
  constexpr NameChars() {
    for (int c = 0; c < 256; ++c) {
      has[c] = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
               c == '-' || c == '_';
    }
  }
};
constexpr NameChars kNameChars;
bool IsNameChar(char c) { return kNameChars.has[static_cast<unsigned char>(c)]; }

// The bytes that end a run of a parameter value's own bytes.
struct ValueStops {
  bool has[256] = {};
  constexpr ValueStops() {
    for (const char c : {'"', ',', ';', ':'}) has[static_cast<unsigned char>(c)] = true;
  }
};
constexpr ValueStops kValueStops;

// s in capitals, a copy (s has a small letter).
std::string_view UpperCopy(TextStore& store, std::string_view s) {
  char* to = store.Room(s.size());
  for (std::size_t i = 0; i < s.size(); ++i) {
    const char c = s[i];
    to[i] = c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
  }
  store.GiveBack(to + s.size());
  return {to, s.size()};
}
// s in capitals: s itself when it has no small letter.
std::string_view Upper(TextStore& store, std::string_view s) {
  if (std::none_of(s.begin(), s.end(), [](char c) { return c >= 'a' && c <= 'z'; })) return s;
  return UpperCopy(store, s);
}

// The end of the name or group that starts at p[i] (letters, digits, "-"
// and "_"); small tells whether it holds a small letter.
inline std::size_t NameEnd(const char* p, std::size_t i, std::size_t n, bool& small) {
#if QV_VCARD_SSE2
  if (i + 16 <= n) {
    // Signed comparisons: no byte above 0x7F is in any of the ranges.
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
    const auto in = [](__m128i x, char lo, char hi) {
      return _mm_and_si128(_mm_cmpgt_epi8(x, _mm_set1_epi8(static_cast<char>(lo - 1))),
                           _mm_cmplt_epi8(x, _mm_set1_epi8(static_cast<char>(hi + 1))));
    };
    const __m128i smalls = in(b, 'a', 'z');
    const __m128i ok = _mm_or_si128(
        _mm_or_si128(in(_mm_or_si128(b, _mm_set1_epi8(0x20)), 'a', 'z'), in(b, '0', '9')),
        _mm_or_si128(_mm_cmpeq_epi8(b, _mm_set1_epi8('-')), _mm_cmpeq_epi8(b, _mm_set1_epi8('_'))));
    const unsigned stop = ~static_cast<unsigned>(_mm_movemask_epi8(ok)) & 0xFFFFu;
    const auto lower = static_cast<unsigned>(_mm_movemask_epi8(smalls));
    if (stop != 0) {
      const auto at = static_cast<unsigned>(__builtin_ctz(stop));
      small = (lower & ((1u << at) - 1)) != 0;
      return i + at;
    }
    small = lower != 0;
    i += 16;
  }
#endif
  for (; i < n && IsNameChar(p[i]); ++i) small = small || (p[i] >= 'a');
  return i;
}

// The offset of the first line feed in p[0, n), or n when there is none;
// ascii tells whether the bytes before it are all ASCII.
inline std::size_t FindLineFeed(const char* p, std::size_t n, bool& ascii) {
  std::size_t i = 0;
  unsigned high = 0;
#if QV_VCARD_SSE2
  const __m128i lf = _mm_set1_epi8('\n');
  __m128i seen = _mm_setzero_si128();
  for (; i + 16 <= n; i += 16) {
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
    const auto hits = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(b, lf)));
    if (hits != 0) {
      const auto at = static_cast<unsigned>(__builtin_ctz(hits));
      const auto before = static_cast<unsigned>(_mm_movemask_epi8(b)) & ((1u << at) - 1);
      ascii = _mm_movemask_epi8(seen) == 0 && before == 0;
      return i + at;
    }
    seen = _mm_or_si128(seen, b);
  }
  high = static_cast<unsigned>(_mm_movemask_epi8(seen));
#endif
  for (; i < n && p[i] != '\n'; ++i) high |= static_cast<unsigned char>(p[i]) & 0x80u;
  ascii = high == 0;
  return i;
}

// The text before the value, up to the first ":" outside double quotes;
// npos when there is none yet.
std::size_t ColonOf(std::string_view line) {
  const std::size_t colon = line.find(':');
  if (colon == std::string_view::npos) return colon;
  if (std::memchr(line.data(), '"', colon) == nullptr) return colon;
  bool quoted = false;
  for (std::size_t i = 0; i < line.size(); ++i) {
    if (line[i] == '"') quoted = !quoted;
    if (line[i] == ':' && !quoted) return i;
  }
  return std::string_view::npos;
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// Decodes quoted-printable text into out (room for in.size() bytes), its
// size into size; false at an "=" that starts no escape (its offset in at).
bool DecodeQuotedPrintable(std::string_view in, char* out, std::size_t& size, std::size_t& at) {
  std::size_t o = 0;
  for (std::size_t i = 0; i < in.size(); ++i) {
    const char c = in[i];
    if (c != '=') {
      out[o++] = c;
      continue;
    }
    if (i + 1 == in.size()) break;  // a soft line break at the very end
    const int hi = HexValue(in[i + 1]);
    const int lo = i + 2 < in.size() ? HexValue(in[i + 2]) : -1;
    if (hi < 0 || lo < 0) {
      at = i;
      return false;
    }
    out[o++] = static_cast<char>(hi * 16 + lo);
    i += 2;
  }
  size = o;
  return true;
}

bool IsAscii(std::string_view s) {
  // Eight bytes at a time: no byte has its high bit set.
  std::uint64_t high = 0;
  std::size_t i = 0;
  for (; i + 8 <= s.size(); i += 8) {
    std::uint64_t w;
    std::memcpy(&w, s.data() + i, 8);
    high |= w;
  }
  for (; i < s.size(); ++i) high |= static_cast<unsigned char>(s[i]);
  return (high & 0x8080808080808080u) == 0;
}

}  // namespace

bool IsUtf8(std::string_view s) {
  const auto* const p = reinterpret_cast<const unsigned char*>(s.data());
  const std::size_t n = s.size();
  const auto tail = [&](std::size_t at) { return (p[at] & 0xC0u) == 0x80u; };
  for (std::size_t i = 0; i < n;) {
#if QV_VCARD_SSE2
    // Runs of ASCII sixteen bytes at a time.
    for (; i + 16 <= n; i += 16) {
      const auto high = static_cast<unsigned>(
          _mm_movemask_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i))));
      if (high != 0) {
        i += static_cast<std::size_t>(__builtin_ctz(high));
        break;
      }
    }
    if (i == n) break;
#endif
    const unsigned c = p[i];
    if (c < 0x80) {
      ++i;
    } else if (c < 0xC2) {
      return false;  // a continuation byte, or the lead of an overlong form
    } else if (c < 0xE0) {
      if (i + 1 >= n || !tail(i + 1)) return false;
      i += 2;
    } else if (c < 0xF0) {
      if (i + 2 >= n || !tail(i + 1) || !tail(i + 2)) return false;
      if ((c == 0xE0 && p[i + 1] < 0xA0) || (c == 0xED && p[i + 1] >= 0xA0)) return false;
      i += 3;  // not overlong, no surrogate
    } else if (c < 0xF5) {
      if (i + 3 >= n || !tail(i + 1) || !tail(i + 2) || !tail(i + 3)) return false;
      if ((c == 0xF0 && p[i + 1] < 0x90) || (c == 0xF4 && p[i + 1] >= 0x90)) return false;
      i += 4;  // not overlong, at most U+10FFFF
    } else {
      return false;
    }
  }
  return true;
}

namespace {

// The offset of the first byte that is not UTF-8, or npos.
std::size_t InvalidUtf8(std::string_view s) {
  if (IsUtf8(s)) return std::string_view::npos;
  const auto bad = utf8::find_invalid(s.begin(), s.end());
  return bad == s.end() ? std::string_view::npos : static_cast<std::size_t>(bad - s.begin());
}

bool IsUtf8Name(std::string_view charset) {
  return EqualIgnoringCase(charset, "UTF-8") || EqualIgnoringCase(charset, "UTF8");
}

// 4.0 writes ^n, ^^ and ^' in parameter values for a line break, a caret
// and a double quote.
std::string_view DecodeCarets(TextStore& store, std::string_view v) {
  if (v.find('^') == std::string_view::npos) return v;
  char* to = store.Room(v.size());
  std::size_t o = 0;
  for (std::size_t i = 0; i < v.size(); ++i) {
    if (v[i] == '^' && i + 1 < v.size()) {
      const char n = v[i + 1];
      if (n == 'n' || n == 'N' || n == '^' || n == '\'') {
        to[o++] = n == '^' ? '^' : n == '\'' ? '"' : '\n';
        ++i;
        continue;
      }
    }
    to[o++] = v[i];
  }
  store.GiveBack(to + o);
  return {to, o};
}

// What a bare 2.1 parameter (no "=") stands for.
std::string_view BareParameterName(std::string_view value) {
  static constexpr std::string_view kEncodings[] = {"QUOTED-PRINTABLE", "BASE64", "8BIT", "7BIT",
                                                    "B"};
  static constexpr std::string_view kValues[] = {"INLINE", "URL", "URI", "CONTENT-ID", "CID"};
  for (const std::string_view e : kEncodings) {
    if (EqualIgnoringCase(value, e)) return "ENCODING";
  }
  for (const std::string_view v : kValues) {
    if (EqualIgnoringCase(value, v)) return "VALUE";
  }
  return "TYPE";
}

bool IsType(std::string_view name) {
  return name.size() == 4 && std::memcmp(name.data(), "TYPE", 4) == 0;
}

std::string Shown(char c) {
  const auto u = static_cast<unsigned char>(c);
  if (u >= 0x20 && u < 0x7F) return std::string("\"") + c + "\"";
  static constexpr char kHex[] = "0123456789ABCDEF";
  return std::string("the byte 0x") + kHex[u >> 4] + kHex[u & 15];
}

// A parameter value as it is pieced together from the runs of its bytes
// between quotes: a view of them while they follow one another, a copy
// once they do not.
class Piece {
 public:
  explicit Piece(std::string& room) : room_(room) {}
  void Add(const char* p, std::size_t n) {
    if (n == 0) return;
    if (copied_) {
      room_.append(p, n);
    } else if (size_ == 0) {
      at_ = p;
    } else if (at_ + size_ != p) {
      room_.assign(at_, size_);
      room_.append(p, n);
      copied_ = true;
    }
    size_ += n;
  }
  std::size_t size() const { return size_; }
  bool copied() const { return copied_; }
  std::string_view view() const {
    return copied_ ? std::string_view(room_) : std::string_view(at_, size_);
  }
  void Clear() {
    size_ = 0;
    copied_ = false;
  }

 private:
  std::string& room_;
  const char* at_ = nullptr;
  std::size_t size_ = 0;
  bool copied_ = false;
};

}  // namespace

char* TextStore::NewRoom(std::size_t n) {
  // The next block kept from an earlier card, when it has room; a new one
  // otherwise, twice the size of the last.
  if (block_ < blocks_.size()) ++block_;
  while (block_ < blocks_.size() && blocks_[block_].size < n) ++block_;
  if (block_ == blocks_.size()) {
    const std::size_t size =
        std::max(n, blocks_.empty() ? kFirstBlock : std::min(blocks_.back().size * 2, kKeptRoom));
    blocks_.push_back({std::make_unique_for_overwrite<char[]>(size), size});
    block_ = blocks_.size() - 1;
  }
  used_ = n;
  return blocks_[block_].bytes.get();
}

std::string_view TextStore::Copy(std::string_view bytes) {
  char* to = Room(bytes.size());
  if (!bytes.empty()) std::memcpy(to, bytes.data(), bytes.size());
  return {to, bytes.size()};
}

void TextStore::Clear() noexcept {
  // The blocks up to kKeptRoom in all stay for the next card.
  std::size_t kept = 0, n = 0;
  while (n < blocks_.size() && kept + blocks_[n].size <= kKeptRoom) kept += blocks_[n++].size;
  blocks_.resize(n);
  block_ = 0;
  used_ = 0;
}

struct Reader::Draft {
  std::string_view name;
  std::size_t first = 0, count = 0;  // of its values in values_ (TYPE: all of types_)
  bool type = false;
};

const Param* Line::Find(std::string_view want) const {
  for (const Param& p : params) {
    if (p.name == want) return &p;
  }
  return nullptr;
}

bool Line::Base64() const {
  const Param* e = Find("ENCODING");
  if (e == nullptr || e->values.empty()) return false;
  return EqualIgnoringCase(e->values.front(), "BASE64") ||
         EqualIgnoringCase(e->values.front(), "B");
}

bool Line::HasType(std::string_view type) const {
  for (const Param& p : params) {
    if (!IsType(p.name)) continue;
    for (const std::string_view v : p.values) {
      if (EqualIgnoringCase(v, type)) return true;
    }
  }
  return false;
}

// Conversions into UTF-8, the last charset's kept open (a file's lines
// mostly share one).
class Reader::Converter {
 public:
  ~Converter() { Close(); }
  // false with a reason in error when the charset is unknown or the bytes
  // are no text of it.
  bool Convert(std::string_view charset, std::string_view in, std::string& out,
               std::string& error) {
    if (!EqualIgnoringCase(charset, name_)) {
      Close();
      name_ = charset;
      cd_ = iconv_open("UTF-8", name_.c_str());
    }
    if (cd_ == reinterpret_cast<iconv_t>(-1)) {
      error = "unknown charset \"" + name_ + "\"";
      return false;
    }
    iconv(cd_, nullptr, nullptr, nullptr, nullptr);
    out.resize(in.size() * 2 + 16);
    char* src = const_cast<char*>(in.data());
    std::size_t left = in.size();
    std::size_t done = 0;
    for (;;) {
      char* dst = out.data() + done;
      std::size_t room = out.size() - done;
      const std::size_t r = left == 0 ? 0 : iconv(cd_, &src, &left, &dst, &room);
      const int e = errno;
      done = out.size() - room;
      if (r != static_cast<std::size_t>(-1)) {
        // Flush any shift state.
        dst = out.data() + done;
        room = out.size() - done;
        if (room < 16) {
          out.resize(out.size() + 16);
          continue;
        }
        iconv(cd_, nullptr, nullptr, &dst, &room);
        out.resize(out.size() - room);
        return true;
      }
      if (e == E2BIG) {
        out.resize(out.size() * 2);
        continue;
      }
      error = "bytes that are no text of the charset \"" + name_ + "\" (at byte " +
              std::to_string(in.size() - left + 1) + " of the value)";
      return false;
    }
  }

 private:
  void Close() {
    if (cd_ != reinterpret_cast<iconv_t>(-1)) iconv_close(cd_);
    cd_ = reinterpret_cast<iconv_t>(-1);
  }
  std::string name_;
  iconv_t cd_ = reinterpret_cast<iconv_t>(-1);
};

Reader::Reader(InputStream& in, Limits limits, std::string default_charset)
    : in_(in),
      limits_(limits),
      default_charset_(std::move(default_charset)),
      converter_(std::make_unique<Converter>()) {
  if (default_charset_.empty()) default_charset_ = "UTF-8";
  default_utf8_ = IsUtf8Name(default_charset_);
  if (limits_.max_lines == 0) limits_.max_lines = 1;
}

Reader::~Reader() = default;

bool Reader::ReadPhysical(std::size_t max) {
  bool truncated = false;
  if (!in_.ReadLine(line_, max, &truncated)) return false;
  ++line_no_;
  if (!line_.empty() && line_.back() == '\r') line_.pop_back();
  // A line cut short is longer than max, and no frame line.
  if (truncated) line_.push_back('\0');
  return true;
}

void Reader::SetError(Card& card, std::uint64_t line, std::string what) {
  if (!card.error.empty()) return;
  card.error = "line " + std::to_string(line) + ": " + std::move(what);
  card.error_line = line;
}

void Reader::Evacuate(Card& card) {
  if (in_place_ == nullptr) return;
  const char* const from = in_place_;
  const char* const to = in_.Buffered().data();
  in_place_ = nullptr;
  const auto size = static_cast<std::size_t>(to - from);
  const char* const copy = card.text.Copy({from, size}).data();
  const auto move = [&](std::string_view& v) {
    if (!v.empty() && std::greater_equal<const char*>()(v.data(), from) &&
        std::less<const char*>()(v.data(), to)) {
      v = {copy + (v.data() - from), v.size()};
    }
  };
  for (std::size_t k = 0; k < count_; ++k) {
    Line& l = card.lines[k];
    move(l.group);
    move(l.name);
    move(l.value);
    // The parameters are the store's own records.
    for (const Param& cp : l.params) {
      Param& p = const_cast<Param&>(cp);
      move(p.name);
      for (const std::string_view& cv : p.values) move(const_cast<std::string_view&>(cv));
    }
  }
  move(card.version);
}

void Reader::Unfold(std::string_view version, std::size_t& budget, bool& over) {
  // Whether the line's value is quoted-printable, as soon as its parameters
  // are complete (a folded name or parameter is rare but allowed).
  bool head_known = false, quoted_printable = false;
  const bool keep_blank = version == "2.1";  // 2.1 folds only where a blank stands
  for (;;) {
    if (!head_known) {
      const std::size_t colon = ColonOf(logical_);
      if (colon != std::string_view::npos) {
        head_known = true;
        const std::string_view head(logical_.data(), colon);
        quoted_printable = head.find(';') != head.npos && QuotedPrintable(head);
      }
    }
    const bool soft_break = quoted_printable && !logical_.empty() && logical_.back() == '=';
    const int next = in_.Peek();
    if (next == -1) return;
    const bool folded = next == ' ' || next == '\t';
    if (!folded && !soft_break) return;
    if (!ReadPhysical(budget + 1)) return;
    if (line_.size() + 1 > budget) {
      over = true;
      return;
    }
    if (!folded && IsEnd(line_)) {
      // "=" before the end of the card ends nothing.
      logical_.pop_back();
      held_ = true;
      return;
    }
    budget -= line_.size() + 1;
    if (soft_break) logical_.pop_back();
    logical_.append(line_, folded && !keep_blank ? 1 : 0);
  }
}

// Why a line whose name ends at s[i] (it started at s[start]) is no
// property.
[[gnu::cold]] std::string NoProperty(std::string_view s, std::size_t i, std::size_t start) {
  if (i == s.size() || ((s[i] != ';' && s[i] != ':') && s.find(':', i) == s.npos)) {
    return "no property: the line has no \":\"";
  }
  return i == start && s[i] == ':' ? "no property: the line has no name before \":\""
                                   : "no property: a name cannot hold " + Shown(s[i]);
}

bool Reader::ParseLine(Card& card, std::string_view s, bool ascii, Line& out, std::string& error) {
  out.group = {};
  out.params = {};
  const char* const p = s.data();
  const std::size_t n = s.size();
  std::size_t start = 0;
  bool small = false;
  std::size_t i = NameEnd(p, 0, n, small);
  if (i < n && p[i] == '.' && i > 0) {
    out.group = s.substr(0, i);
    start = ++i;
    small = false;
    i = NameEnd(p, i, n, small);
  }
  if (i == n || i == start || (p[i] != ';' && p[i] != ':')) {
    error = NoProperty(s, i, start);
    return false;
  }
  out.name = s.substr(start, i - start);
  if (small) out.name = UpperCopy(card.text, out.name);
  if (p[i] == ':') {
    // No parameters, the most common line: its value as it stands.
    out.value = s.substr(i + 1);
    if (ascii) return true;
    return TextValue(card, out.value, default_charset_, default_utf8_, false, out.value, error);
  }
  if (!ParseParameters(card, s, i, ascii, out, error)) return false;
  const std::string_view raw = s.substr(i + 1);

  // The first ENCODING and the first CHARSET, in one look at the parameters.
  const Param* encoding = nullptr;
  const Param* charset = nullptr;
  for (const Param& q : out.params) {
    if (q.name.size() == 8 && encoding == nullptr &&
        std::memcmp(q.name.data(), "ENCODING", 8) == 0) {
      encoding = &q;
    } else if (q.name.size() == 7 && charset == nullptr &&
               std::memcmp(q.name.data(), "CHARSET", 7) == 0) {
      charset = &q;
    }
  }
  if (encoding == nullptr && charset == nullptr) {
    out.value = raw;
    if (ascii) return true;
    return TextValue(card, raw, default_charset_, default_utf8_, false, out.value, error);
  }
  const std::string_view enc = encoding != nullptr && !encoding->values.empty()
                                   ? encoding->values.front()
                                   : std::string_view();
  if (EqualIgnoringCase(enc, "BASE64") || EqualIgnoringCase(enc, "B")) {
    out.value = raw;  // kept as it is: a photo, a key, a sound
    return true;
  }
  std::string_view bytes = raw;
  bool bytes_ascii = ascii;
  if (EqualIgnoringCase(enc, "QUOTED-PRINTABLE")) {
    char* const to = card.text.Room(raw.size());
    std::size_t size = 0, at = 0;
    if (!DecodeQuotedPrintable(raw, to, size, at)) {
      card.text.GiveBack(to);
      error = "invalid quoted-printable: \"=" + std::string(raw.substr(at + 1, 2)) + "\"";
      return false;
    }
    card.text.GiveBack(to + size);
    bytes = {to, size};
    bytes_ascii = false;
  }
  if (charset == nullptr || charset->values.empty()) {
    return TextValue(card, bytes, default_charset_, default_utf8_, bytes_ascii, out.value, error);
  }
  const std::string_view cs = charset->values.front();
  return TextValue(card, bytes, cs, IsUtf8Name(cs), bytes_ascii, out.value, error);
}

bool Reader::PlainParameters(Card& card, std::string_view s, std::size_t& at, Line& out) {
  // The most common parameters, of name characters alone: NAME=VALUE,...
  // or a bare VALUE, none of them empty, at most a few; nothing to trim,
  // unquote or decode. Anything else is left to the whole parser.
  {
    // One NAME=VALUE before the value, the commonest of all.
    bool small = false, small_value = false;
    const std::size_t key = at + 1;
    const std::size_t key_end = NameEnd(s.data(), key, s.size(), small);
    if (key_end > key && key_end < s.size() && s[key_end] == '=') {
      const std::size_t value = key_end + 1;
      const std::size_t value_end = NameEnd(s.data(), value, s.size(), small_value);
      if (value_end > value && value_end < s.size() && s[value_end] == ':') {
        std::string_view name = s.substr(key, key_end - key);
        if (small) name = UpperCopy(card.text, name);
        char* const room = card.text.Room(sizeof(std::string_view) + sizeof(Param));
        const auto* v = new (room) std::string_view(s.data() + value, value_end - value);
        const auto* param = new (room + sizeof(std::string_view)) Param{name, {v, 1}};
        out.params = {param, 1};
        at = value_end;
        return true;
      }
    }
  }
  constexpr std::size_t kMost = 8;
  // Left uninitialised: only what is set is read.
  struct Text {
    const char* data;
    std::size_t size;
    Text& operator=(std::string_view v) {
      data = v.data();
      size = v.size();
      return *this;
    }
    std::string_view view() const { return {data, size}; }
  };
  struct Plain {
    Text name;
    std::uint8_t first, count;
  };
  Plain params[kMost];
  Text values[kMost], types[kMost];
  std::size_t n_params = 0, n_values = 0, n_types = 0, type_at = kMost;
  const char* const p = s.data();
  const std::size_t n = s.size();
  std::size_t i = at;
  while (i < n && p[i] == ';') {
    bool small = false;
    const std::size_t token = i + 1;
    std::size_t end = NameEnd(p, token, n, small);
    if (end == token || end == n || n_params == kMost) return false;
    std::string_view name;
    if (p[end] == '=') {
      name = s.substr(token, end - token);
      if (small) name = UpperCopy(card.text, name);
      i = end + 1;
    } else if (p[end] == ';' || p[end] == ':') {
      name = BareParameterName(s.substr(token, end - token));
      i = token;
    } else {
      return false;
    }
    const bool is_type = IsType(name);
    if (!is_type || type_at == kMost) {
      if (is_type) type_at = n_params;
      Plain& added = params[n_params++];
      added.name = name;
      added.first = static_cast<std::uint8_t>(n_values);
      added.count = 0;
    }
    for (;;) {
      small = false;
      end = NameEnd(p, i, n, small);
      if (end == i || end == n || (p[end] != ',' && p[end] != ';' && p[end] != ':')) return false;
      if (is_type) {
        if (n_types == kMost) return false;
        types[n_types++] = s.substr(i, end - i);
      } else {
        if (n_values == kMost) return false;
        values[n_values++] = s.substr(i, end - i);
        ++params[n_params - 1].count;
      }
      i = end + 1;
      if (p[end] != ',') break;
    }
    i = end;
  }
  if (i == n || p[i] != ':') return false;
  // The lists into the store, TYPE's values after the others.
  auto* const list = reinterpret_cast<std::string_view*>(
      card.text.Room((n_values + n_types) * sizeof(std::string_view)));
  for (std::size_t k = 0; k < n_values; ++k) new (list + k) std::string_view(values[k].view());
  for (std::size_t k = 0; k < n_types; ++k) {
    new (list + n_values + k) std::string_view(types[k].view());
  }
  auto* const to = reinterpret_cast<Param*>(card.text.Room(n_params * sizeof(Param)));
  for (std::size_t k = 0; k < n_params; ++k) {
    const std::span<const std::string_view> v =
        k == type_at ? std::span<const std::string_view>(list + n_values, n_types)
                     : std::span<const std::string_view>(list + params[k].first, params[k].count);
    new (to + k) Param{params[k].name.view(), v};
  }
  out.params = {to, n_params};
  at = i;
  return true;
}

bool Reader::ParseParameters(Card& card, std::string_view s, std::size_t& i, bool ascii, Line& out,
                             std::string& error) {
  // Parameters: ;NAME=VALUE[,VALUE...] or the bare ;VALUE of 2.1, all TYPE
  // parameters one list. The values of the others lie in values_ one
  // parameter after the other.
  const char* const p = s.data();
  const std::size_t n = s.size();
  if (PlainParameters(card, s, i, out)) return true;
  drafts_.clear();
  values_.clear();
  types_.clear();
  std::size_t types = std::string::npos;
  const bool carets = card.version == "4.0";
  bool failed = false;
  Piece piece(piece_);
  while (!failed && i < n && p[i] == ';') {
    ++i;
    const std::size_t token = i;
    while (i < n && p[i] != '=' && p[i] != ';' && p[i] != ':') ++i;
    if (i == n) break;
    const std::string_view key = TrimBlanks(s.substr(token, i - token));
    std::string_view name;
    if (p[i] == '=') {
      name = Upper(card.text, key);
      ++i;
    } else {
      name = BareParameterName(key);
      i = token;
    }
    const bool is_type = IsType(name);
    std::size_t at = types;
    if (!is_type || types == std::string::npos) {
      at = drafts_.size();
      drafts_.push_back({name, values_.size(), 0, is_type});
      if (is_type) types = at;
    }
    std::vector<std::string_view>& into = is_type ? types_ : values_;
    // Values up to the next ";" or ":" outside quotes; commas part them
    // (TYPE even inside quotes: no type holds one).
    bool quoted = false, was_quoted = false, any = false;
    const auto finish = [&] {
      std::string_view v = piece.view();
      if (!was_quoted) v = TrimBlanks(v);
      if (!v.empty() || !is_type) {
        if (piece.copied()) v = card.text.Copy(v);
        if (carets) v = DecodeCarets(card.text, v);
        if (!ascii && InvalidUtf8(v) != std::string_view::npos) failed = true;
        into.push_back(v);
        if (!is_type) ++drafts_[at].count;
      }
      piece.Clear();
      was_quoted = false;
      any = true;
    };
    while (i < n) {
      std::size_t j = i;
      while (j < n && !kValueStops.has[static_cast<unsigned char>(p[j])]) ++j;
      piece.Add(p + i, j - i);
      i = j;
      if (i == n) break;
      const char c = p[i];
      if (c == '"') {
        quoted = !quoted;
        was_quoted = true;
        ++i;
      } else if (!quoted && (c == ';' || c == ':')) {
        break;
      } else if (c == ',' && (!quoted || is_type)) {
        finish();
        ++i;
      } else {
        piece.Add(p + i, 1);
        ++i;
      }
    }
    if (piece.size() != 0 || !any) finish();
    if (quoted) {
      error = "a quoted parameter value is not closed";
      return false;
    }
  }
  if (failed) {
    error = "a parameter value is not UTF-8";
    return false;
  }
  if (i == n || p[i] != ':') {
    error = "no property: the line has no \":\" after its parameters";
    return false;
  }
  // The lists into the store, TYPE's values after the others.
  const std::size_t others = values_.size();
  values_.insert(values_.end(), types_.begin(), types_.end());
  const std::span<std::string_view> values = card.text.Copy(values_.data(), values_.size());
  std::span<const Param> params;
  if (!drafts_.empty()) {
    auto* to = reinterpret_cast<Param*>(card.text.Room(drafts_.size() * sizeof(Param)));
    for (std::size_t k = 0; k < drafts_.size(); ++k) {
      const Draft& d = drafts_[k];
      new (to + k) Param{d.name, d.type ? values.subspan(others, types_.size())
                                        : values.subspan(d.first, d.count)};
    }
    params = {to, drafts_.size()};
  }
  out.params = params;
  return true;
}

bool Reader::TextValue(Card& card, std::string_view bytes, std::string_view charset, bool utf8,
                       bool ascii, std::string_view& value, std::string& error) {
  if (ascii || IsAscii(bytes)) {
    value = bytes;
    return true;
  }
  if (utf8) {
    if (const std::size_t bad = InvalidUtf8(bytes); bad != std::string::npos) {
      error = "bytes that are no text of the charset \"" + std::string(charset) + "\" (at byte " +
              std::to_string(bad + 1) + " of the value)";
      return false;
    }
    value = bytes;
    return true;
  }
  if (!converter_->Convert(charset, bytes, converted_, error)) return false;
  value = card.text.Copy(converted_);
  return true;
}

void Reader::SkipCard() {
  // Reads past the rest of a card, and past the cards of 2.1's agents in
  // it, to its END:VCARD or to a BEGIN:VCARD that starts the next card.
  int depth = 0;
  bool agent = false;
  while (held_ || ReadPhysical(kSkimBytes)) {
    held_ = false;
    if (IsBegin(line_)) {
      if (!agent && depth == 0) {
        held_ = true;
        return;
      }
      ++depth;
    } else if (IsEnd(line_)) {
      if (depth == 0) return;
      --depth;
    }
    agent = IsEmptyAgent(line_);
  }
}

bool Reader::ReadCard(Card& card) {
  card.version = {};
  card.line = 0;
  card.error.clear();
  card.error_line = 0;
  card.text.Clear();
  in_place_ = nullptr;
  if (!started_) {
    started_ = true;
    in_.SkipByteOrderMark();
  }
  // The room a large card needed is not kept for the cards after it.
  if (logical_.capacity() > kKeptRoom) std::string().swap(logical_);
  if (!held_ && line_.capacity() > kKeptRoom) std::string().swap(line_);
  if (piece_.capacity() > kKeptRoom) std::string().swap(piece_);
  if (converted_.capacity() > kKeptRoom) std::string().swap(converted_);

  // To the next BEGIN:VCARD; text before it is reported as one card. A
  // short line whole in the input's buffer is looked at where it stands.
  std::uint64_t stray = 0;
  std::size_t begin_size = 0;
  for (;;) {
    std::string_view line;
    std::size_t taken = 0;  // of the buffer, for a line looked at there
    if (!held_) {
      const std::string_view buffered = in_.Buffered();
      bool ascii = false;
      const std::size_t n =
          FindLineFeed(buffered.data(), std::min(buffered.size(), kSkimBytes + 1), ascii);
      if (n <= kSkimBytes && n < buffered.size()) {
        line = buffered.substr(0, n);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        taken = n + 1;
      }
    }
    if (taken == 0) {
      if (!held_ && !ReadPhysical(kSkimBytes)) {
        if (stray == 0) return false;
        break;
      }
      held_ = false;
      line = line_;
    }
    if (IsBegin(line)) {
      // After stray text, the next card starts with it.
      if (stray != 0) {
        if (taken == 0) held_ = true;
        break;
      }
      if (taken != 0) {
        in_.Skip(taken);
        ++line_no_;
      }
      begin_size = line.size();
      break;
    }
    if (taken != 0) {
      in_.Skip(taken);
      ++line_no_;
    }
    if (stray == 0 && !IsBlank(line)) stray = line_no_;
  }
  if (stray != 0) {
    card.line = stray;
    SetError(card, stray, "text outside a card (no BEGIN:VCARD before it)");
    return true;
  }

  card.line = line_no_;
  std::size_t budget = limits_.max_card_bytes;
  const auto too_long = [&](std::uint64_t line) {
    SetError(card, line,
             "the card is longer than " + std::to_string(limits_.max_card_bytes) + " bytes");
    Evacuate(card);
    SkipCard();
    return true;
  };
  if (begin_size + 1 > budget) return too_long(line_no_);
  budget -= begin_size + 1;
  bool agent = false;
  std::string error;
  for (;;) {
    Step step = Step::Next;
    if (!held_) {
      // The lines that stand whole in the input's buffer, the byte after
      // each too, and that neither a fold nor a soft line break continues
      // are parsed where they stand.
      const std::string_view buffered = in_.Buffered();
      const char* const first = buffered.data();
      const char* const end = first + buffered.size();
      const char* at = first;
      std::uint64_t line_no = line_no_;
      for (;;) {
        bool ascii = false;
        const auto left = static_cast<std::size_t>(end - at);
        const std::size_t n = FindLineFeed(at, left, ascii);
        if (n + 1 >= left) break;
        const std::size_t size = n > 0 && at[n - 1] == '\r' ? n - 1 : n;
        const char next = at[n + 1];
        if (next == ' ' || next == '\t' || (size > 0 && at[size - 1] == '=') || size + 1 > budget) {
          break;
        }
        if (in_place_ == nullptr) in_place_ = at;
        const std::string_view text(at, size);
        at += n + 1;
        budget -= size + 1;
        step = Take(card, text, ascii, ++line_no, agent, error);
        if (step != Step::Next) break;
      }
      in_.Skip(static_cast<std::size_t>(at - first));
      line_no_ = logical_line_ = line_no;
    }
    if (step == Step::Next) {
      // Any other line through logical_, and a copy: the input's buffer may
      // move on, so nothing of the card may point into it any more.
      Evacuate(card);
      if (!held_ && !ReadPhysical(budget + 1)) {
        SetError(card, card.line, "the card has no END:VCARD before the end of the input");
        return true;
      }
      held_ = false;
      if (line_.size() + 1 > budget) return too_long(line_no_);
      budget -= line_.size() + 1;
      if (IsBlank(line_)) continue;
      logical_.swap(line_);
      logical_line_ = line_no_;
      bool over = false;
      Unfold(card.version, budget, over);
      if (over) return too_long(line_no_);
      const std::string_view text = card.text.Copy(logical_);
      step = Take(card, text, IsAscii(text), logical_line_, agent, error);
      if (step == Step::Next) continue;
    }
    switch (step) {
      case Step::Next:
        continue;
      case Step::End:
        return true;
      case Step::Agent:
        // The agent's own card: read past it.
        Evacuate(card);
        for (int depth = 1; depth > 0;) {
          if (!ReadPhysical(kSkimBytes)) {
            SetError(card, card.line, "the card has no END:VCARD before the end of the input");
            return true;
          }
          if (IsBegin(line_)) {
            ++depth;
          } else if (IsEnd(line_)) {
            --depth;
          }
        }
        agent = false;
        continue;
      case Step::Begin:
        SetError(card, card.line,
                 "the card has no END:VCARD before the BEGIN:VCARD on line " +
                     std::to_string(logical_line_));
        line_no_ = logical_line_;
        held_ = true;
        return true;
      case Step::TooMany:
        SetError(card, logical_line_,
                 "the card has more than " + std::to_string(limits_.max_lines) + " lines");
        Evacuate(card);
        SkipCard();
        return true;
    }
  }
}

[[gnu::always_inline]] inline Reader::Step Reader::Take(Card& card, std::string_view text,
                                                        bool ascii, std::uint64_t line, bool& agent,
                                                        std::string& error) {
  switch (text.empty() ? ' ' : text[0]) {
    case ' ':
    case '\t':
    case '\r':
    case '\x1A':
      if (IsBlank(text)) return Step::Next;
      break;
    case 'E':
    case 'e':
      if (IsEnd(text)) return Step::End;
      break;
    case 'B':
    case 'b':
      if (!IsBegin(text)) break;
      if (agent) return Step::Agent;
      logical_line_ = line;
      line_.assign(text);  // the next card's
      return Step::Begin;
    default:
      break;
  }
  agent = false;
  if (count_ == limits_.max_lines) {
    logical_line_ = line;
    return Step::TooMany;
  }
  // The lines of the card before are reused.
  if (count_ == card.lines.size()) card.lines.emplace_back();
  Line& l = card.lines[count_];
  l.line = line;
  // The most common line, NAME:VALUE in ASCII with the name in capitals,
  // where it stands; any other through the whole parser.
  bool small = false;
  const std::size_t i = NameEnd(text.data(), 0, text.size(), small);
  if (i != 0 && i < text.size() && text[i] == ':' && !small &&
      (ascii || (default_utf8_ && IsUtf8(text.substr(i + 1))))) {
    l.group = {};
    l.params = {};
    l.name = text.substr(0, i);
    l.value = text.substr(i + 1);
  } else if (!ParseLine(card, text, ascii, l, error)) {
    SetError(card, line, std::move(error));
    error.clear();
    return Step::Next;
  }
  if (l.name.size() == 7 && l.name == std::string_view("VERSION") && l.group.empty()) {
    card.version = TrimBlanks(l.value);
    return Step::Next;
  }
  ++count_;
  agent = l.value.empty() && l.name == std::string_view("AGENT");
  return Step::Next;
}

bool Reader::Next(Card& card) {
  count_ = 0;
  const bool any = ReadCard(card);
  card.lines.resize(count_);
  return any;
}

std::vector<std::string_view> Split(std::string_view value, char separator) {
  std::vector<std::string_view> pieces;
  std::size_t start = 0;
  for (std::size_t i = 0; i < value.size(); ++i) {
    if (value[i] == '\\') {
      ++i;
    } else if (value[i] == separator) {
      pieces.push_back(value.substr(start, i - start));
      start = i + 1;
    }
  }
  pieces.push_back(value.substr(start));
  return pieces;
}

std::size_t UnescapeTo(std::string_view value, bool v21, char* out) {
  // The runs between backslashes copied whole.
  const std::size_t n = value.size();
  std::size_t o = 0;
  for (std::size_t from = 0;;) {
    const std::size_t at = FindEither(value, from, '\\', '\\');
    if (at > from) std::memcpy(out + o, value.data() + from, at - from);
    o += at - from;
    if (at == n) return o;
    const char next = at + 1 < n ? value[at + 1] : '\0';
    if (at + 1 < n && (next == ';' || next == ',' || next == '\\')) {
      out[o++] = next;
      from = at + 2;
    } else if (at + 1 < n && !v21 && (next == 'n' || next == 'N')) {
      out[o++] = '\n';
      from = at + 2;
    } else {
      out[o++] = '\\';  // any other backslash stays, and what follows it
      from = at + 1;
    }
  }
}

std::string Unescape(std::string_view value, std::string_view version) {
  std::string out(value.size(), '\0');
  out.resize(UnescapeTo(value, version == "2.1", out.data()));
  return out;
}

}  // namespace qvvcard::vcf
