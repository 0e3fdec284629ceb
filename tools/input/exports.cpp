#include "input/exports.hpp"

#include <algorithm>
#include <array>
#include <cstdio>
#include <map>
#include <stdexcept>

#include "card/ascii.hpp"
#include "input/values.hpp"

namespace qvvcard {

using qv_VCard::PropertyInfo;
using qv_VCard::ascii::EqualIgnoringCase;
using qv_VCard::ascii::Fold;

namespace {

constexpr std::size_t kNone = static_cast<std::size_t>(-1);
// Between the values of a cell; blanks around each value are removed, so
// that an empty value between two ("a :::  ::: b", "a ::: ::: b") keeps its
// place.
constexpr std::string_view kMultiSeparator = ":::";

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

// Whether name is pattern, '#' in pattern standing for a decimal number
// (given back in group).
bool Matches(std::string_view pattern, std::string_view name, std::uint32_t& group) {
  group = 0;
  std::size_t i = 0;
  for (const char p : pattern) {
    if (p == '#') {
      const std::size_t start = i;
      std::uint32_t n = 0;
      while (i < name.size() && name[i] >= '0' && name[i] <= '9' && i - start < 6) {
        n = n * 10 + static_cast<std::uint32_t>(name[i] - '0');
        ++i;
      }
      if (i == start || n == 0) return false;
      group = n;
    } else {
      if (i >= name.size() || Fold(name[i]) != Fold(p)) return false;
      ++i;
    }
  }
  return i == name.size();
}

// The pieces of a cell: the whole cell, or with multi, each value between
// ":::" (blanks around them removed, empty ones left out).
template <typename F>
void ForEachPiece(std::string_view cell, bool multi, F&& f) {
  while (true) {
    const std::size_t at = multi ? cell.find(kMultiSeparator) : std::string_view::npos;
    const std::string_view piece = Trim(cell.substr(0, at));
    if (!piece.empty()) f(piece);
    if (at == std::string_view::npos) return;
    cell.remove_prefix(at + kMultiSeparator.size());
  }
}
// Piece k of a cell split as above, keeping empty pieces in their place
// ("" when there are fewer).
std::string_view PieceAt(std::string_view cell, bool multi, std::size_t k) {
  for (std::size_t n = 0;; ++n) {
    const std::size_t at = multi ? cell.find(kMultiSeparator) : std::string_view::npos;
    if (n == k) return Trim(cell.substr(0, at));
    if (at == std::string_view::npos) return {};
    cell.remove_prefix(at + kMultiSeparator.size());
  }
}
std::size_t PieceCount(std::string_view cell, bool multi) {
  if (cell.empty()) return 0;
  std::size_t n = 1;
  for (std::size_t at = 0; multi && (at = cell.find(kMultiSeparator, at)) != cell.npos;
       at += kMultiSeparator.size()) {
    ++n;
  }
  return n;
}

// A label without the mark "* " of the primary entry; primary says
// whether it had it.
std::string_view Unmarked(std::string_view label, bool& primary) {
  label = Trim(label);
  primary = label.starts_with("* ");
  if (primary) label = Trim(label.substr(2));
  return label;
}

// Telephone types, as the flags of a slot.
enum TelFlag : std::uint16_t {
  kPref = 1 << 0,
  kWork = 1 << 1,
  kHome = 1 << 2,
  kVoice = 1 << 3,
  kFax = 1 << 4,
  kCell = 1 << 5,
  kPager = 1 << 6,
  kCar = 1 << 7,
  kIsdn = 1 << 8,
};
constexpr std::array<std::string_view, 9> kTelFlagNames = {"Pref", "Work",  "Home", "Voice", "Fax",
                                                           "Cell", "Pager", "Car",  "Isdn"};

struct LabelFlags {
  std::string_view label;
  std::uint16_t flags;
};
// Telephone labels (any case) and the types they give; other labels give
// none here and are taken as voice numbers.
const LabelFlags kPhoneLabels[] = {
    {"Mobile", kCell},
    {"Work", kWork | kVoice},
    {"Home", kHome | kVoice},
    {"Work Fax", kWork | kFax},
    {"Home Fax", kHome | kFax},
    {"Other Fax", kFax},
    {"Fax", kFax},
    {"Pager", kPager},
    {"Work Pager", kWork | kPager},
    {"Work Mobile", kWork | kCell},
    {"Car", kCar},
    {"ISDN", kIsdn},
    {"Main", kVoice},
    {"Other", kVoice},
    {"Primary", kPref | kVoice},
};

std::uint16_t PhoneFlags(std::string_view label) {
  for (const LabelFlags& l : kPhoneLabels) {
    if (EqualIgnoringCase(l.label, label)) return l.flags;
  }
  return 0;
}

// Labels an export gives every contact of a kind; they are no categories.
const std::string_view kSystemLabels[] = {"myContacts", "My Contacts", "starred",
                                          "Starred in Android"};

bool IsSystemLabel(std::string_view label) {
  return std::any_of(std::begin(kSystemLabels), std::end(kSystemLabels),
                     [&](std::string_view s) { return EqualIgnoringCase(s, label); });
}

// M/D/YYYY as YYYY-MM-DD; false for anything else.
bool UsDateToIso(std::string_view s, std::string& out) {
  unsigned parts[3] = {0, 0, 0};
  std::size_t digits[3] = {0, 0, 0};
  std::size_t k = 0;
  for (const char c : s) {
    if (c == '/') {
      if (++k == 3) return false;
    } else if (c >= '0' && c <= '9' && digits[k] < 4) {
      parts[k] = parts[k] * 10 + static_cast<unsigned>(c - '0');
      ++digits[k];
    } else {
      return false;
    }
  }
  if (k != 2 || digits[0] == 0 || digits[0] > 2 || digits[1] == 0 || digits[1] > 2 ||
      digits[2] != 4 || parts[0] < 1 || parts[0] > 12 || parts[1] < 1 || parts[1] > 31) {
    return false;
  }
  char buf[16];
  std::snprintf(buf, sizeof buf, "%04u-%02u-%02u", parts[2], parts[0], parts[1]);
  out = buf;
  return true;
}

// The properties of the slots, looked up once.
struct Slots {
  struct Tel {
    const PropertyInfo* number;
    std::array<const PropertyInfo*, kTelFlagNames.size()> flags;
  };
  struct Email {
    const PropertyInfo *value, *type, *pref;
  };
  struct Adr {
    // PostOffice, Extended, Street, Locality, Region, PostalCode, Country
    std::array<const PropertyInfo*, 7> parts;
    const PropertyInfo *work, *home, *postal;
  };
  std::array<Tel, 4> tel;
  std::array<Email, 3> email;
  std::array<Adr, 3> adr;
  const PropertyInfo *url, *categories;

