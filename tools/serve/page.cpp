#include "serve/page.hpp"

#include <algorithm>
#include <array>
#include <cstddef>
#include <string>

#include "serve/page_fields.hpp"

namespace qvvcard {

namespace {

struct EmbeddedFile {
  const char* url;
  const char* name;
  const unsigned char* data;
  std::size_t size;
};

#include "serve_page_files.inc"

std::string_view TypeOf(std::string_view name) {
  const auto ends = [&](std::string_view ext) {
    return name.size() >= ext.size() && name.substr(name.size() - ext.size()) == ext;
  };
  if (ends(".html")) return "text/html; charset=utf-8";
  if (ends(".css")) return "text/css; charset=utf-8";
  if (ends(".js")) return "text/javascript; charset=utf-8";
  if (ends(".svg")) return "image/svg+xml";
  return "application/octet-stream";
}

// The form's fields, made from the page's table (page_fields.hpp) and the
// record's slot layout.
namespace form {

using page::Box;
using page::BoxRow;
using page::FieldRow;
using page::Input;
using page::Tier;
using qv_VCard::Property;

// Where index.html takes the common boxes, and the sections that open.
constexpr std::string_view kBoxesMarker = "<!-- the form's boxes -->";
constexpr std::string_view kSectionsMarker = "<!-- the form's sections -->";

class Html {
 public:
  Html& operator<<(std::string_view raw) {
    out_ += raw;
    return *this;
  }
  Html& operator<<(int n) {
    out_ += std::to_string(n);
    return *this;
  }
  // Text for an element or a quoted attribute.
  Html& Text(std::string_view text) {
    for (const char c : text) {
      switch (c) {
        case '&':
          out_ += "&amp;";
          break;
        case '<':
          out_ += "&lt;";
          break;
        case '>':
          out_ += "&gt;";
          break;
        case '"':
          out_ += "&quot;";
          break;
        default:
          out_ += c;
      }
    }
    return *this;
  }
  std::string Take() { return std::move(out_); }

