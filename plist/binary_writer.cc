// Writer for binary property lists ("bplist00"), laid out as the platform's writer does:
// objects in depth-first pre-order (a dictionary, then all its keys, then each value's
// subtree in turn), minimal integer and reference widths, no padding. Unlike the platform,
// equal scalars are always written once and dictionaries keep the model's order, so the
// output depends only on the value.
//
// Two passes: the first walks the tree, encodes every scalar into one buffer (its encoded
// bytes double as the uniquing key) and records each container's references; the second,
// once the object count and so the reference width are known, lays out the file.

#include <cmath>
#include <cstdint>
#include <cstring>
#include <functional>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

#include "plist/plist.h"
#include "text/utf.h"

namespace plist {
namespace {

constexpr std::string_view kMagic = "bplist00";
constexpr size_t kTrailerSize = 32;

uint64_t Bits(double d) {
  uint64_t bits;
  std::memcpy(&bits, &d, sizeof bits);
  return bits;
}

// The smallest of 1, 2, 4, 8 bytes holding `value`.
unsigned IntWidthLog2(uint64_t value) {
  if (value <= 0xFF) return 0;
  if (value <= 0xFFFF) return 1;
  if (value <= 0xFFFFFFFF) return 2;
  return 3;
}

// The smallest byte count (1, 2, 4 or 8) for which every value below `limit` fits, as the
// trailer's offset and reference widths are chosen.
unsigned FieldWidth(uint64_t limit) {
  if (limit < (uint64_t{1} << 8)) return 1;
  if (limit < (uint64_t{1} << 16)) return 2;
  if (limit < (uint64_t{1} << 32)) return 4;
  return 8;
}

void AppendBigEndian(uint64_t value, unsigned width, std::string* out) {
  for (unsigned i = width; i-- > 0;) out->push_back(static_cast<char>(value >> (8 * i)));
}

char* PutBigEndian(uint64_t value, unsigned width, char* p) {
  for (unsigned i = width; i-- > 0;) *p++ = static_cast<char>(value >> (8 * i));
  return p;
}

// Bytes taken by a marker carrying `count` (the count moves to a following integer
// object from 15 up).
size_t HeaderSize(uint64_t count) {
  return count < 15 ? 1 : 2 + (size_t{1} << IntWidthLog2(count));
}

char* PutHeader(uint8_t type, uint64_t count, char* p) {
  if (count < 15) {
    *p++ = static_cast<char>((type << 4) | count);
    return p;
  }
  const unsigned log2 = IntWidthLog2(count);
  *p++ = static_cast<char>((type << 4) | 0x0F);
  *p++ = static_cast<char>(0x10 | log2);
  return PutBigEndian(count, 1u << log2, p);
}

void AppendHeader(uint8_t type, uint64_t count, std::string* out) {
  char buffer[10];
  out->append(buffer, PutHeader(type, count, buffer));
}

bool IsAscii(std::string_view s) {
  size_t i = 0;
  for (; i + 8 <= s.size(); i += 8) {
    uint64_t word;
    std::memcpy(&word, s.data() + i, sizeof word);
    if (word & 0x8080808080808080u) return false;
  }
  for (; i < s.size(); ++i) {
    if (static_cast<unsigned char>(s[i]) & 0x80) return false;
  }
  return true;
}

// The float32 bit pattern of `d` when it is exactly a float32 value. NaNs are narrowed by
// hand to keep their payload (the reader widens them the same way).
bool NarrowToFloat(double d, uint32_t* bits) {
  const uint64_t b = Bits(d);
  if (std::isnan(d)) {
    if (b & ((uint64_t{1} << 29) - 1)) return false;
    *bits = static_cast<uint32_t>((b >> 32) & 0x80000000u) | 0x7F800000u |
            static_cast<uint32_t>((b >> 29) & 0x007FFFFFu);
    return true;
  }
  if (std::isfinite(d) && std::fabs(d) > std::numeric_limits<float>::max()) return false;
  const float f = static_cast<float>(d);
  if (Bits(f) != b) return false;
  std::memcpy(bits, &f, sizeof f);
  return true;
}

class BinaryWriter {
 public:
  explicit BinaryWriter(Error* error) : error_(error) {}

  bool write(const Value& value, std::string* out) {
    uint32_t top;
    if (!visit(value, 0, &top)) return false;
    layOut(out);
    return true;
  }

 private:
  enum class Type : uint8_t { kScalar, kArray, kDictionary };

