// The reader of files of settings to apply: property lists through the project's own
// reader, JSON through nlohmann-json's event (SAX) parser. JSON is never built into a tree:
// the events drive a small state machine that collects the entries, so that memory grows
// with the texts kept, nesting is refused past a small depth before it costs anything, and
// repeated keys are found as they come.
#include "settings/apply_input.h"

#include <cstddef>
#include <iterator>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "plist/plist.h"
#include "settings/setting.h"
#include "text/escape.h"
#include "text/number_text.h"

namespace brtconfig {
namespace {

// ---- What a value is, whichever format it came from ----

// How a JSON value starts, as the events tell it.
enum class Shape { kNull, kScalar, kList, kRecord };

// "a date", "data", "a UID": how a property-list kind is named in a reason.
const char* KindPhrase(plist::Kind kind) {
  switch (kind) {
    case plist::Kind::kString:
      return "a string";
    case plist::Kind::kInteger:
    case plist::Kind::kReal:
      return "a number";
    case plist::Kind::kBoolean:
      return "a boolean";
    case plist::Kind::kDate:
      return "a date";
    case plist::Kind::kData:
      return "data";
    case plist::Kind::kUid:
      return "a UID";
    case plist::Kind::kArray:
      return "a list";
    case plist::Kind::kDictionary:
      return "a dictionary";
  }
  return "a value";
}

// The one text of a property-list scalar, or nothing when `value` is no scalar.
std::optional<std::string> ScalarText(const plist::Node& value) {
  switch (value.kind()) {
    case plist::Kind::kString:
      return std::string(value.string());
    case plist::Kind::kInteger: {
      const plist::Integer n = value.integer();
      return n.isUnsigned ? std::to_string(n.bits) : std::to_string(n.asSigned());
    }
    case plist::Kind::kReal:
      return text::ShortestRealText(value.real().value, value.real().isFloat32);
    case plist::Kind::kBoolean:
      return std::string(value.boolean() ? "true" : "false");
    default:
      return std::nullopt;
  }
}

// Collects the texts of one entry; the first fault found is the entry's reason.
struct EntryBuilder {
  std::string key;
  std::vector<std::string> texts;
  bool hasValue = false;
  std::string reason;

  void start(std::string name) {
    key = std::move(name);
    texts.clear();
    hasValue = false;
    reason.clear();
  }
  void fault(std::string why) {
    if (reason.empty()) reason = std::move(why);
  }
  // Hands the entry over: to `entries` when it is valid and has a value.
  void finish(std::vector<ApplyEntry>* entries, std::vector<InvalidApplyEntry>* invalid) {
    if (!reason.empty()) {
      invalid->push_back({std::move(key), std::move(reason)});
    } else if (hasValue) {
      entries->push_back({std::move(key), std::move(texts)});
    }
  }
};

constexpr char kEmptyList[] = "the list is empty";

// "1024 members": what a dictionary or object may not hold more of.
std::string MemberLimit() { return std::to_string(kMaxApplyMembers) + " members"; }

// Why a list longer than any setting takes is refused; such a list is counted, never kept.
std::string LongList() {
  return "the list holds more than " + std::to_string(kMaxListValues) + " values";
}

// ---- Property lists ----

// Takes one value of an entry (the member itself, or a dictionary's "value" member).
// The document is read, never copied: a file's shared values cost nothing here.
void TakePlistValue(const plist::Node& value, bool isValueMember, EntryBuilder* entry) {
  if (std::optional<std::string> text = ScalarText(value)) {
    entry->texts.push_back(std::move(*text));
    entry->hasValue = true;
    return;
  }
  switch (value.kind()) {
    case plist::Kind::kArray:
      entry->hasValue = true;
      if (value.size() == 0) entry->fault(kEmptyList);
      if (value.size() > kMaxListValues) {
        entry->fault(LongList());
        return;
      }
      for (size_t i = 0; i < value.size(); ++i) {
        std::optional<std::string> text = ScalarText(value.item(i));
        if (!text) {
          entry->fault(std::string("a list element is ") + KindPhrase(value.item(i).kind()));
          return;
        }
        entry->texts.push_back(std::move(*text));
      }
      return;
    case plist::Kind::kDictionary:
      if (isValueMember) {
        entry->fault("the \"value\" member is a dictionary");
      } else if (const plist::Node* inner = value.find("value")) {
        TakePlistValue(*inner, true, entry);
      }
      return;
    default:
      entry->fault(std::string("the value is ") + KindPhrase(value.kind()));
      return;
  }
}

bool ParsePlist(std::string_view bytes, std::vector<ApplyEntry>* entries,
                std::vector<InvalidApplyEntry>* invalid, ApplyInputError* error) {
  plist::Document document;
  plist::Error plistError;
  if (!plist::Read(bytes, &document, &plistError)) {
    error->message = "not a valid property list: " + plistError.detail;
    error->offset = plistError.offset;
    return false;
  }
  const plist::Node& top = document.root();
  if (!top.isDictionary()) {
    error->message = std::string("the property list's top level is ") + KindPhrase(top.kind()) +
                     ", not a dictionary";
    return false;
  }
  if (top.size() > kMaxApplyMembers) {
    error->message = "the property list's top dictionary holds more than " + MemberLimit();
    return false;
  }
  EntryBuilder entry;
  for (size_t i = 0; i < top.size(); ++i) {
    entry.start(std::string(top.keyAt(i)));
    TakePlistValue(top.valueAt(i), false, &entry);
    entry.finish(entries, invalid);
  }
  return true;
}

// ---- JSON ----

// An iterator over the input that tells how far the parser has read, so that faults
// found in events (which carry no position) can be placed.
class CountingIterator {
 public:
  using iterator_category = std::input_iterator_tag;
  using value_type = char;
  using difference_type = std::ptrdiff_t;
  using pointer = const char*;
  using reference = const char&;

