// JSON Lines input: every key of the input is checked first (the stream is
// read to its end and rewound), then one line per card.
#include "card/ascii.hpp"
#include "common/text.hpp"
#include "input/jsonl_reader.hpp"
#include "input/record_source.hpp"

namespace qvvcard {

namespace {

using qv_VCard::PropertyInfo;

// An object without a value ({}, only null or "") is no record.
bool AllEmpty(std::span<const JsonItem> items) {
  for (const JsonItem& item : items) {
    const FieldValue& v = item.value;
    if (v.type != FieldValue::Type::Null &&
        !(v.type == FieldValue::Type::Text && v.view().empty())) {
      return false;
    }
  }
  return true;
}

// The keys of the lines, looked up once for a run of lines that name the
// same keys in the same order (as generated files do): the key in place i
// of the last line, and what it names.
class KeyLayout {
 public:
  struct Key {
    std::string name;
    const PropertyInfo* info = nullptr;
    bool uid = false;  // the --uid-from key
    bool geo = false;  // the decimal position
    bool looked = false;
    bool known() const { return info != nullptr || uid || geo; }
  };
  explicit KeyLayout(std::string uid_from) : uid_from_(std::move(uid_from)) {}
  // The key at position i of a line, as the last line had it there (the
  // usual case, checked in line) or looked up.
  const Key& At(std::size_t i, std::string_view name) {
    if (i < keys_.size() && keys_[i].looked && SameBytes(keys_[i].name, name)) return keys_[i];
    return LookUp(i, name);
  }
  // Whether object has the keys it had when Remember was last told of it
  // (every one of them looked at through At): they are Known(i) then.
  bool Knows(const JsonObject& object) const {
    return &object == object_ && object.keys() == keys_of_ && object.items().size() == count_;
  }
  const Key& Known(std::size_t i) const { return keys_[i]; }
  void Remember(const JsonObject& object) {
    object_ = &object;
    keys_of_ = object.keys();
    count_ = object.items().size();
  }

 private:
  [[gnu::noinline]] const Key& LookUp(std::size_t i, std::string_view name) {
    object_ = nullptr;
    if (i >= keys_.size()) keys_.resize(i + 1);
    Key& k = keys_[i];
    k.looked = true;
    k.name.assign(name);
    k.info = qv_VCard::FindProperty(name);
    k.uid = !uid_from_.empty() && qv_VCard::ascii::EqualIgnoringCase(name, uid_from_);
    k.geo = k.info == nullptr && IsGeoField(name);
    return k;
  }

  std::string uid_from_;
  std::vector<Key> keys_;
  const JsonObject* object_ = nullptr;
  std::uint64_t keys_of_ = 0;
  std::size_t count_ = 0;
};

class JsonlSource final : public RecordSource {
 public:
  JsonlSource(InputStream& in, const std::string& shown, const ConvertOptions& options)
      : in_(in),
        shown_(shown),
        limits_{options.max_record_bytes},
        layout_(options.uid_from),
        checked_(options.check_keys_first) {
    if (checked_) {
      CheckKeys();
      in_.Rewind();
    }
    reader_ = std::make_unique<JsonlReader>(in_, limits_);
  }

  bool Next(CardBuilder& b) override {
    while (reader_->Next(rec_)) {
      any_ = true;
      if (rec_.error().empty() && AllEmpty(rec_.items())) continue;
      b.Begin(++n_);
      if (!rec_.error().empty()) {
        b.Fail(MakeProblem(ProblemKind::Malformed, "line " + std::to_string(rec_.line()),
                           rec_.error()));
      } else {
        const std::span<const JsonItem> items = rec_.items();
        const bool known = layout_.Knows(rec_);
        for (std::size_t i = 0; i < items.size(); ++i) {
          const JsonItem& item = items[i];
          const KeyLayout::Key& key = known ? layout_.Known(i) : layout_.At(i, item.key);
          if (key.info != nullptr) {
            b.Set(*key.info, item.value);
          } else if (key.geo) {
            b.SetGeo(item.value);
          } else if (!key.uid) {
            // Read once, the input is refused here; checked first, no such
            // key is left.
            if (!checked_) RefuseUnknownKeys();
            b.Fail(MakeProblem(ProblemKind::UnknownProperty, item.key));
          }
          if (key.uid && (item.value.type == FieldValue::Type::Text || item.value.number)) {
            b.UidKey(item.value.view());
          }
        }
        layout_.Remember(rec_);
      }
      rec_.ReleaseIfLarge(kLargeValueBytes);  // its values are in the card now
      return true;
    }
    if (!any_) throw Empty();
    return false;
  }

