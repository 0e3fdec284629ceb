// The plain route: a card of the plain forms read and mapped in one sweep
// of the input's buffer, the common case of files that programs write.
//
// A card qualifies when it stands whole in the buffer (the byte after its
// END:VCARD line too) and every line is one of N, FN, ORG, TITLE, ROLE,
// NOTE, UID, REV, PRODID, VERSION and PROFILE:VCARD as NAME:VALUE, or TEL or
// EMAIL as NAME:VALUE or NAME;TYPE=WORD,...:VALUE with words the mapping
// knows; names in capitals, no groups, values ASCII or UTF-8, nothing
// folded, no line ending in "=", and nothing that would find no place. Its
// values come out exactly as the reader and the mapping would give them;
// any other card is left to those, nothing read.
#include <array>

#include "input/vcard_mapper.hpp"
#include "input/vcard_scan.hpp"

namespace qvvcard::vcf {

namespace mapping {

namespace {

using namespace scan;

// The line feeds of a run of bytes, found 64 bytes at a time, and the
// check that the bytes above ASCII before the last line feed found form
// UTF-8. Only whole blocks of 64 bytes are looked at: a line feed after the
// last whole block is not found.
class LineFeeds {
 public:
  LineFeeds(const char* p, std::size_t n) : p_(p), n_(n) {
    if (n_ >= 64) Load();
  }

  // The offset of the next line feed; false when there is none in the
  // whole blocks.
  bool Next(std::size_t& at) {
    while (feeds_ == 0) {
      if (high_ != 0) Check();
      block_ += 64;
      if (block_ + 64 > n_) return false;
      Load();
    }
    at = block_ + static_cast<std::size_t>(__builtin_ctzll(feeds_));
    feeds_ &= feeds_ - 1;
    return true;
  }
  // Whether the bytes before end (at most the end of the block in hand)
  // are UTF-8.
  bool Utf8Before(std::size_t end) {
    const std::size_t in = end - block_;
    if (in < 64) high_ &= (std::uint64_t{1} << in) - 1;
    if (high_ != 0) Check();
    return skip_ != kBad;
  }

 private:
  void Load() {
    const char* const b = p_ + block_;
    std::uint64_t feeds = 0, high = 0;
#if QV_VCARD_SSE2
    const __m128i lf = _mm_set1_epi8('\n');
    __m128i x[4];
    for (int k = 0; k < 4; ++k) {
      x[k] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + 16 * k));
      feeds |= std::uint64_t{static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(x[k], lf)))}
               << (16 * k);
    }
    // Mostly the block is ASCII: one test says so.
    if (_mm_movemask_epi8(_mm_or_si128(_mm_or_si128(x[0], x[1]), _mm_or_si128(x[2], x[3]))) != 0) {
      for (int k = 0; k < 4; ++k) {
        high |= std::uint64_t{static_cast<unsigned>(_mm_movemask_epi8(x[k]))} << (16 * k);
      }
    }
#else
    for (int k = 0; k < 64; ++k) {
      const auto c = static_cast<unsigned char>(b[k]);
      feeds |= std::uint64_t{c == '\n'} << k;
      high |= static_cast<std::uint64_t>(c >> 7) << k;
    }
#endif
    feeds_ = feeds;
    high_ = high;
  }
  // The sequences that start at the bytes above ASCII of the block in
  // hand, but for the continuation bytes of one checked before.
  void Check() {
    if (skip_ != kBad) skip_ = CheckSequences(p_, n_, block_, high_, skip_);
    high_ = 0;
  }
  // The same of the bytes of high, of the block at block, after a sequence
  // that ended at skip: where the last sequence ends, or kBad. (A function
  // of its arguments alone, so that the scan's own state needs no memory.)
  [[gnu::noinline]] static std::size_t CheckSequences(const char* p, std::size_t n,
                                                      std::size_t block, std::uint64_t high,
                                                      std::size_t skip) {
    for (; high != 0; high &= high - 1) {
      const std::size_t at = block + static_cast<std::size_t>(__builtin_ctzll(high));
      if (at < skip) continue;
      char16_t units[2];
      std::size_t count = 0;
      const std::size_t size =
          DecodeSequence(reinterpret_cast<const unsigned char*>(p) + at, n - at, units, count);
      if (size == 0) return kBad;
      skip = at + size;
    }
    return skip;
  }
  static constexpr std::size_t kBad = ~std::size_t{0};

  const char* p_;
  std::size_t n_;
  std::size_t block_ = 0;
  std::uint64_t feeds_ = 0, high_ = 0;  // of the block in hand: feeds not yet found; high bytes
  std::size_t skip_ = 0;                // the end of the last sequence checked, or kBad
};

// Whether text starts with word.
template <std::size_t N>
bool Starts(std::string_view text, const char (&word)[N]) {
  return text.size() >= N - 1 && std::memcmp(text.data(), word, N - 1) == 0;
}

