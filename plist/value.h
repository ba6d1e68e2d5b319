// The in-memory model of a property list: every kind that Apple's XML and binary
// formats can carry, with enough detail that a read followed by a write loses nothing
// the target format can hold.
//
// The model is laid out small, because a tree is a large multiple of its values: a Value
// takes 24 bytes, a dictionary entry 40, and text of up to 15 bytes (most keys and many
// strings) lives inside its String without an allocation of its own.
#ifndef BRTCONFIG_PLIST_VALUE_H_
#define BRTCONFIG_PLIST_VALUE_H_

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <utility>
#include <variant>

#include "plist/compact_vector.h"

namespace plist {

class Value;

// UTF-8 text (or any bytes) in 16 bytes: up to 15 bytes inline, longer text in one
// allocation of its own.
class String {
 public:
  String() noexcept : bytes() {}
  String(std::string_view text) : bytes() {  // NOLINT: implicit by design.
    if (text.size() > kInline) {
      makeOnHeap(text);
      return;
    }
    if (!text.empty()) std::memcpy(bytes, text.data(), text.size());
    bytes[kTag] = static_cast<unsigned char>(text.size());
  }
  String(const char* text) : String(std::string_view(text)) {}         // NOLINT
  String(const std::string& text) : String(std::string_view(text)) {}  // NOLINT
  // Inline text is copied as its 16 bytes, which is all of it.
  String(const String& other) : bytes() {
    if (other.onHeap()) {
      makeOnHeap(other.view());
    } else {
      std::memcpy(bytes, other.bytes, sizeof bytes);
    }
  }
  String(String&& other) noexcept {
    std::memcpy(bytes, other.bytes, sizeof bytes);
    std::memset(other.bytes, 0, sizeof other.bytes);
  }
  String& operator=(const String& other);
  String& operator=(String&& other) noexcept {
    if (this != &other) {
      release();
      std::memcpy(bytes, other.bytes, sizeof bytes);
      std::memset(other.bytes, 0, sizeof other.bytes);
    }
    return *this;
  }
  ~String() { release(); }

  const char* data() const;
  size_t size() const;
  bool empty() const { return size() == 0; }
  std::string_view view() const { return std::string_view(data(), size()); }
  operator std::string_view() const { return view(); }  // NOLINT: implicit by design.

  bool operator==(const String& other) const;
  bool operator!=(const String& other) const { return !(*this == other); }

 private:
  static constexpr size_t kInline = 15;
  static constexpr size_t kTag = 15;
  // bytes[kTag] is the length of inline text, whose unused bytes are zero (so that equal
  // inline texts are equal in all 16 bytes), or kOnHeap: then bytes[0..7] point to a
  // block whose first 8 bytes hold the length and the text follows. Text of up to
  // kInline bytes is always inline.
  static constexpr unsigned char kOnHeap = 0x80;

  bool onHeap() const { return bytes[kTag] == kOnHeap; }
  char* block() const;
  void makeOnHeap(std::string_view text);
  void release() {
    if (onHeap()) ::operator delete(block());
  }

  alignas(8) unsigned char bytes[16];
};

// An integer from -2^63 to 2^64-1. Values above INT64_MAX are kept as unsigned, as the
// binary format's 16-byte form allows.
struct Integer {
  uint64_t bits = 0;        // The value's 64-bit pattern.
  bool isUnsigned = false;  // Set only for values above INT64_MAX.

  static Integer fromSigned(int64_t value);
  static Integer fromUnsigned(uint64_t value);
  int64_t asSigned() const { return static_cast<int64_t>(bits); }
  bool operator==(const Integer& other) const;
};

// A real number; remembers whether the binary file held it as a 4-byte float so that a
// binary rewrite keeps that width.
struct Real {
  double value = 0;
  bool isFloat32 = false;
  bool operator==(const Real& other) const;  // Compares bit patterns and width.
};

// Seconds since 2001-01-01T00:00:00Z, kept raw so that fractions survive a binary rewrite.
struct Date {
  double seconds = 0;
  bool operator==(const Date& other) const;  // Compares bit patterns.
};

// A keyed-archive object reference.
struct Uid {
  uint64_t value = 0;
  bool operator==(const Uid& other) const { return value == other.value; }
};

using Data = CompactVector<uint8_t>;
using Array = CompactVector<Value>;

// A dictionary that keeps its entries in order: the order read from a file, new keys
// appended at the end. Keys are UTF-8 strings.
class Dictionary {
 public:
  struct Entry;  // A key and its value; defined below, once Value is complete.

  Dictionary() = default;
  // Takes `list` as it stands; the caller guarantees that no two keys are equal.
  explicit Dictionary(CompactVector<Entry> list);

  size_t size() const;
  bool empty() const;
  std::string_view keyAt(size_t i) const;
  const Value& valueAt(size_t i) const;
  Value& valueAt(size_t i);