 private:
  InputRefused Empty() const { return InputRefused(shown_ + " is empty: it holds no records"); }

  // Notes the keys of rec (record n) that name no property, each once.
  void NoteUnknown(const JsonRecord& rec, std::uint64_t n, std::vector<UnknownName>& unknown) {
    for (std::size_t i = 0; i < rec.items().size(); ++i) {
      const JsonItem& item = rec.items()[i];
      const KeyLayout::Key& key = layout_.At(i, item.key);
      if (key.known()) continue;
      bool seen = false;
      for (const UnknownName& u : unknown) seen = seen || u.name == item.key;
      if (!seen && unknown.size() < 50) {
        unknown.push_back({item.key, "record " + std::to_string(n) + " (line " +
                                         std::to_string(rec.line()) + ")"});
      }
    }
  }

  // Read once: when the record read names a key that is no property, the
  // rest of the input is read for the others, and the input refused.
  void RefuseUnknownKeys() {
    std::vector<UnknownName> unknown;
    NoteUnknown(rec_, n_, unknown);
    if (unknown.empty()) return;
    std::uint64_t n = n_;
    while (reader_->Next(rec_)) {
      if (!rec_.error().empty()) {
        ++n;
      } else if (!AllEmpty(rec_.items())) {
        NoteUnknown(rec_, ++n, unknown);
      }
    }
    throw UnknownNames(unknown, "key", shown_);
  }

  // Every key of every readable record must name a property; every
  // unknown key is named once. Most lines are told by their keys alone,
  // without parsing their values; a line that is not of plain form, or
  // names a key that is no property, is parsed to be sure.
  void CheckKeys() {
    JsonlReader reader(in_, limits_);
    JsonRecord rec;
    std::uint64_t n = 0;
    bool any = false;
    std::vector<UnknownName> unknown;
    std::vector<std::string_view> keys;
    while (reader.Read(rec)) {
      any = true;
      bool empty_values = false;
      bool known = rec.error().empty() && ScanTopLevelKeys(rec.text(), keys, &empty_values);
      for (std::size_t i = 0; known && i < keys.size(); ++i) {
        const KeyLayout::Key& key = layout_.At(i, keys[i]);
        known = key.known();
      }
      if (known) {
        // An object without a value ({}, only null or "") is no record.
        if (!empty_values) ++n;
        continue;
      }
      if (rec.error().empty()) reader.Parse(rec);
      if (!rec.error().empty()) {
        ++n;
        continue;  // reported when converted
      }
      if (AllEmpty(rec.items())) continue;
      NoteUnknown(rec, ++n, unknown);
    }
    if (!any) throw Empty();
    if (!unknown.empty()) throw UnknownNames(unknown, "key", shown_);
  }

  InputStream& in_;
  std::string shown_;
  JsonlReader::Limits limits_;
  KeyLayout layout_;
  bool checked_;
  bool any_ = false;
  std::unique_ptr<JsonlReader> reader_;
  JsonRecord rec_;
  std::uint64_t n_ = 0;
};

}  // namespace

std::unique_ptr<RecordSource> OpenJsonl(InputStream& in, const std::string& shown,
                                        const ConvertOptions& options) {
  return std::make_unique<JsonlSource>(in, shown, options);
}

}  // namespace qvvcard
