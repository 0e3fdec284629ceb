#include "input/column_map.hpp"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

#include "card/ascii.hpp"
#include "input/records.hpp"
#include "input/values.hpp"

namespace qvvcard {

namespace {

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

class MapReader {
 public:
  explicit MapReader(const std::string& shown) { map_.shown = shown; }

  void Line(std::string_view text, std::size_t n) {
    line_ = n;
    text = Trim(text);
    if (text.empty() || text.front() == '#') return;
    const std::size_t eq = text.find('=');
    if (eq == std::string_view::npos) {
      Refuse("expects \"Column Name = Property\", not " + Quoted(text));
    }
    ColumnMapLine entry;
    entry.column = std::string(Trim(text.substr(0, eq)));
    entry.line = n;
    if (entry.column.empty()) Refuse("no column name before \"=\"");
    for (const ColumnMapLine& other : map_.lines) {
      if (qv_VCard::ascii::EqualIgnoringCase(other.column, entry.column)) {
        Refuse("column " + Quoted(entry.column) + " is already mapped on line " +
               std::to_string(other.line));
      }
    }
    std::string_view rest = text.substr(eq + 1);
    bool first = true;
    while (true) {
      const std::size_t comma = rest.find(',');
      const std::string_view item = Trim(rest.substr(0, comma));
      if (first) {
        if (!item.empty()) {
          entry.target = Property(item);
          Claim(entry.target, nullptr);
        } else if (comma != std::string_view::npos) {
          Refuse("no property after \"=\"");
        }
        first = false;
      } else {
        Extra(item, entry);
      }
      if (comma == std::string_view::npos) break;
      rest.remove_prefix(comma + 1);
    }
    map_.lines.push_back(std::move(entry));
  }

  // The card writes a telephone or an address only with a type: a map that
  // fills a slot and sets none of its types would lose it on every card.
  void CheckTypes() {
    for (const ColumnMapLine& entry : map_.lines) {
      std::vector<const qv_VCard::PropertyInfo*> used;
      if (entry.target != nullptr) used.push_back(entry.target);
      for (const ColumnMapLine::Extra& e : entry.extras) used.push_back(e.property);
      for (const qv_VCard::PropertyInfo* info : used) {
        const std::string_view name = info->name;
        if (info->kind == qv_VCard::Kind::Flag ||
            !(name.starts_with("Tel") || name.starts_with("Adr"))) {
          continue;
        }
        const std::string_view slot = name.substr(0, name.find('_') + 1);
        if (!SlotTyped(slot)) {
          line_ = entry.line;
          Refuse(std::string(name) + " stands on a card only with a type of " +
                 std::string(slot.substr(0, slot.size() - 1)) + " (such as " + std::string(slot) +
                 (name.starts_with("Tel") ? "Voice" : "Postal") + "=true)");
        }
      }
    }
  }

  ColumnMap Take() { return std::move(map_); }

 private:
  [[noreturn]] void Refuse(const std::string& why) const {
    throw InputRefused(
        "the column map " + map_.shown + ": line " + std::to_string(line_) + ": " + why, false);
  }

  const qv_VCard::PropertyInfo* Property(std::string_view name) const {
    const qv_VCard::PropertyInfo* info = qv_VCard::FindProperty(name);
    if (info == nullptr) {
      const std::string near = NearestPropertyName(name);
      Refuse("unknown property " + Quoted(name) +
             (near.empty() ? std::string() : " (did you mean " + near + "?)"));
    }
    return info;
  }

  // A property is filled by one line only; a further assignment may stand
  // on several lines when it assigns the same value.
  void Claim(const qv_VCard::PropertyInfo* info, const std::string* value) {
    for (const ColumnMapLine& other : map_.lines) {
      const bool target = other.target == info;
      bool differs = target;
      for (const ColumnMapLine::Extra& e : other.extras) {
        if (e.property == info) differs = differs || value == nullptr || e.value != *value;
      }
      if (differs) {
        Refuse(std::string(info->name) + " is already assigned on line " +
               std::to_string(other.line));
      }
    }
  }

  void Extra(std::string_view item, ColumnMapLine& entry) {
    const std::size_t eq = item.find('=');
    if (eq == std::string_view::npos) {
      Refuse("expects \"Property=VALUE\" after the first property, not " + Quoted(item));
    }
    const qv_VCard::PropertyInfo* info = Property(Trim(item.substr(0, eq)));
    std::string value(Trim(item.substr(eq + 1)));
    if (value.empty()) Refuse(std::string(info->name) + " is given no value");
    if (info == entry.target) Refuse(std::string(info->name) + " is assigned twice");
    for (const ColumnMapLine::Extra& e : entry.extras) {
      if (e.property == info) Refuse(std::string(info->name) + " is assigned twice");
    }
    // The value is checked as the tool would assign it, on a card of its own.
    qv_VCard::qvVCard card;
    std::u16string scratch;
    const std::string refusal = AssignText(card, *info, value, false, scratch);
    if (!refusal.empty()) Refuse(std::string(info->name) + ": " + refusal);
    Claim(info, &value);
    entry.extras.push_back({info, std::move(value)});
  }

  bool SlotTyped(std::string_view slot) const {
    const auto typed = [&](const qv_VCard::PropertyInfo* p) {
      return p != nullptr && p->kind == qv_VCard::Kind::Flag &&
             std::string_view(p->name).starts_with(slot);
    };
    for (const ColumnMapLine& entry : map_.lines) {
      if (typed(entry.target)) return true;
      for (const ColumnMapLine::Extra& e : entry.extras) {
        if (typed(e.property)) return true;
      }
    }
    return false;
  }

  ColumnMap map_;
  std::size_t line_ = 0;
};

}  // namespace

ColumnMap ParseColumnMap(std::string_view text, const std::string& shown) {
  if (text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);
  MapReader reader(shown);
  std::size_t n = 0;
  while (!text.empty()) {
    ++n;
    const std::size_t end = text.find_first_of("\r\n");
    std::string_view line = text.substr(0, end);
    reader.Line(line, n);
    if (end == std::string_view::npos) break;
    text.remove_prefix(end + (text.compare(end, 2, "\r\n") == 0 ? 2 : 1));
  }
  reader.CheckTypes();
  return reader.Take();
}

ColumnMap ReadColumnMap(const std::string& path) {
  std::error_code ec;
  if (std::filesystem::is_directory(path, ec)) {
    throw InputRefused("cannot read the column map " + path + ": it is a folder", false);
  }
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    throw InputRefused("cannot read the column map " + path + ": " + std::strerror(errno), false);
  }
  std::ostringstream text;
  text << in.rdbuf();
  if (in.bad()) throw InputRefused("cannot read the column map " + path, false);
  return ParseColumnMap(text.str(), path);
}

}  // namespace qvvcard