  static const PropertyInfo* Find(const std::string& name) {
    const PropertyInfo* p = qv_VCard::FindProperty(name);
    if (p == nullptr) throw std::logic_error("no property " + name);
    return p;
  }
  Slots() {
    for (std::size_t i = 0; i < tel.size(); ++i) {
      const std::string t = "Tel" + std::to_string(i + 1) + "_";
      tel[i].number = Find(t + "Number");
      for (std::size_t f = 0; f < kTelFlagNames.size(); ++f) {
        tel[i].flags[f] = Find(t + std::string(kTelFlagNames[f]));
      }
    }
    for (std::size_t i = 0; i < email.size(); ++i) {
      const std::string e = "Email" + std::to_string(i + 1) + "_";
      email[i] = {Find(e + "Value"), Find(e + "Type"), Find(e + "Pref")};
    }
    static const char* const kAdrParts[] = {"PostOffice", "Extended",   "Street", "Locality",
                                            "Region",     "PostalCode", "Country"};
    for (std::size_t i = 0; i < adr.size(); ++i) {
      const std::string a = "Adr" + std::to_string(i + 1) + "_";
      for (std::size_t p = 0; p < adr[i].parts.size(); ++p)
        adr[i].parts[p] = Find(a + kAdrParts[p]);
      adr[i].work = Find(a + "Work");
      adr[i].home = Find(a + "Home");
      adr[i].postal = Find(a + "Postal");
    }
    url = Find("Url");
    categories = Find("Categorie");
  }
};

const Slots& TheSlots() {
  static const Slots slots;
  return slots;
}

std::string Plural(std::uint64_t n, const char* word) {
  return std::to_string(n) + " " + word + (n == 1 ? "" : "s");
}

// Why a value found no place.
constexpr const char* kNoPlace = "had a value with no place on the card";
constexpr const char* kNoTelephone = "had a value with no telephone slot left";
constexpr const char* kNoEmail = "had a value with no e-mail slot left";
constexpr const char* kNoAddress = "had a value with no address slot left";
constexpr const char* kNoWebsite = "had a value with no website slot left";
constexpr const char* kNoOrganisation = "had a value with no organisation slot left";
constexpr const char* kNotUsDate = "had a value that is not a date M/D/YYYY";
constexpr const char* kNotInMap = "had a value in a column the column map does not name";

void AppendEscaped(std::string& out, std::string_view item, bool escape) {
  for (const char c : item) {
    if (escape && (c == '\\' || c == ';' || c == ',')) out += '\\';
    out += c;
  }
}

}  // namespace

const ExportFormat* FindExport(std::string_view key) {
  for (const ExportFormat& f : KnownExports()) {
    if (EqualIgnoringCase(f.key, key)) return &f;
  }
  return nullptr;
}

const ExportColumn* FindExportColumn(const ExportFormat& format, std::string_view name,
                                     std::uint32_t& group) {
  name = Trim(name);
  for (const ExportColumn& c : format.columns) {
    if (Matches(c.header, name, group)) return &c;
  }
  return nullptr;
}

bool PropertyHeader(std::span<const std::string_view> names) {
  bool any = false;
  for (const std::string_view n : names) {
    const std::string_view name = Trim(n);
    if (name.empty()) continue;
    if (qv_VCard::FindProperty(name) == nullptr) return false;
    any = true;
  }
  return any;
}

const ExportFormat* RecogniseExport(std::span<const std::string_view> names) {
  const auto formats = KnownExports();
  std::size_t named = 0;
  std::vector<std::size_t> known(formats.size()), distinct(formats.size());
  for (const std::string_view n : names) {
    if (Trim(n).empty()) continue;
    ++named;
    std::size_t matched = 0, which = 0;
    for (std::size_t f = 0; f < formats.size(); ++f) {
      std::uint32_t group = 0;
      if (FindExportColumn(formats[f], n, group) != nullptr) {
        ++known[f];
        ++matched;
        which = f;
      }
    }
    if (matched == 1) ++distinct[which];
  }
  const ExportFormat* best = nullptr;
  std::size_t best_known = 0;
  bool tie = false;
  for (std::size_t f = 0; f < formats.size(); ++f) {
    if (distinct[f] == 0 || known[f] * 2 <= named) continue;
    if (known[f] > best_known) {
      best = &formats[f];
      best_known = known[f];
      tie = false;
    } else if (known[f] == best_known) {
      tie = true;
    }
  }
  return tie ? nullptr : best;
}

bool RecognisedHeader(std::span<const std::string_view> names) {
  return PropertyHeader(names) || RecogniseExport(names) != nullptr;
}

// ---------------------------------------------------------------------------

void ColumnPlan::Lose(std::size_t i, std::uint64_t n, const char* reason) {
  Column& c = columns_[i];
  if (c.last == n) return;
  c.last = n;
  ++c.lost;
  if (c.reason == nullptr) c.reason = reason;
}

std::vector<std::string> ColumnPlan::Report() const {
  std::vector<std::string> lines;
  for (const Column& c : columns_) {
    if (c.lost > 0 && !c.elsewhere)
      lines.push_back(c.name + ": " + Plural(c.lost, "record") + " " + c.reason);
  }
  return lines;
}

namespace {

// A plan for an export: each column by its row, the numbered groups
// gathered, the slots filled record by record.
class ExportPlan final : public ColumnPlan {
 public:
  ExportPlan(const ExportFormat& format, std::span<const std::string_view> names,
             const ConvertOptions& options, const std::string& shown, bool forced)
      : multi_(format.multi_values), escape_(options.rfc_escape) {
    std::map<std::pair<const ExportColumn*, std::uint32_t>, std::size_t> seen;
    std::map<std::uint32_t, std::size_t> emails, addresses, websites;
    std::map<std::pair<std::uint8_t, std::uint32_t>, std::size_t> phones;
    std::size_t known = 0;
    for (std::size_t i = 0; i < names.size(); ++i) {
      Use u;
      columns_.push_back({std::string(Trim(names[i]))});
      if (columns_.back().name.empty()) {
        u.holds = Holds::Qualifier;
        u.unnamed = true;
        uses_.push_back(u);
        continue;
      }
      std::uint32_t group = 0;
      const ExportColumn* row = FindExportColumn(format, names[i], group);
      if (row == nullptr) {
        uses_.push_back(u);  // no place
        continue;
      }
      ++known;
      const auto [at, fresh] = seen.emplace(std::make_pair(row, group), i);
      if (!fresh) {
        throw InputRefused("column " + Quoted(columns_[i].name) +
                               " appears twice in the header of " + shown + " (columns " +
                               std::to_string(at->second + 1) + " and " + std::to_string(i + 1) +
                               ")",
                           false);
      }
      if (group == 0) group = row->group;
      u.holds = row->holds;
      u.none = row->none;
      u.group = group;
      if (!row->property.empty()) u.property = Slots::Find(std::string(row->property));
      switch (row->holds) {
        case Holds::Phone: {
          // A column whose name is its label is a group of its own.
          const std::uint32_t key = row->label.empty() ? group : 0x100000 + i;
          auto [it, added] = phones.emplace(std::make_pair(row->rank, key), phones_.size());
          if (added) phones_.push_back({});
          PhoneGroup& g = phones_[it->second];
          g.fixed = row->label;
          (row->part == Part::Label ? g.label : g.value) = i;
          break;
        }
        case Holds::Email: {
          auto [it, added] = emails.emplace(group, 0);
          if (added) {
            it->second = emails_.size();
            emails_.push_back({});
          }
          EmailGroup& g = emails_[it->second];
          (row->part == Part::Label ? g.label : row->part == Part::Value ? g.value : g.display) = i;
          break;
        }
        case Holds::Address: {
          auto [it, added] = addresses.emplace(group, 0);
          if (added) {
            it->second = addresses_.size();
            addresses_.push_back({});
          }
          AddressGroup& g = addresses_[it->second];
          g.fixed = row->label;
          if (row->part == Part::Label) {
            g.label = i;
          } else if (row->part == Part::Formatted) {
            g.formatted = i;
          } else {
            g.parts[static_cast<std::size_t>(row->part) - static_cast<std::size_t>(Part::Street)] =
                i;
          }
          break;
        }
        case Holds::Website:
          if (row->part == Part::Value) websites.emplace(group, i);
          break;
        default:
          break;
      }
      uses_.push_back(u);
    }
    if (known == 0) {
      throw InputRefused(
          "no column of the header of " + shown + " is one of " + std::string(format.shown), false);
    }
    // Groups in the order of their numbers (maps are ordered); telephones
    // by rank first.
    SortByKey(emails, emails_);
    SortByKey(addresses, addresses_);
    SortByKey(phones, phones_);
    for (const auto& [group, column] : websites) websites_.push_back(column);
    notice_ = "qvvcard: reading " + shown + " as " + std::string(format.shown) +
              (forced ? " (--columns " + std::string(format.key) + ")" : "");
  }