  struct Object {
    Type type;
    uint64_t start;  // Scalars: position in scalars_. Containers: first slot in refs_.
    uint64_t size;   // Scalars: encoded length. Containers: entry count.
  };

  struct Slot {
    uint32_t hash;
    uint32_t entry;  // Object index + 1; 0 marks a free slot.
  };

  bool fail(const char* detail) {
    if (error_) *error_ = Error{ErrorCode::kUnwritable, 0, detail};
    return false;
  }

  bool newObject(Type type, uint64_t start, uint64_t size, uint32_t* index) {
    if (objects_.size() >= std::numeric_limits<uint32_t>::max()) return fail("too many objects");
    *index = static_cast<uint32_t>(objects_.size());
    objects_.push_back(Object{type, start, size});
    return true;
  }

  bool visit(const Value& value, size_t depth, uint32_t* index) {
    switch (value.kind()) {
      case Kind::kArray: {
        if (depth >= kMaxDepth) return fail("nesting too deep");
        const Array& array = value.array();
        const size_t slots = refs_.size();
        if (!newObject(Type::kArray, slots, array.size(), index)) return false;
        refs_.resize(slots + array.size());
        for (size_t i = 0; i < array.size(); ++i) {
          uint32_t child;
          if (!visit(array[i], depth + 1, &child)) return false;
          refs_[slots + i] = child;
        }
        return true;
      }
      case Kind::kDictionary: {
        if (depth >= kMaxDepth) return fail("nesting too deep");
        const Dictionary& dictionary = value.dictionary();
        const size_t n = dictionary.size();
        const size_t slots = refs_.size();
        if (!newObject(Type::kDictionary, slots, n, index)) return false;
        refs_.resize(slots + 2 * n);
        uint32_t child;
        for (size_t i = 0; i < n; ++i) {
          if (!addString(dictionary.keyAt(i), &child)) return false;
          refs_[slots + i] = child;
        }
        for (size_t i = 0; i < n; ++i) {
          if (!visit(dictionary.valueAt(i), depth + 1, &child)) return false;
          refs_[slots + n + i] = child;
        }
        return true;
      }
      default:
        return addScalar(value, index);
    }
  }

  bool addString(const std::string& s, uint32_t* index) {
    const size_t start = scalars_.size();
    if (IsAscii(s)) {
      AppendHeader(0x5, s.size(), &scalars_);
      scalars_.append(s);
      return intern(start, index);
    }
    if (!text::IsValidUtf8(s)) return fail("string is not valid UTF-8");
    std::u16string units = text::ToUtf16(s);
    AppendHeader(0x6, units.size(), &scalars_);
    for (char16_t unit : units) AppendBigEndian(unit, 2, &scalars_);
    return intern(start, index);
  }

  bool addScalar(const Value& value, uint32_t* index) {
    const size_t start = scalars_.size();
    switch (value.kind()) {
      case Kind::kString:
        return addString(value.string(), index);
      case Kind::kInteger: {
        const Integer& i = value.integer();
        if (i.isUnsigned && i.asSigned() < 0) {
          // Above INT64_MAX: only the 16-byte form holds it.
          scalars_.push_back('\x14');
          scalars_.append(8, '\0');
          AppendBigEndian(i.bits, 8, &scalars_);
        } else {
          // Negative numbers take the signed 8-byte form; the shorter forms are unsigned.
          const unsigned log2 = i.asSigned() < 0 ? 3 : IntWidthLog2(i.bits);
          scalars_.push_back(static_cast<char>(0x10 | log2));
          AppendBigEndian(i.bits, 1u << log2, &scalars_);
        }
        break;
      }
      case Kind::kReal: {
        const Real& r = value.real();
        uint32_t narrow;
        if (r.isFloat32) {
          if (!NarrowToFloat(r.value, &narrow)) return fail("float32 real out of float32 range");
          scalars_.push_back('\x22');
          AppendBigEndian(narrow, 4, &scalars_);
        } else {
          scalars_.push_back('\x23');
          AppendBigEndian(Bits(r.value), 8, &scalars_);
        }
        break;
      }
      case Kind::kBoolean:
        scalars_.push_back(value.boolean() ? '\x09' : '\x08');
        break;
      case Kind::kDate:
        scalars_.push_back('\x33');
        AppendBigEndian(Bits(value.date().seconds), 8, &scalars_);
        break;
      case Kind::kData: {
        const Data& data = value.data();
        AppendHeader(0x4, data.size(), &scalars_);
        scalars_.append(reinterpret_cast<const char*>(data.data()), data.size());
        break;
      }
      case Kind::kUid: {
        const unsigned log2 = IntWidthLog2(value.uid().value);
        scalars_.push_back(static_cast<char>(0x80 | ((1u << log2) - 1)));
        AppendBigEndian(value.uid().value, 1u << log2, &scalars_);
        break;
      }
      case Kind::kArray:
      case Kind::kDictionary:
        break;
    }
    return intern(start, index);
  }

