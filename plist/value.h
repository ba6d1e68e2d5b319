// A property-list value of any kind that a program builds or keeps for itself: plain
// standard containers, copied and compared as values. Files are read into a Document
// (plist/document.h), which converts to and from this.
#ifndef BRTCONFIG_PLIST_VALUE_H_
#define BRTCONFIG_PLIST_VALUE_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

namespace plist {

class Value;

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

using Data = std::vector<uint8_t>;
using Array = std::vector<Value>;

// A dictionary that keeps its entries in order: the order read from a file, new keys
// appended at the end. Keys are UTF-8 strings.
class Dictionary {
 public:
  struct Entry;  // A key and its value; defined below, once Value is complete.

  Dictionary() = default;
  // Takes `list` as it stands; the caller guarantees that no two keys are equal.
  explicit Dictionary(std::vector<Entry> list);

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
  void set(std::string_view key, Value value);
  // Appends an entry without looking for an equal key; the caller guarantees there is none.
  void append(std::string_view key, Value value);
  void reserve(size_t n);

  bool operator==(const Dictionary& other) const;  // Same entries in the same order.
  bool operator!=(const Dictionary& other) const { return !(*this == other); }

 private:
  std::vector<Entry> entries;
};

enum class Kind { kString, kInteger, kReal, kBoolean, kDate, kData, kArray, kDictionary, kUid };

// One property-list value of any kind. Strings hold valid UTF-8.
class Value {
 public:
  Value() : payload(std::string()) {}
  Value(std::string s) : payload(std::move(s)) {}           // NOLINT: implicit by design.
  Value(std::string_view s) : payload(std::string(s)) {}    // NOLINT
  Value(const char* s) : payload(std::string(s)) {}         // NOLINT
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
  std::string_view string() const { return std::get<std::string>(payload); }
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
  std::variant<std::string, Integer, Real, bool, Date, Data, Array, Dictionary, Uid> payload;
};

struct Dictionary::Entry {
  std::string key;
  Value value;
  bool operator==(const Entry& other) const { return key == other.key && value == other.value; }
};

inline size_t Dictionary::size() const { return entries.size(); }
inline bool Dictionary::empty() const { return entries.empty(); }
inline std::string_view Dictionary::keyAt(size_t i) const { return entries[i].key; }
inline const Value& Dictionary::valueAt(size_t i) const { return entries[i].value; }
inline Value& Dictionary::valueAt(size_t i) { return entries[i].value; }

}  // namespace plist

#endif  // BRTCONFIG_PLIST_VALUE_H_