  void Apply(std::span<const std::string_view> values, CardBuilder& b) override {
    values_ = values;
    n_ = b.record();
    categories_.clear();
    for (std::size_t i = 0; i < values.size(); ++i) {
      const std::string_view v = values[i];
      if (v.empty()) continue;
      const Use& u = uses_[i];
      if (!u.none.empty() && Trim(v) == u.none) continue;
      switch (u.holds) {
        case Holds::Property:
          Put(b, i, *u.property, v);
          break;
        case Holds::UsDate:
          if (UsDateToIso(Trim(v), text_)) {
            Put(b, i, *u.property, text_);
          } else {
            Lose(i, n_, kNotUsDate);
          }
          break;
        case Holds::LabelList:
          categories_column_ = i;
          ForEachPiece(v, multi_, [&](std::string_view label) {
            bool system = false;
            label = Unmarked(label, system);
            if (!(system && IsSystemLabel(label)) && !label.empty()) AddCategory(label);
          });
          break;
        case Holds::SemicolonList:
          categories_column_ = i;
          for (std::string_view rest = v;;) {
            const std::size_t at = rest.find(';');
            const std::string_view item = Trim(rest.substr(0, at));
            if (!item.empty()) AddCategory(item);
            if (at == std::string_view::npos) break;
            rest.remove_prefix(at + 1);
          }
          break;
        case Holds::Organisation:
          if (u.group <= 1) {
            Put(b, i, *u.property, v);
          } else {
            Lose(i, n_, kNoOrganisation);
          }
          break;
        case Holds::NoPlace:
          Lose(i, n_, kNoPlace);
          break;
        case Holds::Qualifier:
          if (u.unnamed) {
            b.Fail("column " + std::to_string(i + 1), "a value in a column without a name");
          }
          break;
        default:
          break;  // the groups, below
      }
    }
    Phones(b);
    Emails(b);
    Addresses(b);
    Websites(b);
    if (!categories_.empty()) {
      const std::string list = Joined(categories_, ",", true);
      b.Set(*TheSlots().categories, list, columns_[categories_column_].name, false);
    }
  }