  CountingIterator(const char* start, const char** progress) : at(start), reached(progress) {}
  reference operator*() const { return *at; }
  CountingIterator& operator++() {
    *reached = ++at;
    return *this;
  }
  CountingIterator operator++(int) {
    CountingIterator before = *this;
    ++*this;
    return before;
  }
  bool operator==(const CountingIterator& other) const { return at == other.at; }
  bool operator!=(const CountingIterator& other) const { return at != other.at; }

 private:
  const char* at;
  const char** reached;
};

using Json = nlohmann::json;

// Receives the parser's events and collects the entries.
class JsonEntries : public nlohmann::json_sax<Json> {
 public:
  JsonEntries(std::string_view bytes, size_t top, const char** progress,
              std::vector<ApplyEntry>* found, std::vector<InvalidApplyEntry>* refused,
              ApplyInputError* fault)
      : begin(bytes.data()),
        topOffset(top),
        reached(progress),
        entries(found),
        invalid(refused),
        error(fault) {}

  bool null() override { return value(Shape::kNull, std::string()); }
  bool boolean(bool b) override { return value(Shape::kScalar, b ? "true" : "false"); }
  bool number_integer(number_integer_t n) override {
    return value(Shape::kScalar, std::to_string(n));
  }
  bool number_unsigned(number_unsigned_t n) override {
    return value(Shape::kScalar, std::to_string(n));
  }
  bool number_float(number_float_t n, const string_t& /*raw*/) override {
    return value(Shape::kScalar, text::ShortestRealText(n));
  }
  bool string(string_t& s) override { return value(Shape::kScalar, std::move(s)); }
  // Only the binary JSON formats carry binary data.
  bool binary(binary_t& /*unused*/) override { return fail("not valid JSON", Offset()); }

  bool start_object(std::size_t /*unused*/) override { return open(true); }
  bool start_array(std::size_t /*unused*/) override { return open(false); }
  bool end_object() override { return close(); }
  bool end_array() override { return close(); }

  bool key(string_t& name) override {
    Frame& frame = frames.back();
    if (frame.keys.size() == kMaxApplyMembers) {
      return fail("an object holds more than " + MemberLimit(), Offset() - 1);
    }
    if (!frame.keys.insert(name).second) {
      return fail("the key \"" + text::Escaped(name) + "\" appears twice in one object",
                  Offset() - 1);
    }
    if (frame.role == Role::kTop) entry.start(name);
    frame.atValueMember = name == "value";
    return true;
  }