  // The value under `key`, or null when the dictionary has no such key. Linear time.
  const Value* find(std::string_view key) const;
  Value* find(std::string_view key);

  // True when `other` has the same keys in the same order; the values are not compared.
  bool hasKeysOf(const Dictionary& other) const;

  // Replaces the value of an existing key where it stands, or appends a new entry.
  void set(String key, Value value);
  // Appends an entry without looking for an equal key; the caller guarantees there is none.
  void append(String key, Value value);
  void reserve(size_t n);

  bool operator==(const Dictionary& other) const;  // Same entries in the same order.
  bool operator!=(const Dictionary& other) const { return !(*this == other); }

 private:
  // One vector of entries rather than parallel vectors of keys and values keeps Value
  // small (a dictionary is the largest alternative it holds) and makes one allocation.
  CompactVector<Entry> entries;
};

enum class Kind { kString, kInteger, kReal, kBoolean, kDate, kData, kArray, kDictionary, kUid };

// One property-list value of any kind. Strings hold valid UTF-8.
class Value {
 public:
  Value() : payload(String()) {}
  Value(String s) : payload(std::move(s)) {}           // NOLINT: implicit by design.
  Value(std::string_view s) : payload(String(s)) {}    // NOLINT
  Value(const char* s) : payload(String(s)) {}         // NOLINT
  Value(const std::string& s) : payload(String(s)) {}  // NOLINT
  Value(Integer i) : payload(i) {}                     // NOLINT
  Value(Real r) : payload(r) {}                        // NOLINT
  Value(bool b) : payload(b) {}                        // NOLINT
  Value(Date d) : payload(d) {}                        // NOLINT
  Value(Data d) : payload(std::move(d)) {}             // NOLINT
  Value(Array a) : payload(std::move(a)) {}            // NOLINT
  Value(Dictionary d) : payload(std::move(d)) {}       // NOLINT
  Value(Uid u) : payload(u) {}                         // NOLINT

  // Factories for the kinds whose constructors take a struct.
  static Value fromInteger(int64_t i) { return Value(Integer::fromSigned(i)); }
  static Value fromReal(double d) { return Value(Real{d, false}); }

  Kind kind() const { return static_cast<Kind>(payload.index()); }
  bool isString() const { return kind() == Kind::kString; }
  bool isArray() const { return kind() == Kind::kArray; }
  bool isDictionary() const { return kind() == Kind::kDictionary; }

  // Accessors; each requires the matching kind.
  std::string_view string() const { return std::get<String>(payload).view(); }
  const Integer& integer() const { return std::get<Integer>(payload); }
  const Real& real() const { return std::get<Real>(payload); }
  bool boolean() const { return std::get<bool>(payload); }
  const Date& date() const { return std::get<Date>(payload); }
  const Data& data() const { return std::get<Data>(payload); }
  const Array& array() const { return std::get<Array>(payload); }
  Array& array() { return std::get<Array>(payload); }
  const Dictionary& dictionary() const { return std::get<Dictionary>(payload); }
  Dictionary& dictionary() { return std::get<Dictionary>(payload); }
  const Uid& uid() const { return std::get<Uid>(payload); }

  // Deep, exact equality: kinds, payloads (reals and dates by bit pattern) and order.
  bool operator==(const Value& other) const { return payload == other.payload; }
  bool operator!=(const Value& other) const { return !(*this == other); }

 private:
  // The order of the alternatives follows Kind.
  std::variant<String, Integer, Real, bool, Date, Data, Array, Dictionary, Uid> payload;
};

struct Dictionary::Entry {
  String key;
  Value value;
  bool operator==(const Entry& other) const { return key == other.key && value == other.value; }
};

inline size_t Dictionary::size() const { return entries.size(); }
inline bool Dictionary::empty() const { return entries.empty(); }
inline std::string_view Dictionary::keyAt(size_t i) const { return entries[i].key.view(); }
inline const Value& Dictionary::valueAt(size_t i) const { return entries[i].value; }
inline Value& Dictionary::valueAt(size_t i) { return entries[i].value; }

inline const char* String::data() const {
  return onHeap() ? block() + sizeof(size_t) : reinterpret_cast<const char*>(bytes);
}

inline size_t String::size() const {
  if (!onHeap()) return bytes[kTag];
  size_t n;
  std::memcpy(&n, block(), sizeof n);
  return n;
}

inline bool String::operator==(const String& other) const {
  if (onHeap() != other.onHeap()) return false;  // Their lengths differ.
  if (onHeap()) return view() == other.view();
  uint64_t mine[2], theirs[2];
  std::memcpy(mine, bytes, sizeof mine);
  std::memcpy(theirs, other.bytes, sizeof theirs);
  return mine[0] == theirs[0] && mine[1] == theirs[1];
}

inline char* String::block() const {
  char* p;
  std::memcpy(&p, bytes, sizeof p);
  return p;
}

}  // namespace plist

#endif  // BRTCONFIG_PLIST_VALUE_H_
