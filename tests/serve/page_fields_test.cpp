// The form of the page at "/" as served: one control for every property of
// the card, named after it, and nothing else named; the marks the page's
// script reads to keep a typed slot on the card.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <regex>
#include <set>
#include <string>

#include "card/slot_table.hpp"
#include "qv_vcard/qvVCard.hpp"
#include "serve/page.hpp"

namespace {

using qv_VCard::Property;
namespace slots = qv_VCard::slots;

struct Control {
  std::string tag;
  std::string attributes;
};

std::string Page() {
  const qvvcard::PageFile* page = qvvcard::FindPageFile("/");
  return page != nullptr ? std::string(page->body) : std::string();
}

// The page's form controls by their name.
std::multimap<std::string, Control> Controls(const std::string& page) {
  static const std::regex tag(R"(<(input|select|textarea)\b([^>]*)>)");
  static const std::regex name(R"(\bname="([^"]*)\")");
  std::multimap<std::string, Control> out;
  for (auto it = std::sregex_iterator(page.begin(), page.end(), tag); it != std::sregex_iterator();
       ++it) {
    std::smatch n;
    const std::string attributes = (*it)[2];
    if (std::regex_search(attributes, n, name)) out.insert({n[1], {(*it)[1], attributes}});
  }
  return out;
}

bool Has(const std::string& attributes, const std::string& what) {
  return attributes.find(what) != std::string::npos;
}

TEST(PageForm, EveryPropertyHasOneControlAndNoControlNamesAnythingElse) {
  const std::string page = Page();
  const auto controls = Controls(page);
  for (const qv_VCard::PropertyInfo& info : qv_VCard::Properties()) {
    EXPECT_EQ(controls.count(info.name), 1u) << info.name;
  }
  std::set<std::string> names;
  for (const auto& [name, control] : controls) {
    EXPECT_NE(qv_VCard::FindProperty(name), nullptr) << "no property is named " << name;
    EXPECT_EQ(qv_VCard::FindProperty(name)->name, name) << "not the property's own spelling";
    names.insert(name);
  }
  EXPECT_EQ(names.size(), qv_VCard::kPropertyCount);
  EXPECT_EQ(page.find("<!-- the form's"), std::string::npos) << "a marker left in the page";
}

TEST(PageForm, EachControlHasItsPropertysKindAndALabel) {
  const std::string page = Page();
  for (const auto& [name, control] : Controls(page)) {
    const qv_VCard::PropertyInfo& info = *qv_VCard::FindProperty(name);
    EXPECT_TRUE(Has(control.attributes, "id=\"" + name + "\"")) << name;
    EXPECT_TRUE(std::regex_search(page, std::regex("<label\\b[^>]*\\bfor=\"" + name + "\"")))
        << name << " has no label";
    const bool checkbox = Has(control.attributes, "type=\"checkbox\"");
    EXPECT_EQ(checkbox, info.kind == qv_VCard::Kind::Flag) << name;
    if (info.rule == qv_VCard::ReadRule::GeoLatSign ||
        info.rule == qv_VCard::ReadRule::GeoLonSign) {
      EXPECT_EQ(control.tag, "select") << name;
      EXPECT_TRUE(Has(control.attributes, "data-hemisphere")) << name;
    }
    EXPECT_EQ(Has(control.attributes, "data-geo"), info.kind == qv_VCard::Kind::Int16) << name;
  }
}

// The script keeps a slot's value on the card by ticking the slot's
// default flag when none is: each typed slot's box says which, and marks
// its texts and its type flags.
TEST(PageForm, EachTypedSlotNamesItsDefaultFlagAndMarksItsTextsAndFlags) {
  const std::string page = Page();
  const auto controls = Controls(page);
  for (const slots::TypedSlot& s : slots::kTypedSlots) {
    const bool phone = s.kind == slots::SlotKind::Telephone;
    const std::string slot = (phone ? "Tel" : "Adr") + std::to_string(s.number);
    const Property flag = phone ? slots::Tel(s.number, slots::TelType::Voice)
                                : slots::Address(s.number, slots::AddressType::Postal);
    EXPECT_TRUE(
        Has(page, "data-slot=\"" + slot + "\" data-default=\"" + qv_VCard::Info(flag).name + "\""))
        << slot;
    const auto marked = [&](Property p, const char* mark) {
      const auto it = controls.find(qv_VCard::Info(p).name);
      return it != controls.end() && Has(it->second.attributes, mark);
    };
    for (int i = 0; i < s.texts; ++i) {
      const auto p = static_cast<Property>(static_cast<int>(s.first_text) + i);
      EXPECT_TRUE(marked(p, "data-slot-text")) << qv_VCard::Info(p).name;
    }
    for (int i = 0; i < s.flags; ++i) {
      const auto p = static_cast<Property>(static_cast<int>(s.first_flag) + i);
      EXPECT_TRUE(marked(p, "data-slot-flag")) << qv_VCard::Info(p).name;
    }
  }
}

// Each slot's box holds its own fields and no other slot's.
TEST(PageForm, EachSlotsBoxHoldsItsOwnFields) {
  const std::string page = Page();
  const std::pair<slots::SlotKind, const char*> kinds[] = {{slots::SlotKind::Address, "Adr"},
                                                           {slots::SlotKind::Telephone, "Tel"},
                                                           {slots::SlotKind::Email, "Email"}};
  const std::regex box(R"re(data-slot="([A-Za-z]+)(\d+)")re");
  int boxes = 0;
  for (auto it = std::sregex_iterator(page.begin(), page.end(), box); it != std::sregex_iterator();
       ++it, ++boxes) {
    const auto kind = std::find_if(std::begin(kinds), std::end(kinds),
                                   [&](const auto& k) { return (*it)[1] == k.second; });
    ASSERT_NE(kind, std::end(kinds)) << (*it)[0];
    const int number = std::stoi((*it)[2]);
    const auto start = static_cast<std::size_t>(it->position());
    const std::size_t end = page.find("class=\"box", start);  // the next box
    int fields = 0;
    for (const auto& [name, control] : Controls(page.substr(start, end - start))) {
      const auto place = slots::PlaceOf(qv_VCard::FindProperty(name)->property);
      ASSERT_TRUE(place.has_value()) << name << " in " << (*it)[0];
      EXPECT_EQ(place->kind, kind->first) << name << " in " << (*it)[0];
      EXPECT_EQ(place->number, number) << name << " in " << (*it)[0];
      ++fields;
    }
    EXPECT_GT(fields, 0) << (*it)[0];
  }
  EXPECT_EQ(boxes, slots::kAddressSlots + slots::kTelephoneSlots + slots::kEmailSlots);
}

}  // namespace
