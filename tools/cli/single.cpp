// qvvcard Name=value ...: one card from the command line.
#include <cstdio>
#include <string>

#include "bridge/access.hpp"
#include "bridge/status.hpp"
#include "bridge/utf.hpp"
#include "cli/commands.hpp"
#include "common/problem.hpp"
#include "common/text.hpp"
#include "input/card_builder.hpp"
#include "output/output_file.hpp"

namespace qvvcard {

using qv_VCard::bridge::TextToUtf8;

namespace {

using qv_VCard::PropertyInfo;

int RefuseUnknownName(const std::string& what) {
  std::fprintf(stderr,
               "qvvcard: %s\nRun \"qvvcard properties\" for every name and what it holds.\n",
               what.c_str());
  return kExitUsage;
}

// Writes what was made to standard output; a failed write is reported and
// makes the run fail (exit 2).
int Print(std::string_view utf8, int status) {
  try {
    OutputFile out(Resolve("-"));
    out.WriteCard(utf8);
    out.Finish();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "qvvcard: %s\n", e.what());
    return kExitUsage;
  }
  return status;
}

// Adds one read to out; returns false when the read failed.
bool PrintRead(const qv_VCard::qvVCard& card, const qv_VCard::MemberInfo& member,
               std::string& out) {
  qv_VCard::Value value;
  const bool number = member.property != nullptr && member.property->kind != qv_VCard::Kind::Text;
  const qv_VCard::Status s = qv_VCard::bridge::Get(
      card, member.dispid,
      number ? qv_VCard::bridge::Access::GetValue : qv_VCard::bridge::Access::GetText, value);
  if (qv_VCard::Failed(s)) {
    std::fprintf(stderr, "qvvcard: %s: %s\n", member.name,
                 qv_VCard::bridge::StatusMessage(s).c_str());
    return false;
  }
  if (const auto* n = std::get_if<std::int16_t>(&value)) {
    out += std::to_string(*n) + "\n";
    return true;
  }
  std::string utf8;
  if (!TextToUtf8(std::get<qv_VCard::Text>(value), utf8)) {
    std::fprintf(stderr, "qvvcard: %s: not valid UTF-16\n", member.name);
    return false;
  }
  out += utf8;
  out += '\n';
  return true;
}

}  // namespace

int RunSingle(const SingleOptions& options) {
  CardBuilder builder(options.rfc_escape);
  builder.Begin(1);
  for (const std::string& arg : options.assignments) {
    const std::size_t eq = arg.find('=');
    if (eq == std::string::npos) {
      std::fprintf(stderr,
                   "qvvcard: %s: expected Name=value (or \"batch\" to convert a file); "
                   "see qvvcard --help\n",
                   Quoted(arg).c_str());
      return kExitUsage;
    }
    const std::string name = arg.substr(0, eq);
    const std::string_view value = std::string_view(arg).substr(eq + 1);
    const PropertyInfo* info = qv_VCard::FindProperty(name);
    if (info != nullptr) {
      builder.Set(*info, value);
    } else if (IsGeoField(name)) {
      builder.SetGeo(value);
    } else {
      return RefuseUnknownName(UnknownPropertyText(name));
    }
    if (builder.bad()) {
      const Problem& p = builder.problems().front();
      std::fprintf(stderr, "qvvcard: %s: %s\n", p.field.c_str(), Describe(p).c_str());
      return kExitUsage;
    }
  }

  if (options.reads.empty()) {
    std::string card;
    if (!builder.Finish(card)) {
      // The card read's own failure, or what the values make of the record
      // as a whole (a position without its hemisphere).
      const Problem& p = builder.problems().front();
      std::fprintf(stderr, "qvvcard: %s: %s\n", p.field.c_str(), Describe(p).c_str());
      return IsCardProblem(p.kind) ? kExitSkipped : kExitUsage;
    }
    // What the card leaves out is said, as batch says it.
    const std::vector<std::string> left_out = builder.UntypedOfLast();
    for (const std::string& line : left_out) std::fprintf(stderr, "qvvcard: %s\n", line.c_str());
    return Print(card, options.strict && !left_out.empty() ? kExitSkipped : kExitOk);
  }

  // Every name is checked before anything is printed.
  std::vector<qv_VCard::MemberInfo> members;
  for (const std::string& name : options.reads) {
    qv_VCard::MemberInfo member;
    if (qv_VCard::Failed(qv_VCard::FindMember(name, member))) {
      std::vector<std::string_view> readable = {"vCard", "vCardFileName"};
      for (const auto& info : qv_VCard::Properties()) readable.push_back(info.name);
      const std::string near = Nearest(name, readable);
      return RefuseUnknownName("--get: unknown name " + Quoted(name) +
                               (near.empty() ? "" : " (did you mean " + near + "?)") +
                               "; besides the properties, vCard and vCardFileName are read");
    }
    if (member.kind == qv_VCard::MemberKind::Method) {  // (a clearer word than bridge::Get's)
      std::fprintf(stderr, "qvvcard: --get: %s is a method, not a property\n", member.name);
      return kExitUsage;
    }
    members.push_back(member);
  }
  bool ok = true;
  std::string out;
  for (const auto& member : members) ok = PrintRead(builder.card(), member, out) && ok;
  return Print(out, ok ? kExitOk : kExitSkipped);
}

}  // namespace qvvcard
