#include "input/vcard_reader.hpp"

#include <iconv.h>
#include <utf8.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "card/ascii.hpp"

namespace qvvcard::vcf {

using qv_VCard::ascii::EqualIgnoringCase;

namespace {

// Outside a card and while a card is skipped only the start of a line
// matters (BEGIN:VCARD, END:VCARD, AGENT:): the rest is read past, not kept.
constexpr std::size_t kSkimBytes = 64;
// Buffers larger than this are given back after the card that needed them.
constexpr std::size_t kKeptRoom = std::size_t{1} << 20;

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
bool IsBegin(std::string_view line) { return IsFrame(line, "BEGIN"); }
bool IsEnd(std::string_view line) { return IsFrame(line, "END"); }

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

void Upper(std::string& s) {
  for (char& c : s) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
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

// Decodes quoted-printable text into out; false at an "=" that starts no
// escape (its offset in at).
bool DecodeQuotedPrintable(std::string_view in, std::string& out, std::size_t& at) {
  out.clear();
  out.reserve(in.size());
  for (std::size_t i = 0; i < in.size(); ++i) {
    const char c = in[i];
    if (c != '=') {
      out += c;
      continue;
    }
    if (i + 1 == in.size()) break;  // a soft line break at the very end
    const int hi = HexValue(in[i + 1]);
    const int lo = i + 2 < in.size() ? HexValue(in[i + 2]) : -1;
    if (hi < 0 || lo < 0) {
      at = i;
      return false;
    }
    out += static_cast<char>(hi * 16 + lo);
    i += 2;
  }
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

// The offset of the first byte that is not UTF-8, or npos.
std::size_t InvalidUtf8(std::string_view s) {
  if (IsAscii(s)) return std::string_view::npos;
  const auto bad = utf8::find_invalid(s.begin(), s.end());
  return bad == s.end() ? std::string_view::npos : static_cast<std::size_t>(bad - s.begin());
}

bool IsUtf8Name(std::string_view charset) {
  return EqualIgnoringCase(charset, "UTF-8") || EqualIgnoringCase(charset, "UTF8");
}

// 4.0 writes ^n, ^^ and ^' in parameter values for a line break, a caret
// and a double quote.
void DecodeCarets(std::string& v) {
  if (v.find('^') == std::string::npos) return;
  std::string out;
  for (std::size_t i = 0; i < v.size(); ++i) {
    if (v[i] == '^' && i + 1 < v.size()) {
      const char n = v[i + 1];
      if (n == 'n' || n == 'N' || n == '^' || n == '\'') {
        out += n == '^' ? '^' : n == '\'' ? '"' : '\n';
        ++i;
        continue;
      }
    }
    out += v[i];
  }
  v = std::move(out);
}

// What a bare 2.1 parameter (no "=") stands for.
const char* BareParameterName(std::string_view value) {
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

std::string Shown(char c) {
  const auto u = static_cast<unsigned char>(c);
  if (u >= 0x20 && u < 0x7F) return std::string("\"") + c + "\"";
  static constexpr char kHex[] = "0123456789ABCDEF";
  return std::string("the byte 0x") + kHex[u >> 4] + kHex[u & 15];
}

}  // namespace

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
    if (p.name != "TYPE") continue;
    for (const std::string& v : p.values) {
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

void Reader::Unfold(const std::string& version, std::size_t& budget, bool& over) {
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

bool Reader::ParseLine(std::string_view s, const std::string& version, Line& out,
                       std::string& error) {
  out.group.clear();
  out.value.clear();
  if (out.value.capacity() > kKeptRoom) std::string().swap(out.value);
  std::size_t i = 0;
  const auto name_end = [&] {
    while (i < s.size() && IsNameChar(s[i])) ++i;
    return i;
  };
  std::size_t start = i;
  name_end();
  if (i < s.size() && s[i] == '.' && i > start) {
    out.group.assign(s.substr(start, i - start));
    start = ++i;
    name_end();
  }
  if (i == s.size() || ((s[i] != ';' && s[i] != ':') && s.find(':', i) == s.npos)) {
    error = "no property: the line has no \":\"";
    return false;
  }
  if (i == start || (s[i] != ';' && s[i] != ':')) {
    error = i == start && s[i] == ':' ? "no property: the line has no name before \":\""
                                      : "no property: a name cannot hold " + Shown(s[i]);
    return false;
  }
  out.name.assign(s.substr(start, i - start));
  if (std::any_of(out.name.begin(), out.name.end(), [](char c) { return c >= 'a'; })) {
    Upper(out.name);
  }
  if (i < s.size() && s[i] == ':') {
    // No parameters, the most common line: its value as it stands.
    out.params.clear();
    const std::string_view raw = s.substr(i + 1);
    return TextValue(raw, default_charset_, default_utf8_, out.value, error);
  }

  // Parameters: ;NAME=VALUE[,VALUE...] or the bare ;VALUE of 2.1. The
  // line's earlier parameters are reused, with their room.
  std::size_t used = 0, types = std::string::npos;
  const auto acquire = [&](std::string_view name) -> std::size_t {
    if (used == out.params.size()) out.params.emplace_back();
    Param& p = out.params[used];
    p.name.assign(name);
    p.values.clear();
    return used++;
  };
  const bool carets = version == "4.0";
  bool failed = false;
  while (!failed && i < s.size() && s[i] == ';') {
    ++i;
    std::size_t token = i;
    while (i < s.size() && s[i] != '=' && s[i] != ';' && s[i] != ':') ++i;
    if (i == s.size()) break;
    const std::string_view key = TrimBlanks(s.substr(token, i - token));
    std::size_t at = 0;
    bool is_type = false;
    if (s[i] == '=') {
      name_.assign(key);
      Upper(name_);
      ++i;
      is_type = name_.size() == 4 && name_ == std::string_view("TYPE");
      at = is_type && types != std::string::npos ? types : acquire(name_);
    } else {
      const char* name = BareParameterName(key);
      i = token;
      is_type = std::string_view(name) == "TYPE";
      at = is_type && types != std::string::npos ? types : acquire(name);
    }
    if (is_type) types = at;
    // Values up to the next ";" or ":" outside quotes; commas part them
    // (TYPE even inside quotes: no type holds one).
    std::string& value = value_;
    value.clear();
    bool quoted = false, was_quoted = false, any = false;
    const auto finish = [&] {
      std::string_view v = was_quoted ? std::string_view(value) : TrimBlanks(value);
      if (v.empty() && is_type) {
      } else {
        std::string& kept = out.params[at].values.emplace_back(v);
        if (carets) DecodeCarets(kept);
        if (InvalidUtf8(kept) != std::string::npos) failed = true;
      }
      value.clear();
      was_quoted = false;
      any = true;
    };
    while (i < s.size()) {
      std::size_t j = i;
      while (j < s.size() && s[j] != '"' && s[j] != ',' && s[j] != ';' && s[j] != ':') ++j;
      value.append(s, i, j - i);
      i = j;
      if (i == s.size()) break;
      const char c = s[i];
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
        value += c;
        ++i;
      }
    }
    if (!value.empty() || !any) finish();
    if (quoted) {
      out.params.resize(used);
      error = "a quoted parameter value is not closed";
      return false;
    }
  }
  out.params.resize(used);
  if (failed) {
    error = "a parameter value is not UTF-8";
    return false;
  }
  if (i == s.size() || s[i] != ':') {
    error = "no property: the line has no \":\" after its parameters";
    return false;
  }
  const std::string_view raw = s.substr(i + 1);

  if (out.params.empty()) {
    return TextValue(raw, default_charset_, default_utf8_, out.value, error);
  }
  const Param* encoding = out.Find("ENCODING");
  const std::string_view enc = encoding != nullptr && !encoding->values.empty()
                                   ? std::string_view(encoding->values.front())
                                   : std::string_view();
  if (EqualIgnoringCase(enc, "BASE64") || EqualIgnoringCase(enc, "B")) {
    out.value.assign(raw);  // kept as it is: a photo, a key, a sound
    return true;
  }
  std::string_view bytes = raw;
  if (EqualIgnoringCase(enc, "QUOTED-PRINTABLE")) {
    std::size_t at = 0;
    if (!DecodeQuotedPrintable(raw, scratch_, at)) {
      error = "invalid quoted-printable: \"=" + std::string(raw.substr(at + 1, 2)) + "\"";
      return false;
    }
    bytes = scratch_;
  }
  const Param* charset = out.Find("CHARSET");
  if (charset == nullptr || charset->values.empty()) {
    return TextValue(bytes, default_charset_, default_utf8_, out.value, error);
  }
  const std::string& cs = charset->values.front();
  return TextValue(bytes, cs, IsUtf8Name(cs), out.value, error);
}

bool Reader::TextValue(std::string_view bytes, const std::string& charset, bool utf8,
                       std::string& value, std::string& error) {
  if (utf8 || IsAscii(bytes)) {
    if (const std::size_t bad = InvalidUtf8(bytes); bad != std::string::npos) {
      error = "bytes that are no text of the charset \"" + charset + "\" (at byte " +
              std::to_string(bad + 1) + " of the value)";
      return false;
    }
    value.assign(bytes);
    return true;
  }
  return converter_->Convert(charset, bytes, value, error);
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
  card.version.clear();
  card.line = 0;
  card.error.clear();
  card.error_line = 0;
  if (!started_) {
    started_ = true;
    in_.SkipByteOrderMark();
  }
  // The room a large card needed is not kept for the cards after it.
  if (logical_.capacity() > kKeptRoom) std::string().swap(logical_);
  if (!held_ && line_.capacity() > kKeptRoom) std::string().swap(line_);
  if (scratch_.capacity() > kKeptRoom) std::string().swap(scratch_);

  // To the next BEGIN:VCARD; text before it is reported as one card.
  std::uint64_t stray = 0;
  for (;;) {
    if (!held_ && !ReadPhysical(kSkimBytes)) {
      if (stray == 0) return false;
      break;
    }
    held_ = false;
    if (IsBegin(line_)) {
      if (stray != 0) held_ = true;
      break;
    }
    if (stray == 0 && !IsBlank(line_)) stray = line_no_;
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
    SkipCard();
    return true;
  };
  if (line_.size() + 1 > budget) return too_long(line_no_);
  budget -= line_.size() + 1;
  bool agent = false;
  for (;;) {
    // A line that stands whole in the input's buffer, the byte after it
    // too, and that neither a fold nor a soft line break continues is
    // read where it stands; any other line through logical_.
    std::string_view text;
    if (!held_) {
      const std::string_view buffered = in_.Buffered();
      const void* lf = std::memchr(buffered.data(), '\n', buffered.size());
      if (lf != nullptr) {
        const auto n = static_cast<std::size_t>(static_cast<const char*>(lf) - buffered.data());
        std::string_view line = buffered.substr(0, n);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (n + 1 < buffered.size() && buffered[n + 1] != ' ' && buffered[n + 1] != '\t' &&
            (line.empty() || line.back() != '=') && line.size() + 1 <= budget) {
          in_.Skip(n + 1);
          ++line_no_;
          budget -= line.size() + 1;
          logical_line_ = line_no_;
          text = line;
        }
      }
    }
    if (text.data() == nullptr) {
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
      text = logical_;
    } else if (IsBlank(text)) {
      continue;
    }
    if (IsEnd(text)) return true;
    if (IsBegin(text)) {
      if (agent) {
        // The agent's own card: read past it.
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
      }
      SetError(card, card.line,
               "the card has no END:VCARD before the BEGIN:VCARD on line " +
                   std::to_string(logical_line_));
      line_.assign(text);
      line_no_ = logical_line_;
      held_ = true;
      return true;
    }
    agent = false;
    if (count_ == limits_.max_lines) {
      SetError(card, logical_line_,
               "the card has more than " + std::to_string(limits_.max_lines) + " lines");
      SkipCard();
      return true;
    }
    // The lines of the card before are reused, with their room.
    if (count_ == card.lines.size()) card.lines.emplace_back();
    Line& l = card.lines[count_];
    l.line = logical_line_;
    if (!ParseLine(text, card.version, l, error_)) {
      SetError(card, logical_line_, std::move(error_));
      continue;
    }
    if (l.name.size() == 7 && l.name == std::string_view("VERSION") && l.group.empty()) {
      card.version.assign(TrimBlanks(l.value));
      continue;
    }
    ++count_;
    agent = l.value.empty() && l.name == std::string_view("AGENT");
  }
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

std::string Unescape(std::string_view value, std::string_view version) {
  const bool v21 = version == "2.1";
  std::string out;
  std::size_t at = value.find('\\');
  if (at == std::string_view::npos) return std::string(value);
  out.reserve(value.size());
  std::size_t from = 0;
  for (; at != std::string_view::npos; at = value.find('\\', from)) {
    out.append(value, from, at - from);
    from = at + 1;
    if (from == value.size()) {
      out += '\\';
      break;
    }
    const char n = value[from];
    if (n == ';' || n == ',' || n == '\\') {
      out += n;
      ++from;
    } else if (!v21 && (n == 'n' || n == 'N')) {
      out += '\n';
      ++from;
    } else {
      out += '\\';
    }
  }
  if (from < value.size()) out.append(value, from);
  return out;
}

}  // namespace qvvcard::vcf