// The line's name, when it is one the route takes; the name ends at
// text[size], a ":" (or, for TEL and EMAIL, also a ";").
bool NameOf(std::string_view t, PlainName& out) {
  const auto is = [&](auto&& word, PlainKind what, Property p = Property::FormatedName) {
    if (!Starts(t, word)) return false;
    out = {what, static_cast<std::uint8_t>(sizeof(word) - 2), p};
    return true;
  };
  const auto params = [&](std::size_t size, PlainKind what) {
    if (t.size() <= size || (t[size] != ':' && t[size] != ';')) return false;
    out = {what, static_cast<std::uint8_t>(size), Property::FormatedName};
    return true;
  };
  switch (t[0]) {
    case 'N':
      return is("N:", PlainKind::Name) || is("NOTE:", PlainKind::Text, Property::Note);
    case 'F':
      return is("FN:", PlainKind::Text, Property::FormatedName);
    case 'T':
      return (Starts(t, "TEL") && params(3, PlainKind::Tel)) ||
             is("TITLE:", PlainKind::Text, Property::Title);
    case 'E':
      return Starts(t, "EMAIL") && params(5, PlainKind::Email);
    case 'O':
      return is("ORG:", PlainKind::Org);
    case 'R':
      return is("REV:", PlainKind::Skip) || is("ROLE:", PlainKind::Text, Property::Role);
    case 'U':
      return is("UID:", PlainKind::Uid);
    case 'P':
      return is("PRODID:", PlainKind::Skip) || is("PROFILE:", PlainKind::Profile);
    case 'V':
      return is("VERSION:", PlainKind::Version);
    default:
      return false;
  }
}

// What the route makes of the head of line: its name, and for TEL and
// EMAIL the flags and preference of its TYPE words; false for a line it
// leaves to the reader.
bool ReadHead(std::string_view text, PlainHead& out) {
  if (!NameOf(text, out.name)) return false;
  std::size_t i = out.name.size;
  out.flags = 0;
  out.rank = kNotPreferred;
  while (text[i] == ';') {
    if (i + 6 > text.size() || text[i + 5] != '=' || (text[i + 1] | 0x20) != 't' ||
        (text[i + 2] | 0x20) != 'y' || (text[i + 3] | 0x20) != 'p' || (text[i + 4] | 0x20) != 'e') {
      return false;
    }
    i += 6;
    for (;;) {
      bool small = false;
      const std::size_t end = NameEnd(text.data(), i, text.size(), small);
      if (end == i || end == text.size()) return false;
      const std::string_view word = text.substr(i, end - i);
      if (out.name.what == PlainKind::Tel) {
        if (const TelFlags* f = TelTypeFlags(word)) {
          out.flags |= *f;
          if (*f == Bit(TelType::Pref)) out.rank = 1;
        } else if (!EqualIgnoringCase(word, "INTERNET")) {
          return false;  // a type with no place
        }
      } else if (EqualIgnoringCase(word, "PREF")) {
        out.rank = 1;
      } else if (!EqualIgnoringCase(word, "INTERNET")) {
        return false;  // a type the address keeps as it is
      }
      i = end;
      if (text[end] != ',') break;
      ++i;
    }
    if (text[i] != ';' && text[i] != ':') return false;
  }
  out.size = i + 1;
  return true;
}

}  // namespace

