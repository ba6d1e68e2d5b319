#include "plist/value.h"

#include <limits>
#include <utility>

#include "plist/bits.h"

namespace plist {

Integer Integer::fromSigned(int64_t value) { return Integer{static_cast<uint64_t>(value), false}; }

Integer Integer::fromUnsigned(uint64_t value) {
  return Integer{value, value > static_cast<uint64_t>(std::numeric_limits<int64_t>::max())};
}

// Compares values: the flag only tells 2^63 ... 2^64-1 from the negative numbers with the
// same bits, so an Integer flagged unsigned below that range still equals its signed twin.
bool Integer::operator==(const Integer& other) const {
  return bits == other.bits && (asSigned() >= 0 || isUnsigned == other.isUnsigned);
}

bool Real::operator==(const Real& other) const {
  return DoubleBits(value) == DoubleBits(other.value) && isFloat32 == other.isFloat32;
}

bool Date::operator==(const Date& other) const { return DoubleBits(seconds) == DoubleBits(other.seconds); }

Dictionary::Dictionary(std::vector<Entry> list) : entries(std::move(list)) {}

const Value* Dictionary::find(std::string_view key) const {
  for (const Entry& entry : entries) {
    if (entry.key == key) return &entry.value;
  }
  return nullptr;
}

Value* Dictionary::find(std::string_view key) {
  return const_cast<Value*>(static_cast<const Dictionary*>(this)->find(key));
}

bool Dictionary::hasKeysOf(const Dictionary& other) const {
  if (size() != other.size()) return false;
  for (size_t i = 0; i < size(); ++i) {
    if (!(entries[i].key == other.entries[i].key)) return false;
  }
  return true;
}

void Dictionary::set(std::string_view key, Value value) {
  if (Value* existing = find(key)) {
    *existing = std::move(value);
    return;
  }
  append(key, std::move(value));
}

void Dictionary::append(std::string_view key, Value value) {
  entries.push_back(Entry{std::string(key), std::move(value)});
}

void Dictionary::reserve(size_t n) { entries.reserve(n); }

bool Dictionary::operator==(const Dictionary& other) const { return entries == other.entries; }

}  // namespace plist
