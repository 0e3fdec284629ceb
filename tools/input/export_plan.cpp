#include <algorithm>
#include <array>
#include <cstdio>
#include <map>

#include "card/ascii.hpp"
#include "card/slot_table.hpp"
#include "common/text.hpp"
#include "input/column_plan.hpp"
#include "input/export_format.hpp"
#include "input/export_values.hpp"

namespace qvvcard {

using qv_VCard::Property;
using qv_VCard::PropertyInfo;
using qv_VCard::ascii::EqualIgnoringCase;
namespace slots = qv_VCard::slots;
using slots::TelType;

namespace {

constexpr std::size_t kNone = static_cast<std::size_t>(-1);
constexpr std::uint16_t kPref = Bit(TelType::Pref);
constexpr std::uint16_t kVoice = Bit(TelType::Voice);

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
      columns_.push_back({std::string(TrimBlanks(names[i]))});
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
        throw InputRefused(
            TwiceInHeaderText(Quoted(columns_[i].name), shown, at->second + 1, i + 1));
      }
      if (group == 0) group = row->group;
      u.holds = row->holds;
      u.none = row->none;
      u.group = group;
      if (row->property) u.property = &qv_VCard::Info(*row->property);
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
            g.parts[PartIndex(row->part)] = i;
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
      throw InputRefused("no column of the header of " + shown + " is one of " +
                         std::string(format.shown));
    }
    // Groups in the order of their numbers (maps are ordered); telephones
    // by rank first.
    SortByKey(emails, emails_);
    SortByKey(addresses, addresses_);
    SortByKey(phones, phones_);
    for (const auto& [group, column] : websites) websites_.push_back(column);
    notice_ = "qvvcard: reading " + shown + " as " + std::string(format.shown) +
              (options.guessed_encoding != nullptr ? std::string(", ") + options.guessed_encoding
                                                   : std::string()) +
              (forced ? " (--columns " + std::string(format.key) + ")" : "");
  }

  void Apply(std::span<const std::string_view> values, CardBuilder& b) override {
    values_ = values;
    n_ = b.record();
    categories_.clear();
    name_parts_.fill({});
    name_column_ = kNone;
    named_ = false;
    for (std::size_t i = 0; i < values.size(); ++i) {
      const std::string_view v = values[i];
      if (v.empty()) continue;
      const Use& u = uses_[i];
      if (!u.none.empty() && TrimBlanks(v) == u.none) continue;
      switch (u.holds) {
        case Holds::Property:
          Put(b, i, *u.property, v);
          NoteName(i, u.property->property, v);
          break;
        case Holds::Date:
          if (DateToIso(TrimBlanks(v), text_)) {
            Put(b, i, *u.property, text_);
          } else {
            Lose(i, n_, Loss::NotADate);
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
            const std::string_view item = TrimBlanks(rest.substr(0, at));
            if (!item.empty()) AddCategory(item);
            if (at == std::string_view::npos) break;
            rest.remove_prefix(at + 1);
          }
          break;
        case Holds::Organisation:
          if (u.group <= 1) {
            Put(b, i, *u.property, v);
          } else {
            Lose(i, n_, Loss::NoOrganisation);
          }
          break;
        case Holds::NoPlace:
          Lose(i, n_, Loss::NoPlace);
          break;
        case Holds::Qualifier:
          if (u.unnamed) {
            b.Fail(MakeProblem(ProblemKind::UnnamedColumn, "column " + std::to_string(i + 1)));
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
    ComposeName(b);
    if (!categories_.empty()) {
      const std::string list = Joined(categories_, ",", true);
      b.Set(qv_VCard::Info(Property::Categorie), list, columns_[categories_column_].name, false);
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
  static constexpr std::size_t kAddressColumns = 9;
  static constexpr std::size_t PartIndex(Part p) {
    return static_cast<std::size_t>(p) - static_cast<std::size_t>(Part::Street);
  }
  struct AddressGroup {
    std::size_t label = kNone, formatted = kNone;
    std::array<std::size_t, kAddressColumns> parts = {kNone, kNone, kNone, kNone, kNone,
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
  void Flag(CardBuilder& b, std::size_t i, Property flag) {
    b.Set(qv_VCard::Info(flag), "true", columns_[i].name, false);
  }

  // The name as the address book shows it, given name first: prefix, given,
  // middle and family name, suffix.
  static constexpr Property kShownOrder[] = {Property::NamePrefix, Property::NameGiven,
                                             Property::NameAdditional, Property::NameFamily,
                                             Property::NameSuffix};
  void NoteName(std::size_t i, Property p, std::string_view v) {
    if (p == Property::FormatedName) named_ = true;
    for (std::size_t k = 0; k < std::size(kShownOrder); ++k) {
      if (kShownOrder[k] != p) continue;
      name_parts_[k] = TrimBlanks(v);
      name_column_ = std::min(name_column_, i);
    }
  }
  // Without a display name, the card's formatted name is the name as the
  // address book shows it (the card's own would put the family name first).
  void ComposeName(CardBuilder& b) {
    if (named_ || name_column_ == kNone) return;
    const std::string shown = Joined(name_parts_, " ", false);
    if (!shown.empty()) Put(b, name_column_, qv_VCard::Info(Property::FormatedName), shown);
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
    int slot = 0;
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
        if (slot == slots::kTelephoneSlots) {
          Lose(g.value, n_, Loss::NoTelephone);
          return;
        }
        ++slot;
        Put(b, g.value, qv_VCard::Info(slots::TelNumber(slot)), number);
        for (int t = 0; t < slots::kTelTypes; ++t) {
          const auto type = static_cast<TelType>(t);
          if ((flags & Bit(type)) != 0) Flag(b, g.value, slots::Tel(slot, type));
        }
        flags &= static_cast<std::uint16_t>(~kPref);  // the first of a cell is the primary one
      });
    }
  }

  void Emails(CardBuilder& b) {
    int slot = 0;
    for (const EmailGroup& g : emails_) {
      const std::string_view value = Cell(g.value);
      const std::string_view display = TrimBlanks(Cell(g.display));
      // The display name repeats the name and the address ("Ann Lee
      // (ann@example.org)"); one that says more has no place.
      if (!display.empty() && (value.empty() || display.find(TrimBlanks(value)) == display.npos)) {
        Lose(g.display, n_, Loss::NoPlace);
      }
      if (value.empty()) continue;
      bool primary = false;
      const std::string_view label = Unmarked(Cell(g.label), primary);
      const std::string_view type = EqualIgnoringCase(label, "Work")   ? "INTERNET,WORK"
                                    : EqualIgnoringCase(label, "Home") ? "INTERNET,HOME"
                                                                       : "";
      ForEachPiece(value, multi_, [&](std::string_view address) {
        if (slot == slots::kEmailSlots) {
          Lose(g.value, n_, Loss::NoEmail);
          return;
        }
        ++slot;
        Put(b, g.value, qv_VCard::Info(slots::EmailValue(slot)), address);
        if (!type.empty()) {
          b.Set(qv_VCard::Info(slots::EmailType(slot)), type, columns_[g.value].name, false);
        }
        if (primary) Flag(b, g.value, slots::EmailPref(slot));
        primary = false;  // the first of a cell is the primary one
      });
    }
  }

  void Addresses(CardBuilder& b) {
    int slot = 0;
    for (const AddressGroup& g : addresses_) {
      std::size_t count = PieceCount(Cell(g.formatted), multi_);
      for (const std::size_t c : g.parts) count = std::max(count, PieceCount(Cell(c), multi_));
      bool primary = false;
      const std::string_view label = Unmarked(g.fixed.empty() ? Cell(g.label) : g.fixed, primary);
      for (std::size_t k = 0; k < count; ++k) {
        std::array<std::string_view, kAddressColumns> part;
        bool any = false;
        for (std::size_t p = 0; p < kAddressColumns; ++p) {
          part[p] = PieceAt(Cell(g.parts[p]), multi_, k);
          any = any || !part[p].empty();
        }
        const std::string_view formatted = PieceAt(Cell(g.formatted), multi_, k);
        if (!any && formatted.empty()) continue;
        if (slot == slots::kAddressSlots) {
          for (const std::size_t c : g.parts) {
            if (!Cell(c).empty()) Lose(c, n_, Loss::NoAddress);
          }
          if (!any) Lose(g.formatted, n_, Loss::NoAddress);
          continue;
        }
        ++slot;
        // Outlook's three street lines are one street, ", " between them
        // (escaped already when values come escaped).
        const std::string_view lines[] = {part[PartIndex(Part::Street)],
                                          part[PartIndex(Part::Street2)],
                                          part[PartIndex(Part::Street3)]};
        std::string street = Joined(lines, escape_ ? ", " : "\\, ", false);
        std::size_t from = g.parts[PartIndex(Part::Street)] != kNone
                               ? g.parts[PartIndex(Part::Street)]
                               : g.parts[PartIndex(Part::Street2)];
        if (!any) {
          street = formatted;
          from = g.formatted;
        }
        // The export's parts (as Part lists them) and the card's.
        using A = slots::AddressPart;
        const std::pair<Part, A> placed[] = {
            {Part::PoBox, A::PostOffice},      {Part::Extended, A::Extended},
            {Part::City, A::Locality},         {Part::Region, A::Region},
            {Part::PostalCode, A::PostalCode}, {Part::Country, A::Country}};
        for (const auto& [from_part, to] : placed) {
          const std::size_t p = PartIndex(from_part);
          if (!part[p].empty())
            Put(b, g.parts[p], qv_VCard::Info(slots::Address(slot, to)), part[p]);
        }
        if (!street.empty()) {
          Put(b, from == kNone ? g.parts[PartIndex(Part::Street3)] : from,
              qv_VCard::Info(slots::Address(slot, A::Street)), street);
        }
        const std::size_t flag_column = FirstColumn(g);
        // The card writes an address only with a type: Work, Home, and
        // Postal for the others.
        const slots::AddressType type = EqualIgnoringCase(label, "Work") ? slots::AddressType::Work
                                        : EqualIgnoringCase(label, "Home")
                                            ? slots::AddressType::Home
                                            : slots::AddressType::Postal;
        Flag(b, flag_column, slots::Address(slot, type));
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
          Lose(c, n_, Loss::NoWebsite);
          return;
        }
        Put(b, c, qv_VCard::Info(Property::Url), url);
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
  // The name parts of the record, in the order an address book shows them,
  // the first column they came from, and whether it gave a display name.
  std::array<std::string_view, 5> name_parts_{};
  std::size_t name_column_ = kNone;
  bool named_ = false;
};

}  // namespace

std::unique_ptr<ColumnPlan> MakeExportPlan(const ExportFormat& format,
                                           std::span<const std::string_view> names,
                                           const ConvertOptions& options, const std::string& shown,
                                           bool forced) {
  return std::make_unique<ExportPlan>(format, names, options, shown, forced);
}

}  // namespace qvvcard