 private:
  struct Use {
    Holds holds = Holds::NoPlace;
    const PropertyInfo* property = nullptr;
    std::string_view none;
    std::uint32_t group = 0;
    bool unnamed = false;
  };
  struct PhoneGroup {
    std::size_t label = kNone, value = kNone;
    std::string_view fixed;
  };
  struct EmailGroup {
    std::size_t label = kNone, value = kNone, display = kNone;
  };
  // Street, Street 2, Street 3, City, PO Box, Region, Postal Code, Country,
  // Extended, as Part lists them.
  static constexpr std::size_t kAddressParts = 9;
  struct AddressGroup {
    std::size_t label = kNone, formatted = kNone;
    std::array<std::size_t, kAddressParts> parts = {kNone, kNone, kNone, kNone, kNone,
                                                    kNone, kNone, kNone, kNone};
    std::string_view fixed;
  };

  template <typename Key, typename Group>
  static void SortByKey(const std::map<Key, std::size_t>& order, std::vector<Group>& groups) {
    std::vector<Group> sorted;
    for (const auto& [key, index] : order) sorted.push_back(groups[index]);
    groups = std::move(sorted);
  }

  std::string_view Cell(std::size_t i) const {
    return i == kNone ? std::string_view() : values_[i];
  }

  void Put(CardBuilder& b, std::size_t i, const PropertyInfo& info, std::string_view v) {
    b.Set(info, v, columns_[i].name, true);
  }
  void Flag(CardBuilder& b, std::size_t i, const PropertyInfo* info) {
    b.Set(*info, "true", columns_[i].name, false);
  }

