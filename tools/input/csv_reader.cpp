#include "input/csv_reader.hpp"

#include <algorithm>
#include <cstring>

#include "card/simd.hpp"

namespace qvvcard {

namespace {

// The bytes that end a run of ordinary field bytes: a quote and the line
// ends always, the separator outside quotes.
struct ByteSet {
  bool has[256] = {};
  constexpr explicit ByteSet(std::string_view bytes) {
    for (char c : bytes) has[static_cast<unsigned char>(c)] = true;
  }
};
constexpr ByteSet kQuotedStops("\"\r\n");

// The offset of the first stop byte in p[0, n), or n when there is none;
// unquoted_stops holds the separator as well.
template <bool kQuoted>
[[gnu::always_inline]] inline std::size_t FindStop(const char* p, std::size_t n,
                                                   [[maybe_unused]] char separator,
                                                   const bool* unquoted_stops) {
  std::size_t i = 0;
#if QV_VCARD_SSE2
  const __m128i quote = _mm_set1_epi8('"');
  const __m128i cr = _mm_set1_epi8('\r');
  const __m128i lf = _mm_set1_epi8('\n');
  const __m128i comma = _mm_set1_epi8(separator);
  for (; i + 16 <= n; i += 16) {
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
    __m128i hit = _mm_or_si128(_mm_cmpeq_epi8(b, quote),
                               _mm_or_si128(_mm_cmpeq_epi8(b, cr), _mm_cmpeq_epi8(b, lf)));
    if (!kQuoted) hit = _mm_or_si128(hit, _mm_cmpeq_epi8(b, comma));
    const int bits = _mm_movemask_epi8(hit);
    if (bits != 0) return i + static_cast<std::size_t>(__builtin_ctz(static_cast<unsigned>(bits)));
  }
#endif
  const bool* stops = kQuoted ? kQuotedStops.has : unquoted_stops;
  while (i < n && !stops[static_cast<unsigned char>(p[i])]) ++i;
  return i;
}

// Room kept beyond the record's bytes, so that a short run can be copied
// as one block of this size.
constexpr std::size_t kBlock = 16;

}  // namespace

CsvReader::CsvReader(InputStream& in, Limits limits, char separator)
    : in_(in), limits_(limits), separator_(separator) {
  if (limits_.max_fields == 0) limits_.max_fields = 1;
  for (const char c : {separator, '\r', '\n', '"'}) {
    unquoted_stops_[static_cast<unsigned char>(c)] = true;
  }
}

inline void CsvReader::StartField(CsvRecord& rec) {
  if (rec.count_ == limits_.max_fields) {
    // Further fields share the last one's slot and are reported.
    too_many_ = true;
    rec.size_ = rec.starts_[rec.count_ - 1];
    return;
  }
  if (rec.count_ == rec.starts_.size()) rec.starts_.resize(rec.count_ * 2 + 16);
  rec.starts_[rec.count_++] = rec.size_;
}

void CsvReader::Grow(CsvRecord& rec, std::size_t n) {
  // Doubling while records are small; by half as much again beyond, so a
  // large record holds little more room than its bytes.
  const std::size_t grown = rec.text_.size() < (std::size_t{1} << 20)
                                ? rec.text_.size() * 2
                                : rec.text_.size() + rec.text_.size() / 2;
  rec.text_.resize(std::max(grown, rec.size_ + n + kBlock));
}

void CsvRecord::ReleaseIfLarge(std::size_t bytes) {
  // By the record's own size: the room of an ordinary record is as large
  // as the input's buffer, and is kept from record to record.
  if (size_ <= bytes) return;
  std::string().swap(text_);
  count_ = 0;
  size_ = 0;
}

template <bool kChecked>
inline void CsvReader::Append(CsvRecord& rec, const char* bytes, std::size_t n,
                              std::size_t readable) {
  std::size_t kept = n;
  if (kChecked) {
    if (limits_.max_record_bytes - bytes_ < n) {
      kept = limits_.max_record_bytes - bytes_;
      too_long_ = true;
    }
    if (rec.text_.size() - rec.size_ < kept + kBlock) Grow(rec, kept);
  }
  char* const to = rec.text_.data() + rec.size_;
#if QV_VCARD_SSE2
  if (kept <= kBlock && readable >= kBlock) {
    // The bytes after the run are copied too, and overwritten later.
    _mm_storeu_si128(reinterpret_cast<__m128i*>(to),
                     _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes)));
  } else {
    std::memcpy(to, bytes, kept);
  }
