#include "cli/batch_inputs.hpp"

#include <cerrno>
#include <system_error>

#include "input/csv_header.hpp"
#include "input/encoding.hpp"
#include "input/export_format.hpp"

namespace qvvcard {

namespace {

bool EndsWithIgnoringCase(std::string_view s, std::string_view end) {
  if (s.size() < end.size()) return false;
  for (std::size_t i = 0; i < end.size(); ++i) {
    char c = s[s.size() - end.size() + i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != end[i]) return false;
  }
  return true;
}

void Reopen(Input& input, int fd) {
  input.in.reset();
  input.fd.reset(fd);
  input.in = std::make_unique<InputStream>(input.fd.get());
}

// The first byte that is no blank and no byte-order mark; 0 for none.
char FirstByte(InputStream& in) {
  std::string_view head = in.Gather(256);
  if (head.starts_with("\xEF\xBB\xBF")) head.remove_prefix(3);
  const std::size_t at = head.find_first_not_of(" \t\r\n");
  return at == std::string_view::npos ? 0 : head[at];
}

}  // namespace

void OpenBatchInput(Input& input, const BatchOptions& options, ConvertOptions& convert,
                    const std::optional<Destination>& destination, bool first) {
  try {
    input.fd.reset(OpenInput(input.path));
  } catch (const std::system_error& e) {
    // "qvvcard batch in.csv out.vcf": the second name meant as the output.
    if (!first && e.code().value() == ENOENT &&
        (EndsWithIgnoringCase(input.path, ".vcf") || EndsWithIgnoringCase(input.path, ".vcard"))) {
      input.hint = "Every name after batch is an input; to write the cards into " + input.path +
                   ", use -o " + input.path + ".";
    }
    throw;
  }
  const auto input_id = IdOf(input.fd.get());
  if (destination && input_id && destination->id && *input_id == *destination->id) {
    throw InputRefused(destination->shown + " is the input " + input.shown);
  }
  // JSON Lines read twice (keys first) are copied to disk from a pipe.
  if (input.format == "jsonl" && convert.check_keys_first && !IsRewindable(input.fd.get())) {
    input.fd.reset(SpoolToTemporaryFile(input.fd.release()));
  }
  input.in = std::make_unique<InputStream>(input.fd.get());
  Encoding encoding = EncodingOf(*input.in, options.encoding);
  const auto decode = [&] {
    Reopen(input, DecodeToTemporaryFile(*input.in, encoding, input.shown));
    encoding = Encoding::Utf8;
  };
  // UTF-16 is read as UTF-8 by every reader; a vCard file is told by its
  // first line, whatever its name.
  if (encoding == Encoding::Utf16le || encoding == Encoding::Utf16be) decode();
  if (options.format.empty() && input.format == "csv") {
    if (LooksLikeVcard(*input.in)) {
      input.format = "vcf";
    } else if (FirstByte(*input.in) == '{') {
      throw InputRefused(input.shown + " looks like JSON Lines (it starts with \"{\"), not CSV; " +
                         "add --format jsonl to read it as such");
    }
  }
  convert.guessed_encoding = nullptr;
  convert.vcf_charset = "UTF-8";
  if (input.format == "vcf") {
    // Each value may name its own CHARSET; the encoding is that of the
    // others.
    if (encoding != Encoding::Utf8) convert.vcf_charset = IconvNameOf(encoding);
  } else {
    // An Outlook export (which Outlook writes in the Windows code page) that
    // is not UTF-8 throughout is read as Windows-1252, and said; no other
    // input is guessed at.
    if (!options.encoding && encoding == Encoding::Utf8 && input.format == "csv" &&
        ExportOfHeader(*input.in, convert) == FindExport("outlook")) {
      if (!IsRewindable(input.fd.get())) Reopen(input, SpoolToTemporaryFile(input.fd.release()));
      const bool utf8 = IsUtf8Throughout(*input.in);
      input.in->Rewind();
      if (!utf8) {
        encoding = Encoding::Cp1252;
        convert.guessed_encoding = NameOf(encoding);
      }
    }
    if (encoding != Encoding::Utf8) decode();
  }
  if (input.format == "csv" && convert.separator != 0 && convert.columns.empty()) {
    ConvertOptions found = convert;
    found.separator = 0;
    const Separator s = SeparatorOf(*input.in, found);
    if (s.known && s.c != convert.separator) {
      const auto name = [](char c) -> std::string {
        return c == '\t' ? "tab" : std::string("\"") + c + "\"";
      };
      input.hint = "The header does not split into known columns with the separator " +
                   name(convert.separator) + "; it does with " + name(s.c) +
                   " (leave out --delimiter to have it found).";
    }
  }
  input.source = OpenRecords(*input.in, input.format, input.shown, convert);
}

}  // namespace qvvcard