  void AddCategory(std::string_view item) {
    if (std::find(categories_.begin(), categories_.end(), item) == categories_.end()) {
      categories_.push_back(item);
    }
  }

  // Items joined by glue; with list, each escaped as a list item (when
  // --rfc-escape is on).
  std::string Joined(std::span<const std::string_view> items, std::string_view glue,
                     bool list) const {
    std::string out;
    for (const std::string_view item : items) {
      if (item.empty()) continue;
      if (!out.empty()) out += glue;
      if (list) {
        AppendEscaped(out, item, escape_);
      } else {
        out += item;
      }
    }
    return out;
  }

  void Phones(CardBuilder& b) {
    const Slots& slots = TheSlots();
    std::size_t slot = 0;
    for (const PhoneGroup& g : phones_) {
      const std::string_view value = Cell(g.value);
      if (value.empty()) continue;
      bool primary = false;
      const std::string_view label = Unmarked(g.fixed.empty() ? Cell(g.label) : g.fixed, primary);
      // The card writes a telephone only with a type: one whose label
      // gives none is a voice number, the type a telephone has by default.
      std::uint16_t flags = PhoneFlags(label);
      if (flags == 0) flags = kVoice;
      if (primary) flags |= kPref;
      ForEachPiece(value, multi_, [&](std::string_view number) {
        if (slot == slots.tel.size()) {
          Lose(g.value, n_, kNoTelephone);
          return;
        }
        const Slots::Tel& tel = slots.tel[slot++];
        Put(b, g.value, *tel.number, number);
        for (std::size_t f = 0; f < kTelFlagNames.size(); ++f) {
          if ((flags & (1u << f)) != 0) Flag(b, g.value, tel.flags[f]);
        }
        flags &= static_cast<std::uint16_t>(~kPref);  // the first of a cell is the primary one
      });
    }
  }

