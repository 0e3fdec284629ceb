#include "input/column_map.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <unordered_map>
#include <vector>

#include "card/slot_table.hpp"
#include "common/fd.hpp"
#include "common/problem.hpp"
#include "common/stop.hpp"
#include "common/text.hpp"
#include "input/card_builder.hpp"
#include "input/export_format.hpp"

namespace qvvcard {

namespace {

using qv_VCard::PropertyInfo;

class MapReader {
 public:
  explicit MapReader(const std::string& shown) : check_(false) { map_.shown = shown; }

  void Line(std::string_view text, std::size_t n) {
    line_ = n;
    // The mark belongs at the start of the map, where it is dropped.
    if (StartsWithByteOrderMark(text)) Refuse("starts with a byte-order mark (U+FEFF)");
    text = TrimBlanks(text);
    if (text.empty() || text.front() == '#') return;
    const std::size_t eq = text.find('=');
    if (eq == std::string_view::npos) {
      Refuse("expects \"Column Name = Property\", not " + Quoted(text));
    }
    ColumnMapLine entry;
    entry.column = std::string(TrimBlanks(text.substr(0, eq)));
    entry.line = n;
    if (entry.column.empty()) Refuse("no column name before \"=\"");
    const auto [seen, fresh] = columns_.emplace(LowerAscii(entry.column), n);
    if (!fresh) {
      Refuse("column " + Quoted(entry.column) + " is already mapped on line " +
             std::to_string(seen->second));
    }
    std::string_view rest = text.substr(eq + 1);
    bool first = true;
    while (true) {
      const std::size_t comma = rest.find(',');
      const std::string_view item = TrimBlanks(rest.substr(0, comma));
      if (first) {
        if (!item.empty()) {
          entry.target = Property(item);
          Claim(*entry.target, nullptr);
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
    std::array<bool, qv_VCard::slots::kTypedSlotCount> typed{};
    const auto slot_index = [](const qv_VCard::slots::TypedSlot* s) {
      return static_cast<std::size_t>(s - qv_VCard::slots::kTypedSlots.data());
    };
    const auto each = [](const ColumnMapLine& entry, auto&& f) {
      if (entry.target != nullptr) f(*entry.target);
      for (const ColumnMapLine::Extra& e : entry.extras) f(*e.property);
    };
    for (const ColumnMapLine& entry : map_.lines) {
      each(entry, [&](const PropertyInfo& info) {
        const auto* slot = qv_VCard::slots::TypedSlotOf(info.property);
        if (slot != nullptr && qv_VCard::slots::IsTypeFlag(*slot, info.property)) {
          typed[slot_index(slot)] = true;
        }
      });
    }
    for (const ColumnMapLine& entry : map_.lines) {
      each(entry, [&](const PropertyInfo& info) {
        const auto* slot = qv_VCard::slots::TypedSlotOf(info.property);
        if (slot == nullptr || qv_VCard::slots::IsTypeFlag(*slot, info.property) ||
            typed[slot_index(slot)]) {
          return;
        }
        const bool tel = slot->kind == qv_VCard::slots::SlotKind::Telephone;
        const qv_VCard::Property example =
            tel ? qv_VCard::slots::Tel(slot->number, qv_VCard::slots::TelType::Voice)
                : qv_VCard::slots::Address(slot->number, qv_VCard::slots::AddressType::Postal);
        line_ = entry.line;
        Refuse(std::string(info.name) + " stands on a card only with a type of " +
               (tel ? "Tel" : "Adr") + std::to_string(slot->number) + " (such as " +
               qv_VCard::Info(example).name + "=true)");
      });
    }
  }

  ColumnMap Take() { return std::move(map_); }

 private:
  [[noreturn]] void Refuse(const std::string& why) const {
    throw InputRefused("the column map " + map_.shown + ": line " + std::to_string(line_) + ": " +
                       why);
  }

  const PropertyInfo* Property(std::string_view name) const {
    const PropertyInfo* info = qv_VCard::FindProperty(name);
    if (info == nullptr) Refuse(UnknownPropertyText(name));
    return info;
  }

  // A property is filled by one line only; a further assignment may stand
  // on several lines when it assigns the same value.
  void Claim(const PropertyInfo& info, const std::string* value) {
    Claimed& c = claimed_[static_cast<std::size_t>(info.property)];
    const bool target = value == nullptr;
    if (c.line != 0 && (target || c.target || c.value != *value)) {
      Refuse(std::string(info.name) + " is already assigned on line " + std::to_string(c.line));
    }
    if (c.line == 0) c = Claimed{line_, target, target ? std::string() : *value};
  }

  void Extra(std::string_view item, ColumnMapLine& entry) {
    const std::size_t eq = item.find('=');
    if (eq == std::string_view::npos) {
      Refuse("expects \"Property=VALUE\" after the first property, not " + Quoted(item));
    }
    const PropertyInfo* info = Property(TrimBlanks(item.substr(0, eq)));
    std::string value(TrimBlanks(item.substr(eq + 1)));
    if (value.empty()) Refuse(std::string(info->name) + " is given no value");
    if (info == entry.target) Refuse(std::string(info->name) + " is assigned twice");
    for (const ColumnMapLine::Extra& e : entry.extras) {
      if (e.property == info) Refuse(std::string(info->name) + " is assigned twice");
    }
    // The value is checked as the tool would assign it, on a card of its own.
    check_.Begin(1);
    check_.Set(*info, value);
    if (check_.bad()) Refuse(std::string(info->name) + ": " + Describe(check_.problems().front()));
    Claim(*info, &value);
    entry.extras.push_back({info, std::move(value)});
  }

  struct Claimed {
    std::size_t line = 0;  // 0: not yet
    bool target = false;   // filled by a column (rather than assigned a value)
    std::string value;
  };

  ColumnMap map_;
  std::size_t line_ = 0;
  std::unordered_map<std::string, std::size_t> columns_;  // folded name, line
  std::array<Claimed, qv_VCard::kPropertyCount> claimed_{};
  CardBuilder check_;
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
  const auto refuse = [&](const std::string& why) {
    return InputRefused("cannot read the column map " + path + ": " + why);
  };
  // A FIFO without a writer blocks in open and in read: a stop request
  // ends the wait.
  int fd = -1;
  while ((fd = open(path.c_str(), O_RDONLY | O_CLOEXEC)) < 0) {
    if (errno == ENOENT && path.find('/') == std::string::npos) {
      // A word of --columns misspelt, more likely than a map that is not there.
      std::vector<std::string_view> words;
      for (const ExportFormat& f : KnownExports()) words.push_back(f.key);
      if (const std::string near = Nearest(path, words); !near.empty()) {
        throw InputRefused("--columns " + path + ": no such export or column map (did you mean " +
                           near + "?)");
      }
    }
    if (errno != EINTR) throw refuse(std::strerror(errno));
    ThrowIfStopped();
  }
  const UniqueFd owned(fd);
  struct stat st {};
  if (fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) throw refuse("it is a folder");
  std::string text;
  char buffer[1 << 14];
  for (;;) {
    const ssize_t got = read(fd, buffer, sizeof buffer);
    if (got < 0) {
      if (errno != EINTR) throw refuse(std::strerror(errno));
      ThrowIfStopped();
      continue;
    }
    if (got == 0) break;
    if (text.size() + static_cast<std::size_t>(got) > kMaxColumnMapBytes) {
      throw refuse("it is larger than " + std::to_string(kMaxColumnMapBytes) + " bytes");
    }
    text.append(buffer, static_cast<std::size_t>(got));
  }
  return ParseColumnMap(text, path);
}

}  // namespace qvvcard