  bool parse_error(std::size_t position, const std::string& /*token*/,
                   const nlohmann::detail::exception& ex) override {
    // "[json.exception.parse_error.101] parse error at line 1, column 7: ...; last read:
    // '...'; expected ..." without the bracketed name, nor the bytes last read: they are the
    // input's, perhaps not even UTF-8, and the offset says where they are.
    std::string what = ex.what();
    const size_t close = what.find("] ");
    if (what.compare(0, 1, "[") == 0 && close != std::string::npos) what.erase(0, close + 2);
    const size_t lastRead = what.find("; last read: '");
    if (lastRead != std::string::npos) {
      const size_t expected = what.find("'; expected ", lastRead);
      what.erase(lastRead, expected == std::string::npos ? std::string::npos
                                                         : expected + 1 - lastRead);
    }
    // The position counts the bytes read, the faulty one included.
    return fail("not valid JSON: " + what, position > 0 ? position - 1 : 0);
  }

 private:
  // What the values in a container are to the entries.
  enum class Role {
    kTop,         // The top-level object: each member is an entry.
    kEntryList,   // A list as an entry's value.
    kEntryRecord, // An object as an entry's value.
    kValueList,   // A list as the "value" member of such an object.
    kIgnored,     // Anything else: parsed and checked, then dropped.
  };
  struct Frame {
    Role role;
    bool atValueMember = false;  // The object's current member is "value".
    std::set<std::string> keys;  // Ordered, so that chosen keys cannot force collisions.
  };

  size_t Offset() const { return static_cast<size_t>(*reached - begin); }

  bool fail(std::string message, size_t offset) {
    error->message = std::move(message);
    error->offset = offset;
    return false;
  }

  // A value, or the start of a container (shape kList or kRecord).
  bool value(Shape shape, std::string text) {
    if (frames.empty()) {
      if (shape == Shape::kRecord) return true;
      return fail(std::string("the JSON text's top level is ") +
                      (shape == Shape::kList   ? "a list"
                       : shape == Shape::kNull ? "null"
                                               : "a single value") +
                      ", not an object",
                  topOffset);
    }
    Frame& frame = frames.back();
    switch (frame.role) {
      case Role::kTop:
        entry.hasValue = shape == Shape::kScalar || shape == Shape::kList;
        take(shape, &text, false);
        if (shape != Shape::kList && shape != Shape::kRecord) entry.finish(entries, invalid);
        return true;
      case Role::kEntryRecord:
        if (!frame.atValueMember) {
          pending = Role::kIgnored;
          return true;
        }
        entry.hasValue = shape == Shape::kScalar || shape == Shape::kList;
        take(shape, &text, true);
        return true;
      case Role::kEntryList:
      case Role::kValueList:
        if (shape == Shape::kScalar && entry.texts.size() == kMaxListValues) {
          entry.fault(LongList());
        } else if (shape == Shape::kScalar) {
          entry.texts.push_back(std::move(text));
        } else {
          entry.fault(std::string("a list element is ") +
                      (shape == Shape::kNull   ? "null"
                       : shape == Shape::kList ? "a list"
                                               : "an object"));
        }
        pending = Role::kIgnored;
        return true;
      case Role::kIgnored:
        pending = Role::kIgnored;
        return true;
    }
    return true;
  }

  // An entry's own value, or its object's "value" member; sets the role of a container.
  void take(Shape shape, std::string* text, bool isValueMember) {
    switch (shape) {
      case Shape::kScalar:
        entry.texts.push_back(std::move(*text));
        break;
      case Shape::kList:
        pending = isValueMember ? Role::kValueList : Role::kEntryList;
        break;
      case Shape::kRecord:
        if (isValueMember) entry.fault("the \"value\" member is an object");
        pending = isValueMember ? Role::kIgnored : Role::kEntryRecord;
        break;
      case Shape::kNull:
        break;
    }
  }

