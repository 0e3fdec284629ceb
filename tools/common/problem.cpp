#include "common/problem.hpp"

#include "bridge/status.hpp"
#include "common/text.hpp"

namespace qvvcard {

namespace {

using qv_VCard::Status;

// The words of each kind; "%" stands for the detail.
struct Words {
  ProblemKind kind;
  Status status;
  std::string_view text;
};

constexpr Words kWords[] = {
    {ProblemKind::GivenTwice, qv_VCard::kInvalidArg, "given twice"},
    {ProblemKind::InvalidUtf8, qv_VCard::kNoUnicodeTranslation, "invalid UTF-8 at byte %"},
    {ProblemKind::ExpectsText, qv_VCard::kTypeMismatch, "expects a text, not %"},
    {ProblemKind::ExpectsFlag, qv_VCard::kTypeMismatch,
     "expects true, false, yes, no or a 16-bit integer, not %"},
    {ProblemKind::ExpectsInteger, qv_VCard::kTypeMismatch, "expects a 16-bit integer, not %"},
    {ProblemKind::OutOfRange, qv_VCard::kOverflow, "% is outside the 16-bit range -32768 to 32767"},
    {ProblemKind::ExpectsLatitude, qv_VCard::kInvalidArg, "expects N or S, not %"},
    {ProblemKind::ExpectsLongitude, qv_VCard::kInvalidArg, "expects E or W, not %"},
    {ProblemKind::NotAssigned, qv_VCard::kOk, "cannot be assigned: %"},
    {ProblemKind::UnknownProperty, qv_VCard::kUnknownName, "%"},
    {ProblemKind::ByteOrderMark, qv_VCard::kInvalidArg,
     "starts with a byte-order mark (U+FEFF), which belongs at the start of a file only"},
    {ProblemKind::MissingHemisphere, qv_VCard::kInvalidArg, "#"},
    {ProblemKind::NotAPosition, qv_VCard::kTypeMismatch,
     "expects a position \"latitude,longitude\" in decimal degrees (such as "
     "\"40.4168,-3.7038\"), not %"},
    {ProblemKind::PositionOutOfRange, qv_VCard::kInvalidArg, "%"},
    {ProblemKind::PositionTwice, qv_VCard::kInvalidArg,
     "cannot be given together with %: give the position either as Geo or as degrees, "
     "minutes, seconds and hemispheres"},
    {ProblemKind::Malformed, qv_VCard::kOk, "%"},
    {ProblemKind::FieldCount, qv_VCard::kOk, "%"},
    {ProblemKind::UnnamedColumn, qv_VCard::kOk, "a value in a column without a name"},
    {ProblemKind::CardFailed, qv_VCard::kOk, "%"},
    {ProblemKind::NotUtf16, qv_VCard::kOk, "not valid UTF-16"},
};

// The table stands in the order of the kinds.
constexpr bool InKindOrder() {
  for (std::size_t i = 0; i < std::size(kWords); ++i) {
    if (static_cast<std::size_t>(kWords[i].kind) != i) return false;
  }
  return std::size(kWords) == static_cast<std::size_t>(ProblemKind::NotUtf16) + 1;
}
static_assert(InKindOrder());

const Words& WordsOf(ProblemKind kind) { return kWords[static_cast<std::size_t>(kind)]; }

}  // namespace

Status StatusOf(ProblemKind kind) noexcept { return WordsOf(kind).status; }

bool IsCardProblem(ProblemKind kind) noexcept {
  return kind == ProblemKind::CardFailed || kind == ProblemKind::NotUtf16;
}

Problem MakeProblem(ProblemKind kind, std::string field, std::string detail, Status status) {
  return Problem{std::move(field), kind, status != qv_VCard::kOk ? status : StatusOf(kind),
                 std::move(detail)};
}

std::string Describe(const Problem& p) {
  std::string detail = p.detail;
  // The problems that are a status say it in the system's words.
  if ((p.kind == ProblemKind::NotAssigned || p.kind == ProblemKind::CardFailed) && detail.empty()) {
    detail = qv_VCard::bridge::StatusMessage(p.status);
  }
  if (p.kind == ProblemKind::UnknownProperty) return UnknownPropertyText(p.field);
  if (p.kind == ProblemKind::MissingHemisphere) return p.field + " is empty: give " + detail;
  const std::string_view text = WordsOf(p.kind).text;
  std::string out;
  const std::size_t at = text.find('%');
  if (at == std::string_view::npos) return std::string(text);
  out.append(text.substr(0, at)).append(detail).append(text.substr(at + 1));
  return out;
}

std::string UnknownPropertyText(std::string_view name) {
  std::string s = "unknown property " + Quoted(name);
  const std::string near = NearestPropertyName(name);
  if (!near.empty()) s += " (did you mean " + near + "?)";
  return s;
}

std::string TwiceInHeaderText(std::string_view column, std::string_view where, std::size_t first,
                              std::size_t second) {
  return "column " + std::string(column) + " appears twice in the header of " + std::string(where) +
         " (columns " + std::to_string(first) + " and " + std::to_string(second) + ")";
}

}  // namespace qvvcard