std::size_t Mapper::Plain(std::string_view ahead, std::uint64_t line, const Limits& limits,
                          Card& card, Mapped& out, std::uint64_t& lines, bool uid) {
  const char* const p = ahead.data();
  const std::size_t n = ahead.size();
  LineFeeds feeds(p, n);
  std::size_t start = 0, feed = 0;
  const std::uint64_t first = line;
  // The line [start, feed), without a carriage return before its line feed.
  const auto take = [&] {
    std::size_t size = feed - start;
    if (size > 0 && p[feed - 1] == '\r') --size;
    const std::string_view text(p + start, size);
    start = feed + 1;
    ++line;
    return text;
  };
  // Empty lines, then BEGIN:VCARD.
  std::string_view text;
  do {
    if (!feeds.Next(feed)) return 0;
    text = take();
  } while (text.empty());
  if (!kPlainBegin.Is(text)) return 0;
  const std::size_t begin = start - (text.size() + 1);  // of BEGIN:VCARD, but a carriage return

  Start(card, out);
  v21_ = false;
  card.version = {};
  card.line = line;
  card.error.clear();
  card.error_line = 0;
  // Room for the lines of an ordinary card, made before the mapping holds
  // on to any of them.
  if (card.lines.capacity() < 32) card.lines.reserve(32);
  Line* const room = card.lines.data();
  std::size_t made = card.lines.size();
  const std::size_t max_lines = limits.max_lines;
  std::size_t count = 0;    // lines of the card
  std::size_t content = 0;  // lines but VERSION, as the reader counts them
  Line scratch;
  PlainHead read;  // of a line whose head was not kept
  // The kept head of the next line's place in the card.
  PlainHead* next_head = plain_heads_.data();
  PlainHead* const heads_end = next_head + plain_heads_.size();
  // The line starts from which a head can be read whole in one go.
  const std::size_t loadable = n >= PlainHead::kMost ? n - PlainHead::kMost : 0;
  for (;;) {
    if (!feeds.Next(feed) || feed + 1 >= n) [[unlikely]] {
      return 0;
    }
    // A blank or a tab after the line feed folds the line.
    if (const char next = p[feed + 1];
        static_cast<unsigned char>(next) <= ' ' && (next == ' ' || next == '\t')) [[unlikely]] {
      return 0;
    }
    text = take();
    if (text.empty()) continue;
    if (text.back() == '=') [[unlikely]] {
      return 0;
    }
    PlainHead* const memo = next_head != heads_end ? next_head++ : nullptr;
    const PlainHead* head = memo;
    // (No kept head is the start of END:VCARD.)
    if (memo == nullptr ||
        !memo->Starts(text, static_cast<std::size_t>(text.data() - p) < loadable)) [[unlikely]] {
      if ((text[0] | 0x20) == 'e' && kPlainEnd.Is(text)) break;
      if (!ReadHead(text, read)) return 0;
      if (memo != nullptr && read.size <= PlainHead::kMost) memo->Keep(text, read);
      head = &read;
    }
    if (content == max_lines) [[unlikely]] {
      return 0;
    }
    const PlainName name = head->name;
    const std::string_view value(text.data() + head->size, text.size() - head->size);
    if (name.what == PlainKind::Version) {
      card.version = TrimBlanksAndReturns(value);
      if (card.version == "2.1") return 0;  // its escapes read otherwise
      continue;
    }
    ++content;
    if (name.what == PlainKind::Skip || (name.what == PlainKind::Uid && !uid)) continue;
    // The lines that give no value the card keeps need no line of the card.
    const bool kept = name.what != PlainKind::Uid && name.what != PlainKind::Profile;
    if (kept && count == made) {
      // The lines must not move: the mapping holds on to them. A card
      // longer than any before it is left to the reader, which makes room.
      if (made == card.lines.capacity()) return 0;
      card.lines.emplace_back();
      ++made;
    }
    Line& l = kept ? room[count] : scratch;
    count += kept ? 1 : 0;
    l.group = {};
    l.name = std::string_view(text.data(), name.size);
    l.params = {};
    l.value = value;
    l.line = line;
    switch (name.what) {
      case PlainKind::Text:
        Text(name.property, l);
        break;
      case PlainKind::Name:
        Name(l);
        break;
      case PlainKind::Org:
        Organisation(l);
        break;
      case PlainKind::Uid:
        UidLine(l);
        break;
      case PlainKind::Profile:
        if (value != "VCARD" && !EqualIgnoringCase(TrimBlanks(value), "VCARD")) return 0;
        break;
      case PlainKind::Tel: {
        if (IsUri(value, "tel:")) return 0;
        const std::string_view number = Typed(value);
        if (!number.empty()) tels_.push_back({&l, head->rank, number, head->flags, 0, 0, true});
        break;
      }
      case PlainKind::Email: {
        std::string_view address = Typed(value);
        if (IsUri(address, "mailto:")) address = TrimBlanks(address.substr(7));
        if (!address.empty()) {
          emails_.push_back({&l, head->rank, address, {}, head->rank == 1, true});
        }
        break;
      }
      case PlainKind::Skip:
      case PlainKind::Version:
        break;
    }
  }
  // Within the card limit even with its carriage returns (the reader
  // counts a line without one), and UTF-8 when all of it is (no character
  // holds a line feed).
  if (start - begin > limits.max_card_bytes || !feeds.Utf8Before(start)) return 0;
  if (!tels_.empty()) Telephones();
  if (!emails_.empty()) Emails();
  if (!out.lost.empty()) return 0;  // told by the whole mapping, with its reasons
  if (made != count) card.lines.resize(count);
  lines = line - first;
  return start;
}

}  // namespace mapping

std::size_t MapPlainCard(std::string_view ahead, std::uint64_t line, const Limits& limits,
                         Card& card, Mapped& out, std::uint64_t& lines, bool uid) {
  thread_local mapping::Mapper mapper;
  return mapper.Plain(ahead, line, limits, card, out, lines, uid);
}

bool ReadMapped(Reader& reader, Card& card, Mapped& out, bool uid) {
  // A card that the buffer's end cuts is left to the reader: the buffer of
  // a file is topped up once it holds less than this, more than any
  // ordinary card.
  constexpr std::size_t kTopUp = std::size_t{8} << 10;
  if (const std::string_view ahead = reader.Ahead(kTopUp); !ahead.empty()) {
    std::uint64_t lines = 0;
    if (const std::size_t used =
            MapPlainCard(ahead, reader.line(), reader.limits(), card, out, lines, uid)) {
      reader.Consume(used, lines);
      return true;
    }
  }
  if (!reader.Next(card)) return false;
  if (card.error.empty()) MapCard(card, out);
  return true;
}

}  // namespace qvvcard::vcf