#else
  (void)readable;
  std::memcpy(to, bytes, kept);
#endif
  rec.size_ += kept;
  bytes_ += kept;
}

template <bool kChecked>
const char* CsvReader::ReadUnquoted(CsvRecord& rec, const char* p, const char* const end,
                                    State& state, char& line_end) {
  for (;;) {
    if (state == State::FieldStart) {
      if (p == end) return p;
      if (*p == '"') {
        state = State::Quoted;
        return p + 1;
      }
      state = State::Unquoted;
    }
    const auto left = static_cast<std::size_t>(end - p);
    const std::size_t n = FindStop<false>(p, left, separator_, unquoted_stops_);
    Append<kChecked>(rec, p, n, left);
    p += n;
    if (p == end) return p;
    const char c = *p++;
    if (c == separator_) {
      StartField(rec);
      state = State::FieldStart;
    } else if (c == '"') {
      Flag(rec, "a quote inside an unquoted value");
      Append<kChecked>(rec, &c, 1, 1);
    } else {
      line_end = c;
      return p;
    }
  }
}

void CsvReader::Flag(CsvRecord& rec, const std::string& what) {
  if (rec.error_.empty()) rec.error_ = what + " in field " + std::to_string(rec.count_);
}

bool CsvReader::EndRecord(CsvRecord& rec) {
  if (too_many_) {
    rec.error_ = "more than " + std::to_string(limits_.max_fields) + " fields";
  } else if (too_long_) {
    rec.error_ = "record longer than " + std::to_string(limits_.max_record_bytes) + " bytes";
  }
  // The text is complete: it no longer moves.
  const std::size_t count = rec.count_;
  if (count == rec.starts_.size()) rec.starts_.push_back(0);
  rec.starts_[count] = rec.size_;
  if (rec.views_.size() < count) rec.views_.resize(count);
  const char* const text = rec.text_.data();
  for (std::size_t i = 0; i < count; ++i) {
    rec.views_[i] = std::string_view(text + rec.starts_[i], rec.starts_[i + 1] - rec.starts_[i]);
  }
  return true;
}

namespace {

// The separators among p[0, n), n at most 16, as bits (bit i for p[i]),
// and the quotes and line ends.
inline void StopBitsPlain(const char* p, std::size_t n, char separator, unsigned& separators,
                          unsigned& others) {
  separators = others = 0;
  for (std::size_t i = 0; i < n; ++i) {
    separators |= unsigned{p[i] == separator} << i;
    others |= unsigned{p[i] == '"' || p[i] == '\r' || p[i] == '\n'} << i;
  }
}

}  // namespace

bool CsvReader::ReadInPlace(CsvRecord& rec) {
  const std::string_view buffered = in_.Buffered();
  const char* const begin = buffered.data();
  const char* const end = begin + buffered.size();
  // The stops of the buffered bytes, sixteen at a time: each is the end of
  // a field, most of them separators; a quote anywhere, or no line end in
  // the buffer, sends the record the other way.
  const char* field = begin;
  std::size_t count = 0;
#if QV_VCARD_SSE2
  const __m128i quote = _mm_set1_epi8('"'), cr = _mm_set1_epi8('\r');
  const __m128i lf = _mm_set1_epi8('\n'), separator = _mm_set1_epi8(separator_);
#endif
  for (const char* block = begin; block < end; block += 16) {
    unsigned separators, others;  // the separators; quotes and line ends
#if QV_VCARD_SSE2
    if (end - block >= 16) {
      const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block));
      separators = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(b, separator)));
      others = static_cast<unsigned>(_mm_movemask_epi8(_mm_or_si128(
          _mm_cmpeq_epi8(b, quote), _mm_or_si128(_mm_cmpeq_epi8(b, cr), _mm_cmpeq_epi8(b, lf)))));
    } else {
      StopBitsPlain(block, static_cast<std::size_t>(end - block), separator_, separators, others);
    }
#else
    StopBitsPlain(block, std::min<std::size_t>(16, static_cast<std::size_t>(end - block)),
                  separator_, separators, others);
