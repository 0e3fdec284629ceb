// A streaming reader of vCard files (versions 2.1, 3.0 and 4.0), one card
// at a time.
//
// Each content line is unfolded (a line end followed by a blank or a tab;
// in 2.1 also the soft line break "=" of a quoted-printable value, whose
// next line need not start with a blank), its parameters are parsed (2.1's
// bare "CELL" is TYPE=CELL, bare "QUOTED-PRINTABLE" ENCODING=..., TYPE
// lists split at commas, quotes removed), a quoted-printable value is
// decoded and the value converted to UTF-8 from its CHARSET (UTF-8 unless
// said otherwise). Backslash escapes stay in the value: the helpers below
// split and unescape it by the rules of the card's version. BASE64 values
// (photos, keys) are kept as they are, never decoded.
//
// A broken card (no END:VCARD, a line that is no property, bad
// quoted-printable, bytes that are no character of the charset, a card
// over the limits) comes back with an error and the line it was found on;
// reading goes on with the next card. Memory is bounded by the largest
// card, and by the card limit whatever the input.
#ifndef QVVCARD_VCARD_READER_HPP
#define QVVCARD_VCARD_READER_HPP

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "input/input_stream.hpp"

namespace qvvcard::vcf {

struct Param {
  std::string name;                 // in capitals
  std::vector<std::string> values;  // unquoted; a TYPE list split at its commas
};

struct Line {
  std::string group;  // "item1" of "item1.TEL", as written; "" without one
  std::string name;   // in capitals
  std::vector<Param> params;
  // Unfolded, quoted-printable decoded, in UTF-8; backslash escapes kept.
  std::string value;
  std::uint64_t line = 0;  // where the line starts, from 1

  // The first parameter called name (in capitals), or nullptr.
  const Param* Find(std::string_view name) const;
  // Whether a TYPE parameter holds type (any case).
  bool HasType(std::string_view type) const;
  // Whether the value is BASE64 (ENCODING=BASE64 or B), kept as it stands.
  bool Base64() const;
};

struct Card {
  std::string version;      // the VERSION line's value ("2.1", "3.0", "4.0"), "" without one
  std::vector<Line> lines;  // BEGIN, END and VERSION not among them
  std::uint64_t line = 0;   // of BEGIN:VCARD
  // Empty for a card read whole; otherwise what is wrong with it and where.
  std::string error;
  std::uint64_t error_line = 0;
};

struct Limits {
  std::size_t max_card_bytes = std::size_t{16} << 20;  // of its lines as they stand in the file
  std::size_t max_lines = 100000;                      // content lines of one card
};

class Reader {
 public:
  // Values without a CHARSET are taken as default_charset (an iconv name;
  // UTF-8 unless the caller knows better).
  explicit Reader(InputStream& in, Limits limits = {}, std::string default_charset = "UTF-8");
  ~Reader();
  Reader(const Reader&) = delete;
  Reader& operator=(const Reader&) = delete;

  // Reads the next card into card; false when the input has no more. Text
  // outside any card comes back as a card with an error.
  bool Next(Card& card);

 private:
  class Converter;
  bool ReadCard(Card& card);
  // A physical line: into line_, without its line end; false at the end.
  bool ReadPhysical(std::size_t max);
  // Reads the rest of a logical line begun in line_ into logical_.
  void Unfold(const std::string& version, std::size_t& budget, bool& over);
  // The content line s (unfolded) into out.
  bool ParseLine(std::string_view s, const std::string& version, Line& out, std::string& error);
  // A value in UTF-8 from the bytes of charset (utf8: it is UTF-8 already).
  bool TextValue(std::string_view bytes, const std::string& charset, bool utf8, std::string& value,
                 std::string& error);
  void SkipCard();
  void SetError(Card& card, std::uint64_t line, std::string what);

  InputStream& in_;
  Limits limits_;
  std::string default_charset_;
  bool default_utf8_ = true;
  std::unique_ptr<Converter> converter_;
  bool started_ = false;
  std::uint64_t line_no_ = 0;  // of the physical line in line_
  std::string line_;           // the physical line in hand
  bool held_ = false;          // line_ is read but not yet used
  std::string logical_;
  std::uint64_t logical_line_ = 0;
  std::string scratch_;
  std::string name_, value_, error_;  // of the parameter and line in hand
  std::size_t count_ = 0;             // lines of the card read so far
};

// The pieces of a value at each separator (';' for the parts of a
// structured value, ',' for the items of a list) that no backslash
// escapes; escapes stay in the pieces.
std::vector<std::string_view> Split(std::string_view value, char separator);
// The text of a value: "\\", "\;" and "\," are unescaped, and in 3.0 and
// 4.0 "\n" or "\N" is a line break (2.1 writes line breaks
// quoted-printable, so "C:\new" stays as it is there); any other backslash
// stays.
std::string Unescape(std::string_view value, std::string_view version);

}  // namespace qvvcard::vcf

#endif