  void Emails(CardBuilder& b) {
    const Slots& slots = TheSlots();
    std::size_t slot = 0;
    for (const EmailGroup& g : emails_) {
      const std::string_view value = Cell(g.value);
      const std::string_view display = Trim(Cell(g.display));
      // The display name repeats the name and the address ("Ann Lee
      // (ann@example.org)"); one that says more has no place.
      if (!display.empty() && (value.empty() || display.find(Trim(value)) == display.npos)) {
        Lose(g.display, n_, kNoPlace);
      }
      if (value.empty()) continue;
      bool primary = false;
      const std::string_view label = Unmarked(Cell(g.label), primary);
      const std::string_view type = EqualIgnoringCase(label, "Work")   ? "INTERNET,WORK"
                                    : EqualIgnoringCase(label, "Home") ? "INTERNET,HOME"
                                                                       : "";
      ForEachPiece(value, multi_, [&](std::string_view address) {
        if (slot == slots.email.size()) {
          Lose(g.value, n_, kNoEmail);
          return;
        }
        const Slots::Email& email = slots.email[slot++];
        Put(b, g.value, *email.value, address);
        if (!type.empty()) b.Set(*email.type, type, columns_[g.value].name, false);
        if (primary) Flag(b, g.value, email.pref);
        primary = false;  // the first of a cell is the primary one
      });
    }
  }

  void Addresses(CardBuilder& b) {
    const Slots& slots = TheSlots();
    std::size_t slot = 0;
    for (const AddressGroup& g : addresses_) {
      std::size_t count = PieceCount(Cell(g.formatted), multi_);
      for (const std::size_t c : g.parts) count = std::max(count, PieceCount(Cell(c), multi_));
      bool primary = false;
      const std::string_view label = Unmarked(g.fixed.empty() ? Cell(g.label) : g.fixed, primary);
      for (std::size_t k = 0; k < count; ++k) {
        std::array<std::string_view, kAddressParts> part;
        bool any = false;
        for (std::size_t p = 0; p < kAddressParts; ++p) {
          part[p] = PieceAt(Cell(g.parts[p]), multi_, k);
          any = any || !part[p].empty();
        }
        const std::string_view formatted = PieceAt(Cell(g.formatted), multi_, k);
        if (!any && formatted.empty()) continue;
        if (slot == slots.adr.size()) {
          for (const std::size_t c : g.parts) {
            if (!Cell(c).empty()) Lose(c, n_, kNoAddress);
          }
          if (!any) Lose(g.formatted, n_, kNoAddress);
          continue;
        }
        const Slots::Adr& adr = slots.adr[slot++];
        // Outlook's three street lines are one street, ", " between them
        // (escaped already when values come escaped).
        const std::string_view lines[] = {part[0], part[1], part[2]};
        std::string street = Joined(lines, escape_ ? ", " : "\\, ", false);
        std::size_t from = g.parts[0] != kNone ? g.parts[0] : g.parts[1];
        if (!any) {
          street = formatted;
          from = g.formatted;
        }
        // PostOffice, Extended, Street, Locality, Region, PostalCode, Country
        const std::pair<std::size_t, std::size_t> placed[] = {{4, 0}, {8, 1}, {3, 3},
                                                              {5, 4}, {6, 5}, {7, 6}};
        for (const auto& [p, to] : placed) {
          if (!part[p].empty()) Put(b, g.parts[p], *adr.parts[to], part[p]);
        }
        if (!street.empty()) Put(b, from == kNone ? g.parts[2] : from, *adr.parts[2], street);
        const std::size_t flag_column = FirstColumn(g);
        // The card writes an address only with a type: Work, Home, and
        // Postal for the others.
        const PropertyInfo* type = EqualIgnoringCase(label, "Work")   ? adr.work
                                   : EqualIgnoringCase(label, "Home") ? adr.home
                                                                      : adr.postal;
        Flag(b, flag_column, type);
      }
    }
  }

  static std::size_t FirstColumn(const AddressGroup& g) {
    std::size_t first = g.formatted;
    for (const std::size_t c : g.parts) first = std::min(first, c);
    return first;
  }

  void Websites(CardBuilder& b) {
    bool placed = false;
    for (const std::size_t c : websites_) {
      ForEachPiece(Cell(c), multi_, [&](std::string_view url) {
        if (placed) {
          Lose(c, n_, kNoWebsite);
          return;
        }
        Put(b, c, *TheSlots().url, url);
        placed = true;
      });
    }
  }

