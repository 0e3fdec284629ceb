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
  const reads::SlotFields fields(c, record::kEmailGroup, slot);
  // The line is written exactly when the address reads as not empty; then
  // its reads go onto it in the order type, preference, address.
  const Text& value = fields.Stored(Property::Email1_Value);
  if (reads::ReadIsEmpty(Property::Email1_Value, value)) return kOk;
  const Text& type = fields.Stored(Property::Email1_Type);
  const bool internet = reads::ReadIsEmpty(Property::Email1_Type, type);
  const bool quoted = !internet && NeedsQuotes(type);
  const bool preferred = IsSet(fields.Value(Property::Email1_Pref));
  WriteLine(card, [&](auto& line) QV_VCARD_LINE_INLINE {
    line.append(lines::kEmail);
    line.append(lines::kTypeParameter);
    if (internet) {
      line.append(lines::kInternetType);
    } else if (quoted) {
      line.push_back(u'"');
      QuotedValue<std::remove_reference_t<decltype(line)>> in_quotes{line};
      reads::AppendRead(c, Property::Email1_Type, type, in_quotes);
      line.push_back(u'"');
    } else {
      reads::AppendRead(c, Property::Email1_Type, type, line);
    }
    if (preferred) {
      line.append(lines::kTypeParameter);
      line.append(lines::kPreferredType);
    }
    line.push_back(u':');
    reads::AppendRead(c, Property::Email1_Value, value, line);
    line.append(kLineEnd);
  });
  return kOk;
}

}  // namespace qv_VCard::writer
