// What the adapters (the C interface, the Python module, the COM server,
// the command-line tool) say of a status: one table of words, the same on
// every surface, and the status of an exception caught at a member's edge.
#ifndef QV_VCARD_BRIDGE_STATUS_HPP
#define QV_VCARD_BRIDGE_STATUS_HPP

#include <cstdio>
#include <string>

#include "card/failure.hpp"
#include "qv_vcard/qvVCard.hpp"

namespace qv_VCard::bridge {

struct StatusWords {
  Status status;
  const char* text;
};

inline constexpr StatusWords kStatusWords[] = {
    {kOk, "success"},
    {kOverflow, "16-bit overflow"},
    {kOutOfMemory, "out of memory"},
    {kFail, "unspecified failure"},
    {kUnexpected, "unexpected failure"},
    {kInvalidArg, "invalid argument"},
    {kPointer, "null pointer"},
    {kMemberNotFound, "member not found"},
    {kTypeMismatch, "type mismatch"},
    {kUnknownName, "unknown name"},
    {kNoNamedArgs, "named arguments not supported"},
    {kBadParamCount, "wrong number of arguments"},
    {kNoUnicodeTranslation, "text not valid Unicode"},
};

// The words for a status; "failure" for one the system does not give.
constexpr const char* StatusText(Status s) noexcept {
  for (const StatusWords& w : kStatusWords) {
    if (w.status == s) return w.text;
  }
  return "failure";
}

// "0x800A0006": a status (or a dispatch identifier) in the unsigned
// hexadecimal form of HRESULTs.
inline std::string Hex32(std::int32_t v) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%08X", static_cast<unsigned>(v));
  return buf;
}
inline std::string StatusHex(Status s) { return Hex32(s); }

// "16-bit overflow (0x800A0006)".
inline std::string StatusMessage(Status s) {
  return std::string(StatusText(s)) + " (" + StatusHex(s) + ")";
}

using detail::StatusOfCurrentException;

}  // namespace qv_VCard::bridge

#endif