#endif
    // Room for as many fields as the block can end.
    if (rec.views_.size() - count < 16) rec.views_.resize(2 * count + 32);
    for (unsigned bits = separators | others; bits != 0; bits &= bits - 1) {
      const auto at = static_cast<unsigned>(__builtin_ctz(bits));
      const char* const stop = block + at;
      if (count == limits_.max_fields) return false;
      rec.views_[count++] = std::string_view(field, static_cast<std::size_t>(stop - field));
      field = stop + 1;
      if (((others >> at) & 1) == 0) continue;
      // A line end; a CR at the end of the buffer may be the first of CR LF.
      const char c = *stop;
      if (c == '"') {
        // Records with quotes tend to come together: the next few are read
        // the other way at once.
        quoted_ = 8;
        return false;
      }
      const char* next = stop + 1;
      if (c == '\r') {
        if (next == end) return false;
        if (*next == '\n') ++next;
      }
      // The fields' bytes are fewer than the record's.
      if (static_cast<std::size_t>(stop - begin) > limits_.max_record_bytes) return false;
      rec.count_ = count;
      in_.Skip(static_cast<std::size_t>(next - begin));
      ++line_;
      return true;
    }
  }
  return false;
}

bool CsvReader::Next(CsvRecord& rec) {
  if (!started_) {
    started_ = true;
    in_.SkipByteOrderMark();
  }
  rec.size_ = 0;
  rec.count_ = 0;
  rec.error_.clear();
  bytes_ = 0;
  too_long_ = too_many_ = false;

  // Blank lines between records carry nothing.
  for (;;) {
    const int c = in_.Peek();
    if (c == -1) return false;
    if (c != '\n' && c != '\r') break;
    in_.Get();
    if (c == '\r' && in_.Peek() == '\n') in_.Get();
    ++line_;
  }
  rec.line_ = line_;
  if (quoted_ > 0) {
    --quoted_;
  } else if (ReadInPlace(rec)) {
    return true;
  }

  // Works on the bytes the input has buffered, a run of ordinary bytes at a
  // time; a record may span any number of refills.
  State state = State::FieldStart;
  StartField(rec);
  for (;;) {
    if (in_.Buffered().empty() && in_.Peek() == -1) {
      if (state == State::Quoted) {
        Flag(rec, "a quoted value not closed before the end of the input");
      }
      return EndRecord(rec);
    }
    const std::string_view buffered = in_.Buffered();
    const char* const p = buffered.data();
    switch (state) {
      case State::FieldStart:
      case State::Unquoted: {
        // Every byte appended comes from the buffer: when the limit and the
        // room allow the whole buffer, nothing needs checking on the way.
        const std::size_t left = buffered.size();
        if (rec.text_.size() - rec.size_ < left + kBlock) Grow(rec, left);
        char line_end = 0;
        const char* const stop = limits_.max_record_bytes - bytes_ >= left
                                     ? ReadUnquoted<false>(rec, p, p + left, state, line_end)
                                     : ReadUnquoted<true>(rec, p, p + left, state, line_end);
        in_.Skip(static_cast<std::size_t>(stop - p));
        if (line_end != 0) {
          if (line_end == '\r' && in_.Peek() == '\n') in_.Get();
          ++line_;
          return EndRecord(rec);
        }
        break;
      }
      case State::Quoted: {
        const std::size_t n = FindStop<true>(p, buffered.size(), separator_, unquoted_stops_);
        Append<true>(rec, p, n, buffered.size());
        if (n == buffered.size()) {
          in_.Skip(n);
          break;
        }
        const char c = p[n];
        in_.Skip(n + 1);
        if (c == '"') {
          state = State::QuoteInQuoted;
        } else {  // a line end inside the value; CR LF counts once
          if (c == '\n' || in_.Peek() != '\n') ++line_;
          Append<true>(rec, &c, 1, 1);
        }
        break;
      }
      case State::QuoteInQuoted: {
        const char c = *p;
        in_.Skip(1);
        if (c == '"') {
          Append<true>(rec, &c, 1, 1);
          state = State::Quoted;
        } else if (c == separator_) {
          StartField(rec);
          state = State::FieldStart;
        } else if (c == '\n' || c == '\r') {
          if (c == '\r' && in_.Peek() == '\n') in_.Get();
          ++line_;
          return EndRecord(rec);
        } else {
          // Taken literally up to the next comma, and reported.
          Flag(rec, "text after the closing quote");
          Append<true>(rec, &c, 1, 1);
          state = State::Unquoted;
        }
        break;
      }
    }
  }
}

}  // namespace qvvcard
