// The content lines of a card: the group and name, the parameters (the
// plain form read at once, any other by the whole parser) and the value's
// encoding and charset.
#include <cstring>
#include <new>
#include <string>

#include "card/ascii.hpp"
#include "input/vcard_scan.hpp"

namespace qvvcard::vcf {

using qv_VCard::ascii::EqualIgnoringCase;
using namespace scan;

namespace {

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

// One NAME=VALUE of name characters before the value, the commonest
// parameters of all, read where they stand; false (nothing read) for any
// other.
[[gnu::always_inline]] inline bool OneParameter(TextStore& store, std::string_view s,
                                                std::size_t& at, Line& out) {
  bool small = false, small_value = false;
  const std::size_t key = at + 1;
  const std::size_t key_end = NameEnd(s.data(), key, s.size(), small);
  if (key_end == key || key_end >= s.size() || s[key_end] != '=') return false;
  const std::size_t value = key_end + 1;
  const std::size_t value_end = NameEnd(s.data(), value, s.size(), small_value);
  if (value_end == value || value_end >= s.size() || s[value_end] != ':') return false;
  std::string_view name = s.substr(key, key_end - key);
  if (small) name = UpperCopy(store, name);
  char* const room = store.Room(sizeof(std::string_view) + sizeof(Param));
  const auto* v = new (room) std::string_view(s.data() + value, value_end - value);
  const auto* param = new (room + sizeof(std::string_view)) Param{name, {v, 1}};
  out.params = {param, 1};
  at = value_end;
  return true;
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
    if (!IsType(p.name)) continue;
    for (const std::string_view v : p.values) {
      if (EqualIgnoringCase(v, type)) return true;
    }
  }
  return false;
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

bool Reader::ParseLine(Card& card, std::string_view s, std::size_t name_end, bool small, bool ascii,
                       Line& out, std::string& error) {
  out.group = {};
  out.params = {};
  const char* const p = s.data();
  const std::size_t n = s.size();
  std::size_t start = 0;
  std::size_t i = name_end;
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
  if (!OneParameter(card.text, s, i, out) && !PlainParameters(card, s, i, out) &&
      !ParseParameters(card, s, i, ascii, out, error)) {
    return false;
  }
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
  // (One NAME=VALUE is read by OneParameter before.)
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
    const std::string_view key = TrimBlanksAndReturns(s.substr(token, i - token));
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
      if (!was_quoted) v = TrimBlanksAndReturns(v);
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

}  // namespace qvvcard::vcf