 private:
  std::string out_;
};

const BoxRow& BoxOf(Box b) {
  for (const BoxRow& box : page::kBoxRows) {
    if (box.box == b) return box;
  }
  return page::kBoxRows[0];
}

std::string_view NameOf(Property p) { return qv_VCard::Info(p).name; }

// Slot n's twin of a property of slot 1.
Property InSlot(const BoxRow& box, Property first, int slot) {
  return box.slots > 1 ? qv_VCard::record::InSlot(first, slot, box.slot_size) : first;
}

std::string SlotName(const BoxRow& box, int slot) {
  return std::string(box.slot_name) + std::to_string(slot);
}

// What the page's script needs to know of a field: the part it plays in a
// typed slot, the gentle check of its value, its part in the position.
void DataOf(Html& h, const FieldRow& row, Property p) {
  if (const qv_VCard::slots::TypedSlot* s = qv_VCard::slots::TypedSlotOf(p)) {
    h << (qv_VCard::slots::IsTypeFlag(*s, p) ? " data-slot-flag" : " data-slot-text");
  }
  switch (row.input) {
    case Input::Tel:
      h << " data-check=\"tel\"";
      break;
    case Input::Email:
      h << " data-check=\"email\"";
      break;
    case Input::Date:
      h << " data-check=\"date\"";
      break;
    case Input::Number:
      if (row.box == Box::Position) h << " data-geo";
      break;
    case Input::Latitude:
    case Input::Longitude:
      h << " data-hemisphere";
      break;
    default:
      break;
  }
}

void Hint(Html& h, std::string_view id, std::string_view hint) {
  if (!hint.empty()) {
    h << "<small class=\"hint\" id=\"" << id << "-hint\">";
    h.Text(hint) << "</small>";
  }
}

void Check(Html& h, const FieldRow& row, Property p) {
  const std::string_view name = NameOf(p);
  h << "<label class=\"check\" for=\"" << name << "\"><input type=\"checkbox\" id=\"" << name
    << "\" name=\"" << name << "\" value=\"true\"";
  DataOf(h, row, p);
  h << "> ";
  h.Text(row.label) << "</label>";
}

void Field(Html& h, const FieldRow& row, Property p) {
  const std::string_view name = NameOf(p);
  const bool wide = row.wide || row.input == Input::Area || row.input == Input::Email ||
                    row.input == Input::Url || row.input == Input::Tel;
  h << (wide ? "<div class=\"field wide\">" : "<div class=\"field\">");
  // The one field of a box, named as the box is, has its label for the
  // ear only.
  const bool alone = row.label == BoxOf(row.box).title &&
                     std::count_if(std::begin(page::kFieldRows), std::end(page::kFieldRows),
                                   [&](const FieldRow& r) { return r.box == row.box; }) == 1;
  h << (alone ? "<label class=\"out-of-sight\" for=\"" : "<label for=\"") << name << "\">";
  h.Text(row.label) << "</label>";
  const auto common = [&] {
    h << " id=\"" << name << "\" name=\"" << name << "\"";
    if (!row.hint.empty()) h << " aria-describedby=\"" << name << "-hint\"";
    DataOf(h, row, p);
  };
  switch (row.input) {
    case Input::Area:
      h << "<textarea rows=\"3\"";
      common();
      h << "></textarea>";
      break;
    case Input::Latitude:
    case Input::Longitude: {
      const bool lat = row.input == Input::Latitude;
      h << "<select";
      common();
      h << (lat ? "><option value=\"N\">North</option><option value=\"S\">South</option>"
                : "><option value=\"E\">East</option><option value=\"W\">West</option>");
      h << "</select>";
      break;
    }
    default: {
      const char* type = row.input == Input::Tel     ? "tel"
                         : row.input == Input::Email ? "email"
                         : row.input == Input::Url   ? "url"
                                                     : "text";
      h << "<input type=\"" << type << "\"";
      common();
      if (row.input == Input::Number) h << " inputmode=\"numeric\" pattern=\"-?[0-9]*\"";
      h << ">";
    }
  }
  Hint(h, name, row.hint);
  h << "</div>";
}

// The fields of one box (of one slot of it): its common texts, its flags
// (the rare ones behind "more kinds"), then its other texts behind "more".
void BoxFields(Html& h, const BoxRow& box, int slot) {
  const auto rows = [&](bool flags, Tier tier, auto&& each) {
    bool any = false;
    for (const FieldRow& row : page::kFieldRows) {
      if (row.box == box.box && (row.input == Input::Check) == flags && row.tier == tier) {
        each(row, InSlot(box, row.property, slot));
        any = true;
      }
    }
    return any;
  };
  const auto none = [](const FieldRow&, Property) {};
  const auto field = [&](const FieldRow& row, Property p) { Field(h, row, p); };
  const auto check = [&](const FieldRow& row, Property p) { Check(h, row, p); };

  if (box.box == Box::Position) {
    // One group for each axis, from its hemisphere to its seconds.
    bool open = false;
    rows(false, Tier::Common, [&](const FieldRow& row, Property p) {
      if (row.input == Input::Latitude || row.input == Input::Longitude) {
        if (open) h << "</div></fieldset>";
        h << "<fieldset class=\"axis\"><legend>"
          << (row.input == Input::Latitude ? "Latitude" : "Longitude")
          << "</legend><div class=\"fields geo\">";
        open = true;
      }
      Field(h, row, p);
    });
    if (open) h << "</div></fieldset>";
    return;
  }
  if (rows(false, Tier::Common, none)) {
    h << "<div class=\"fields\">";
    rows(false, Tier::Common, field);
    h << "</div>";
  }
  if (rows(true, Tier::Common, none) || rows(true, Tier::More, none)) {
    h << "<fieldset class=\"flags\"><legend>";
    h.Text(box.flags_label) << "</legend><div class=\"checks\">";
    rows(true, Tier::Common, check);
    h << "</div>";
    if (rows(true, Tier::More, none)) {
      h << "<details class=\"more\"><summary>More kinds</summary><div class=\"checks\">";
      rows(true, Tier::More, check);
      h << "</div></details>";
    }
    h << "</fieldset>";
  }
  if (rows(false, Tier::More, none)) {
    h << "<details class=\"more\"><summary>";
    h.Text(box.more_label) << "</summary><div class=\"fields\">";
    rows(false, Tier::More, field);
    h << "</div></details>";
  }
}

// Slot n of a box of slots, or the box itself.
void Slot(Html& h, const BoxRow& box, int slot, const char* tag, const char* head) {
  h << "<" << tag << (box.column == 0 ? " class=\"box section\" id=\"" : " class=\"box\" id=\"")
    << box.id;
  if (box.slots > 1) {
    h << slot << "\" data-slot=\"" << SlotName(box, slot);
    if (box.default_flag) h << "\" data-default=\"" << NameOf(InSlot(box, *box.default_flag, slot));
  }
  h << "\"><" << head << ">";
  h.Text(box.title);
  if (slot > 1) h << " " << slot;
  h << "</" << head << ">";
  if (box.box == Box::Position) {
    const std::string_view name = page::kDecimalName;
    h << "<div class=\"field wide\"><label for=\"" << name << "\">";
    h.Text(page::kDecimalLabel) << "</label><input type=\"text\" id=\"" << name
                                << "\" aria-describedby=\"" << name << "-hint\" data-decimal>";
    Hint(h, name, page::kDecimalHint);
    h << "</div><p class=\"or\">Or in degrees, minutes and seconds:</p>";
  }
  BoxFields(h, box, slot);
  h << "</" << tag << ">";
}

std::string Boxes() {
  Html h;
  h << "<div class=\"boxes\">";
  for (int column = 1; column <= 3; ++column) {
    h << "<div class=\"column\">";
    for (const BoxRow& box : page::kBoxRows) {
      if (box.column == column) Slot(h, box, 1, "fieldset", "legend");
    }
    h << "</div>";
  }
  h << "</div>";
  return h.Take();
}

std::string Sections() {
  Html h;
  for (const BoxRow& box : page::kBoxRows) {
    if (box.column != 0 && box.slots > 1) {
      h << "<details class=\"box section\" id=\"" << box.id << "-more\"><summary>";
      h.Text(box.more_title) << "</summary><div class=\"slots\">";
      for (int slot = 2; slot <= box.slots; ++slot) Slot(h, box, slot, "fieldset", "legend");
      h << "</div></details>";
    } else if (box.column == 0) {
      Slot(h, box, 1, "details", "summary");
    }
  }
  return h.Take();
}

std::string Replaced(std::string page, std::string_view marker, const std::string& by) {
  const std::size_t at = page.find(marker);
  if (at != std::string::npos) page.replace(at, marker.size(), by);
  return page;
}

// index.html with the boxes and sections in place of its markers.
std::string IndexPage(std::string_view page) {
  return Replaced(Replaced(std::string(page), kBoxesMarker, Boxes()), kSectionsMarker, Sections());
}

}  // namespace form

constexpr std::size_t kCount = sizeof kPageFiles / sizeof kPageFiles[0];

std::string_view BodyOf(const EmbeddedFile& f) {
  return {reinterpret_cast<const char*>(f.data), f.size};
}

// The files as served; index is the page at "/", made from index.html.
std::array<PageFile, kCount> MakeFiles(std::string_view index) {
  std::array<PageFile, kCount> files{};
  for (std::size_t i = 0; i < kCount; ++i) {
    const bool page = std::string_view(kPageFiles[i].url) == "/";
    files[i].body = page ? index : BodyOf(kPageFiles[i]);
    files[i].content_type = TypeOf(kPageFiles[i].name);
  }
  return files;
}

std::string MakeIndex() {
  for (const EmbeddedFile& f : kPageFiles) {
    if (std::string_view(f.url) == "/") return form::IndexPage(BodyOf(f));
  }
  return {};
}

}  // namespace

const PageFile* FindPageFile(std::string_view url) {
  // Made once, on first use; the page never changes while the server runs.
  static const std::string index = MakeIndex();
  static const std::array<PageFile, kCount> files = MakeFiles(index);
  for (std::size_t i = 0; i < kCount; ++i) {
    if (url == kPageFiles[i].url) return &files[i];
  }
  return nullptr;
}

}  // namespace qvvcard
