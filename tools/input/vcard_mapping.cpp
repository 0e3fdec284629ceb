// The mapping of a card: the kind of each line, the groups and their
// labels, the values that find no place, and the order of the work.
#include "input/vcard_mapping.hpp"

#include <algorithm>
#include <string>

#include "card/ascii.hpp"
#include "input/values.hpp"
#include "input/vcard_mapper.hpp"

namespace qvvcard::vcf {

namespace mapping {

using qv_VCard::ascii::Fold;

// Labels compared as people write them: in any case, blanks left out
// ("Home Fax", "HomeFAX").
bool SameLabel(std::string_view a, std::string_view b) {
  std::size_t i = 0, j = 0;
  for (;;) {
    while (i < a.size() && a[i] == ' ') ++i;
    while (j < b.size() && b[j] == ' ') ++j;
    if (i == a.size() || j == b.size()) return i == a.size() && j == b.size();
    if (Fold(a[i]) != Fold(b[j])) return false;
    ++i;
    ++j;
  }
}

// A label an address book gives by itself stands as "_$!<Mobile>!$_"; one
// a person typed as it is.
std::string_view LabelText(std::string_view label) {
  label = TrimBlanks(label);
  if (label.starts_with("_$!<") && label.ends_with(">!$_") && label.size() >= 8) {
    label = label.substr(4, label.size() - 8);
  }
  return label;
}

// 4.0's pref=1..100, or TYPE=PREF (as the most preferred); kNotPreferred
// for neither.
int Preference(const Line& l) {
  int rank = kNotPreferred;
  for (const Param& p : l.params) {
    if (p.name.size() != 4 || p.values.empty()) continue;
    if (IsType(p.name)) {
      for (const std::string_view v : p.values) {
        if (EqualIgnoringCase(v, "PREF")) rank = std::min(rank, 1);
      }
    } else if (p.name == std::string_view("PREF")) {
      const std::string_view v = TrimBlanks(p.values.front());
      int n = 0;
      const auto [end, ec] = std::from_chars(v.data(), v.data() + v.size(), n);
      if (ec == std::errc() && end == v.data() + v.size() && n >= 1 && n <= 100) {
        rank = std::min(rank, n);
      }
    }
  }
  return rank;
}

void Mapper::Start(const Card& card, Mapped& out) {
  card_ = &card;
  out_ = &out;
  store_ = &out.text;
  labels_ = false;
  out.assignments.clear();
  out.lost.clear();
  out.uid = {};
  out.text.Clear();
  lost_lines_.clear();
  done_.reset();
  tels_.clear();
  emails_.clear();
  adrs_.clear();
  unknown_.clear();
  nicknames_.items.clear();
  nicknames_.first = nullptr;
  categories_.items.clear();
  categories_.first = nullptr;
  name_done_ = org_done_ = false;
}

void Mapper::Run(const Card& card, Mapped& out) {
  Start(card, out);
  v21_ = card.version == "2.1";
  // Labels first: a group's label may come after its lines.
  labels_ = std::any_of(card.lines.begin(), card.lines.end(),
                        [](const Line& l) { return !l.group.empty(); });
  if (labels_) FindLabels();
  for (const Line& l : card.lines) One(l, KindOf(l.name));
  if (!tels_.empty()) Telephones();
  if (!emails_.empty()) Emails();
  if (!adrs_.empty()) Addresses();
  Lists();
  if (labels_) Labels();
  // In the order of their lines in the file.
  if (!std::is_sorted(lost_lines_.begin(), lost_lines_.end())) SortLost();
}

// Each type word of unknown_[first, first + count): "a type with no
// place on the card: X-RADIO".
void Mapper::LoseTypes(const Line& l, std::size_t first, std::size_t count) {
  static constexpr std::string_view kHead = std::string_view(kUnknownType);
  for (std::size_t k = first; k < first + count; ++k) {
    const std::string_view w = unknown_[k];
    char* to = store_->Room(kHead.size() + 2 + w.size());
    std::memcpy(to, kHead.data(), kHead.size());
    to[kHead.size()] = ':';
    to[kHead.size() + 1] = ' ';
    char* o = to + kHead.size() + 2;
    for (const char c : w) *o++ = c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c;
    Lose(l, {to, kHead.size() + 2 + w.size()});
  }
}

void Mapper::SortLost() {
  order_.resize(out_->lost.size());
  for (std::size_t i = 0; i < order_.size(); ++i) order_[i] = i;
  std::sort(order_.begin(), order_.end(), [&](std::size_t a, std::size_t b) {
    return lost_lines_[a] != lost_lines_[b] ? lost_lines_[a] < lost_lines_[b] : a < b;
  });
  sorted_lost_.clear();
  for (const std::size_t i : order_) sorted_lost_.push_back(out_->lost[i]);
  out_->lost.swap(sorted_lost_);
}

int Mapper::CompareGroups(std::string_view a, std::string_view b) {
  for (std::size_t i = 0; i < a.size() && i < b.size(); ++i) {
    const char x = Fold(a[i]), y = Fold(b[i]);
    if (x != y) return static_cast<unsigned char>(x) < static_cast<unsigned char>(y) ? -1 : 1;
  }
  return a.size() == b.size() ? 0 : a.size() < b.size() ? -1 : 1;
}

Mapper::Group* Mapper::FindGroup(const Line& l) {
  const auto it = std::lower_bound(
      groups_.begin(), groups_.end(), l.group,
      [](const Group& g, std::string_view name) { return CompareGroups(g.name, name) < 0; });
  return it != groups_.end() && CompareGroups(it->name, l.group) == 0 ? &*it : nullptr;
}

// The groups with a label (the first one of each group, in any case).
void Mapper::FindLabels() {
  groups_.clear();
  for (const Line& l : card_->lines) {
    if (!l.group.empty() && KindOf(l.name) == LineKind::Label) groups_.push_back({l.group, &l});
  }
  if (groups_.size() < 2) return;
  std::sort(groups_.begin(), groups_.end(), [](const Group& a, const Group& b) {
    const int c = CompareGroups(a.name, b.name);
    return c != 0 ? c < 0 : a.label < b.label;
  });
  groups_.erase(std::unique(groups_.begin(), groups_.end(),
                            [](const Group& a, const Group& b) {
                              return CompareGroups(a.name, b.name) == 0;
                            }),
                groups_.end());
}

void Mapper::Text(Property p, const Line& l) {
  const std::string_view text = TrimBlanks(l.value);
  if (text.empty() || !First(p, l)) return;
  const bool escaped = FindEither(text, 0, '\\', '\\') != text.size();
  // A text in card form goes to the card as it stands.
  if (escaped && !v21_ && EscapeClass(p) == Escape::All && InCardForm(text)) {
    return Put(p, text, l, true);
  }
  Put(p, Typed(text, escaped), l);
}

void Mapper::One(const Line& l, LineKind kind) {
  // Every kind's work is a call of its own, so that this stays a switch.
  if (!l.params.empty() && kind != LineKind::Written && Base64(l)) return Base64Line(l, kind);
  switch (kind) {
    case LineKind::Tel:
      return Telephone(l);
    case LineKind::Email:
      return EmailLine(l);
    case LineKind::Adr:
      return Address(l);
    case LineKind::Name:
      return Name(l);
    case LineKind::FormattedName:
      return Text(Property::FormatedName, l);
    case LineKind::Org:
      return Organisation(l);
    case LineKind::Title:
      return Text(Property::Title, l);
    case LineKind::Role:
      return Text(Property::Role, l);
    case LineKind::Note:
      return Text(Property::Note, l);
    case LineKind::SortString:
      return Text(Property::SortString, l);
    case LineKind::TimeZone:
      return Text(Property::TimeZone, l);
    case LineKind::Url:
      return Url(l);
    case LineKind::Birthday:
      return Birthday(l);
    case LineKind::Geo:
      return Geo(l);
    case LineKind::Nickname:
      return ListItems(l, nicknames_);
    case LineKind::Categories:
      return ListItems(l, categories_, true);
    case LineKind::Uid:
      return UidLine(l);
    case LineKind::Written:
      return;
    case LineKind::Profile:
    case LineKind::Label:
    case LineKind::Other:
      return OtherLine(l, kind);
  }
}

void Mapper::Base64Line(const Line& l, LineKind kind) {
  // A BASE64 value is kept as it stands, undecoded: never text for the
  // card (photos and keys have no place anyway).
  if (kind != LineKind::Uid && !TrimBlanks(l.value).empty()) {
    Lose(l, kind == LineKind::Other || kind == LineKind::Profile ? kNoPlace : kBase64);
  }
}

void Mapper::UidLine(const Line& l) {
  if (out_->uid.empty()) out_->uid = Typed(l.value);
}

void Mapper::OtherLine(const Line& l, LineKind kind) {
  // The card says PROFILE:VCARD itself.
  if (kind == LineKind::Profile && EqualIgnoringCase(TrimBlanks(l.value), "VCARD")) return;
  if (kind == LineKind::Label && !l.group.empty()) return;  // with its group, at the end
  // A 2.1 agent's card was read past: it had a value even when its line
  // shows none.
  if (!TrimBlanks(l.value).empty() || l.name == "AGENT") Lose(l, kNoPlace);
}

}  // namespace mapping

std::string SourceOf(const Line& l) {
  std::string s;
  s.reserve(l.group.size() + 1 + l.name.size());
  if (!l.group.empty()) s.append(l.group).append(1, '.');
  return s.append(l.name);
}

void MapCard(const Card& card, Mapped& out) {
  // Each thread keeps its mapper, so that its lists need no new room for
  // every card.
  thread_local mapping::Mapper mapper;
  mapper.Run(card, out);
}

Mapped MapCard(const Card& card) {
  Mapped out;
  MapCard(card, out);
  return out;
}

}  // namespace qvvcard::vcf