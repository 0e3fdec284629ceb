#include "input/record_source.hpp"

#include <filesystem>

#include "card/ascii.hpp"
#include "common/text.hpp"

namespace qvvcard {

std::string FormatFor(const std::string& format, const std::string& name) {
  if (!format.empty()) return format;
  const std::string ext = LowerAscii(std::filesystem::path(name).extension().string());
  if (ext == ".jsonl" || ext == ".ndjson") return "jsonl";
  if (ext == ".vcf" || ext == ".vcard") return "vcf";
  return "csv";
}

bool LooksLikeVcard(InputStream& in) {
  std::string_view head = in.Gather(256);
  if (head.starts_with(kByteOrderMark)) head.remove_prefix(kByteOrderMark.size());
  while (!head.empty() && (head.front() == '\r' || head.front() == '\n' || head.front() == ' ' ||
                           head.front() == '\t')) {
    head.remove_prefix(1);
  }
  return head.size() >= 11 && qv_VCard::ascii::EqualIgnoringCase(head.substr(0, 11), "BEGIN:VCARD");
}

std::unique_ptr<RecordSource> OpenRecords(InputStream& in, const std::string& format,
                                          const std::string& shown, const ConvertOptions& options) {
  if (format == "jsonl") {
    if (!options.columns.empty()) {
      throw InputRefused("--columns applies to CSV input, not to the JSON Lines of " + shown);
    }
    return OpenJsonl(in, shown, options);
  }
  if (format == "vcf") {
    if (!options.columns.empty()) {
      throw InputRefused("--columns applies to CSV input, not to the vCards of " + shown);
    }
    return OpenVcf(in, shown, options);
  }
  return OpenCsv(in, shown, options);
}

InputRefused UnknownNames(const std::vector<UnknownName>& unknown, const char* what,
                          const std::string& in) {
  const auto one = [](const UnknownName& u, bool with_where) {
    std::string s = Quoted(u.name);
    // A name that is a property after a byte-order mark says so.
    const std::string near =
        StartsWithByteOrderMark(u.name) &&
                qv_VCard::FindProperty(std::string_view(u.name).substr(kByteOrderMark.size()))
            ? "it starts with a byte-order mark (U+FEFF) before " +
                  std::string(std::string_view(u.name).substr(kByteOrderMark.size()))
            : NearestPropertyName(u.name);
    if (with_where || !near.empty()) {
      s += " (";
      if (with_where) s += u.where;
      if (!near.empty()) {
        s += std::string(with_where ? "; " : "") +
             (near.starts_with("it starts") ? near : "did you mean " + near + "?");
      }
      s += ")";
    }
    return s;
  };
  std::string s;
  if (unknown.size() == 1) {
    s = std::string("unknown ") + what + " " + one(unknown[0], false) + " in " + unknown[0].where +
        " of " + in;
  } else {
    s = std::string("unknown ") + what + "s in " + in + ": ";
    for (std::size_t i = 0; i < unknown.size(); ++i) {
      if (i > 0) s += ", ";
      s += one(unknown[i], true);
    }
  }
  return InputRefused(s, RefusalKind::UnknownNames);
}

}  // namespace qvvcard
