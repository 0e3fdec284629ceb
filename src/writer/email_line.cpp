// EMAIL lines of the three e-mail slots.
#include "card/reads.hpp"

namespace qv_VCard::writer {

namespace {

// A type text that would end its parameter (":") or open a quoted string
// ('"') is written as a quoted parameter value.
bool NeedsQuotes(const Text& type) {
  bool found = false;
  for (const char16_t c : type) found |= c == u':' || c == u'"';
  return found;
}

}  // namespace

Status BuildEmailLine(const qvVCard& c, int slot, CardText& card) {
  if (slot < 1 || slot > 3) return kInvalidArg;
  const auto in_slot = [slot](Property p) {
    return record::InAlikeSlot(p, slot, record::kEmailSlotSize);
  };
  // The line is written exactly when the address reads as not empty; then
  // its reads go onto it in the order type, preference, address.
  if (reads::ReadIsEmpty(c, in_slot(Property::Email1_Value))) return kOk;
  const Property type = in_slot(Property::Email1_Type);
  Cursor line(card);
  line.append(lines::kEmail);
  line.append(lines::kTypeParameter);
  if (reads::ReadIsEmpty(c, type)) {
    line.append(lines::kInternetType);
  } else if (NeedsQuotes(detail::Access::Stored(c, type))) {
    line.push_back(u'"');
    QuotedValue quoted{line};
    reads::AppendRead(c, type, quoted);
    line.push_back(u'"');
  } else {
    reads::AppendRead(c, type, line);
  }
  if (IsSet(reads::ReadValue(c, in_slot(Property::Email1_Pref)))) {
    line.append(lines::kTypeParameter);
    line.append(lines::kPreferredType);
  }
  line.push_back(u':');
  reads::AppendRead(c, in_slot(Property::Email1_Value), line);
  line.append(kLineEnd);
  line.Commit();
  return kOk;
}

}  // namespace qv_VCard::writer