  bool open(bool isObject) {
    if (frames.size() >= kMaxApplyJsonDepth) {
      return fail("the JSON text nests deeper than " + std::to_string(kMaxApplyJsonDepth) +
                      " levels",
                  Offset() - 1);
    }
    pending = Role::kTop;
    if (!value(isObject ? Shape::kRecord : Shape::kList, std::string())) return false;
    frames.push_back(Frame{pending, false, {}});
    return true;
  }

  bool close() {
    const Role role = frames.back().role;
    frames.pop_back();
    if ((role == Role::kEntryList || role == Role::kValueList) && entry.texts.empty()) {
      entry.fault(kEmptyList);
    }
    if (role == Role::kEntryRecord || role == Role::kEntryList) {
      entry.finish(entries, invalid);
    }
    return true;
  }

  const char* begin;
  size_t topOffset;  // Where the top-level value starts.
  const char** reached;
  std::vector<ApplyEntry>* entries;
  std::vector<InvalidApplyEntry>* invalid;
  ApplyInputError* error;
  std::vector<Frame> frames;
  Role pending = Role::kTop;  // The role of the container being opened.
  EntryBuilder entry;
};

bool ParseJson(std::string_view bytes, size_t topOffset, std::vector<ApplyEntry>* entries,
               std::vector<InvalidApplyEntry>* invalid, ApplyInputError* error) {
  const char* reached = bytes.data();
  JsonEntries events(bytes, topOffset, &reached, entries, invalid, error);
  const CountingIterator first(bytes.data(), &reached);
  const CountingIterator last(bytes.data() + bytes.size(), &reached);
  return Json::sax_parse(first, last, &events, nlohmann::json::input_format_t::json,
                         /*strict=*/true, /*ignore_comments=*/false);
}

// The offset of the first byte past an optional UTF-8 byte-order mark and white space.
size_t FirstSignificantByte(std::string_view bytes) {
  size_t i = bytes.substr(0, 3) == "\xEF\xBB\xBF" ? 3 : 0;
  while (i < bytes.size() &&
         (bytes[i] == ' ' || bytes[i] == '\t' || bytes[i] == '\n' || bytes[i] == '\r')) {
    ++i;
  }
  return i;
}

// The format `bytes` are read as (see ParseApplyInput).
ApplyInputFormat DetectFormat(std::string_view bytes) {
  if (bytes.substr(0, 7) == "bplist0") return ApplyInputFormat::kBinaryPlist;
  if (bytes.size() >= 2) {
    const auto b0 = static_cast<unsigned char>(bytes[0]);
    const auto b1 = static_cast<unsigned char>(bytes[1]);
    if ((b0 == 0xFE && b1 == 0xFF) || (b0 == 0xFF && b1 == 0xFE) || b0 == 0 || b1 == 0) {
      return ApplyInputFormat::kXmlPlist;
    }
  }
  const size_t first = FirstSignificantByte(bytes);
  return first < bytes.size() && bytes[first] == '<' ? ApplyInputFormat::kXmlPlist
                                                     : ApplyInputFormat::kJson;
}

}  // namespace

bool ParseApplyInput(std::string_view bytes, std::vector<ApplyEntry>* entries,
                     ApplyInputError* error, ApplyInputFormat* format) {
  ApplyInputError scratch;
  ApplyInputError& fault = error ? *error : scratch;
  fault = ApplyInputError();
  const ApplyInputFormat detected = DetectFormat(bytes);
  if (format) *format = detected;
  if (bytes.size() > plist::kMaxInputBytes) {
    fault.message = "the input is larger than " + std::to_string(plist::kMaxInputBytes >> 20) +
                    " MiB";
    return false;
  }
  std::vector<ApplyEntry> found;
  std::vector<InvalidApplyEntry> invalid;
  const bool ok = detected == ApplyInputFormat::kJson
                      ? ParseJson(bytes, FirstSignificantByte(bytes), &found, &invalid, &fault)
                      : ParsePlist(bytes, &found, &invalid, &fault);
  if (!ok) return false;
  *entries = std::move(found);
  fault.invalidEntries = std::move(invalid);
  return fault.invalidEntries.empty();
}

}  // namespace brtconfig