  std::string_view encoded(const Object& object) const {
    return std::string_view(scalars_).substr(object.start, object.size);
  }

  // Makes the scalar just encoded at scalars_[start...] an object, or drops it again and
  // answers the index of an equal one written before. Encodings are injective on (kind,
  // payload), so equal bytes mean equal values.
  bool intern(size_t start, uint32_t* index) {
    const std::string_view bytes = std::string_view(scalars_).substr(start);
    // Slots carry 32 bits of the hash so that most probes never touch the objects.
    const auto h = static_cast<uint32_t>(std::hash<std::string_view>()(bytes));
    if (2 * (interned_ + 1) > slots_.size()) grow();
    const size_t mask = slots_.size() - 1;
    size_t s = h & mask;
    for (; slots_[s].entry != 0; s = (s + 1) & mask) {
      if (slots_[s].hash == h && encoded(objects_[slots_[s].entry - 1]) == bytes) {
        scalars_.resize(start);
        *index = slots_[s].entry - 1;
        return true;
      }
    }
    if (!newObject(Type::kScalar, start, bytes.size(), index)) return false;
    slots_[s] = Slot{h, *index + 1};
    ++interned_;
    return true;
  }

  void grow() {
    std::vector<Slot> old = std::move(slots_);
    slots_.assign(old.empty() ? 64 : 2 * old.size(), Slot{0, 0});
    const size_t mask = slots_.size() - 1;
    for (const Slot& slot : old) {
      if (slot.entry == 0) continue;
      size_t s = slot.hash & mask;
      while (slots_[s].entry != 0) s = (s + 1) & mask;
      slots_[s] = slot;
    }
  }

  void layOut(std::string* out) const {
    const uint64_t numObjects = objects_.size();
    const unsigned refSize = FieldWidth(numObjects);
    std::vector<uint64_t> offsets(numObjects);
    uint64_t offset = kMagic.size();
    for (uint64_t i = 0; i < numObjects; ++i) {
      const Object& object = objects_[i];
      offsets[i] = offset;
      switch (object.type) {
        case Type::kScalar:
          offset += object.size;
          break;
        case Type::kArray:
          offset += HeaderSize(object.size) + object.size * refSize;
          break;
        case Type::kDictionary:
          offset += HeaderSize(object.size) + 2 * object.size * refSize;
          break;
      }
    }
    const uint64_t tableOffset = offset;
    const unsigned offsetSize = FieldWidth(tableOffset);
    std::string file(tableOffset + numObjects * offsetSize + kTrailerSize, '\0');
    char* p = file.data();
    std::memcpy(p, kMagic.data(), kMagic.size());
    p += kMagic.size();
    for (const Object& object : objects_) {
      if (object.type == Type::kScalar) {
        std::memcpy(p, scalars_.data() + object.start, object.size);
        p += object.size;
        continue;
      }
      const bool dictionary = object.type == Type::kDictionary;
      p = PutHeader(dictionary ? 0xD : 0xA, object.size, p);
      const uint64_t end = object.start + (dictionary ? 2 : 1) * object.size;
      for (uint64_t slot = object.start; slot < end; ++slot)
        p = PutBigEndian(refs_[slot], refSize, p);
    }
    for (uint64_t o : offsets) p = PutBigEndian(o, offsetSize, p);
    p += 6;  // Unused bytes and sort version stay zero.
    *p++ = static_cast<char>(offsetSize);
    *p++ = static_cast<char>(refSize);
    p = PutBigEndian(numObjects, 8, p);
    p = PutBigEndian(0, 8, p);  // The top object is always written first.
    PutBigEndian(tableOffset, 8, p);
    out->swap(file);
  }

  Error* error_;
  std::string scalars_;
  std::vector<uint32_t> refs_;
  std::vector<Object> objects_;
  std::vector<Slot> slots_;  // Open-addressing table of the scalar objects.
  size_t interned_ = 0;
};

}  // namespace

bool WriteBinary(const Value& value, std::string* out, Error* error) {
  return BinaryWriter(error).write(value, out);
}

}  // namespace plist