  bool multi_;
  bool escape_;
  std::vector<Use> uses_;
  std::vector<PhoneGroup> phones_;
  std::vector<EmailGroup> emails_;
  std::vector<AddressGroup> addresses_;
  std::vector<std::size_t> websites_;
  // Per record.
  std::span<const std::string_view> values_;
  std::uint64_t n_ = 0;
  std::vector<std::string_view> categories_;
  std::size_t categories_column_ = 0;
  std::string text_;
};

// A plan for a column map: each column fills its property, its further
// assignments made once per record.
class MapPlan final : public ColumnPlan {
 public:
  MapPlan(ColumnMap map, std::span<const std::string_view> names, const std::string& shown)
      : map_(std::move(map)) {
    std::vector<std::size_t> column_of(map_.lines.size(), kNone);
    for (std::size_t i = 0; i < names.size(); ++i) {
      columns_.push_back({std::string(Trim(names[i]))});
      std::size_t use = kNone;
      for (std::size_t l = 0; l < map_.lines.size() && !columns_[i].name.empty(); ++l) {
        if (!EqualIgnoringCase(map_.lines[l].column, columns_[i].name)) continue;
        if (column_of[l] != kNone) {
          throw InputRefused("column " + Quoted(columns_[i].name) +
                                 " appears twice in the header of " + shown + " (columns " +
                                 std::to_string(column_of[l] + 1) + " and " +
                                 std::to_string(i + 1) + ")",
                             false);
        }
        column_of[l] = i;
        use = l;
      }
      uses_.push_back(use);
    }
    std::string absent;
    std::size_t found = 0;
    for (std::size_t l = 0; l < map_.lines.size(); ++l) {
      if (column_of[l] != kNone) {
        ++found;
      } else {
        absent += (absent.empty() ? "" : ", ") + Quoted(map_.lines[l].column) + " (line " +
                  std::to_string(map_.lines[l].line) + ")";
      }
    }
    if (found == 0) {
      throw InputRefused(
          "no column the column map " + map_.shown + " names is in the header of " + shown, false);
    }
    notice_ = "qvvcard: reading " + shown + " with the column map " + map_.shown;
    if (!absent.empty()) notice_ += "; not in its header: " + absent;
    extra_done_.resize(qv_VCard::kPropertyCount);
  }

  void Apply(std::span<const std::string_view> values, CardBuilder& b) override {
    std::fill(extra_done_.begin(), extra_done_.end(), false);
    for (std::size_t i = 0; i < values.size(); ++i) {
      if (values[i].empty()) continue;
      if (uses_[i] == kNone) {
        if (columns_[i].name.empty()) {
          b.Fail("column " + std::to_string(i + 1), "a value in a column without a name");
        } else {
          Lose(i, b.record(), kNotInMap);
        }
        continue;
      }
      const ColumnMapLine& line = map_.lines[uses_[i]];
      if (line.target != nullptr) b.Set(*line.target, values[i], columns_[i].name, true);
      for (const ColumnMapLine::Extra& e : line.extras) {
        const auto p = static_cast<std::size_t>(e.property->property);
        if (extra_done_[p]) continue;
        extra_done_[p] = true;
        b.Set(*e.property, e.value, columns_[i].name, true);
      }
    }
  }

 private:
  ColumnMap map_;
  std::vector<std::size_t> uses_;  // the map line of each column, kNone for none
  std::vector<bool> extra_done_;
};

}  // namespace

std::unique_ptr<ColumnPlan> PlanColumns(std::span<const std::string_view> names,
                                        const ConvertOptions& options, const std::string& shown) {
  if (!options.columns.empty()) {
    if (const ExportFormat* format = FindExport(options.columns)) {
      return std::make_unique<ExportPlan>(*format, names, options, shown, true);
    }
    return std::make_unique<MapPlan>(ReadColumnMap(options.columns), names, shown);
  }
  if (PropertyHeader(names)) return nullptr;
  if (const ExportFormat* format = RecogniseExport(names)) {
    return std::make_unique<ExportPlan>(*format, names, options, shown, false);
  }
  return nullptr;
}

}  // namespace qvvcard
