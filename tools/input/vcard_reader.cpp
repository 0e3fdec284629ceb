// The reader proper: the text store, charset conversion, physical lines
// and their unfolding, and the reading of one card after the other.
#include "input/vcard_reader.hpp"

#include <iconv.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <functional>

#include "card/ascii.hpp"
#include "card/simd.hpp"
#include "input/vcard_scan.hpp"

namespace qvvcard::vcf {

using qv_VCard::ascii::EqualIgnoringCase;
using namespace scan;

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

void TextStore::Shrink() noexcept {
  // The blocks up to kKeptRoom in all stay for the next card; an ordinary
  // card has one.
  std::size_t kept = 0, n = 0;
  while (n < blocks_.size() && kept + blocks_[n].size <= kKeptRoom) kept += blocks_[n++].size;
  blocks_.resize(n);
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
  if (card.lines.begin() + static_cast<std::ptrdiff_t>(count_) == card.lines.end()) {
    card.lines.emplace_back();
  }
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
  } else if (!ParseLine(card, text, i, small, ascii, l, error)) {
    SetError(card, line, std::move(error));
    error.clear();
    return Step::Next;
  }
  if (l.name.size() == 7 && l.name == std::string_view("VERSION") && l.group.empty()) {
    card.version = TrimBlanksAndReturns(l.value);
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

}  // namespace qvvcard::vcf
