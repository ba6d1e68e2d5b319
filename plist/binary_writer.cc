// Writer for binary property lists ("bplist00"), laid out as the platform's writer does:
// objects in depth-first pre-order (a dictionary, then all its keys, then each value's
// subtree in turn), minimal integer and reference widths, no padding. Unlike the platform,
// equal scalars are always written once and dictionaries keep the document's order, so
// the output depends only on the value.
//
// Two passes: the first walks the tree, encodes every scalar into one buffer (its encoded
// bytes, found through their offset, double as the uniquing key) and records each
// container's references; the second, once the object count and so the reference width
// are known, lays out the file. A node that several containers share (as a binary file
// read shares its objects) is looked up by value once, and found by its number after.

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

#include "plist/binary_format.h"
#include "plist/hash.h"
#include "plist/output_buffer.h"
#include "plist/plist.h"
#include "text/utf.h"

namespace plist {
namespace {

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
  char bytes[8];
  out->append(bytes, PutBigEndian(value, width, bytes));
}

// The most bytes a marker with its count takes.
constexpr size_t kMaxHeaderSize = 10;

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

// The length of the scalar encoded at `p`. Every encoding states its length in its first
// bytes, so no encoding is a prefix of another.
size_t EncodedLength(const char* p) {
  const auto marker = static_cast<uint8_t>(p[0]);
  const unsigned nibble = marker & 0x0F;
  switch (marker >> 4) {
    case 0x0:  // Booleans.
      return 1;
    case 0x1:  // Integers and reals: 2^nibble bytes.
    case 0x2:
      return 1 + (size_t{1} << nibble);
    case 0x3:  // Dates.
      return 9;
    case 0x8:  // UIDs: nibble + 1 bytes.
      return 2 + nibble;
    default: {  // Data and strings: a count, in the marker or in an integer after it.
      uint64_t count = nibble;
      size_t header = 1;
      if (nibble == 0x0F) {
        const size_t width = size_t{1} << (static_cast<uint8_t>(p[1]) & 0x0F);
        count = 0;
        for (size_t i = 0; i < width; ++i) count = count << 8 | static_cast<uint8_t>(p[2 + i]);
        header = 2 + width;
      }
      return header + count * ((marker >> 4) == 0x6 ? 2 : 1);
    }
  }
}

// The float32 bit pattern of `d` when it is exactly a float32 value. NaNs are narrowed by
// hand to keep their payload (the reader widens them the same way).
bool NarrowToFloat(double d, uint32_t* bits) {
  const uint64_t b = DoubleBits(d);
  if (std::isnan(d)) {
    if (b & ((uint64_t{1} << 29) - 1)) return false;
    *bits = static_cast<uint32_t>((b >> 32) & 0x80000000u) | 0x7F800000u |
            static_cast<uint32_t>((b >> 29) & 0x007FFFFFu);
    return true;
  }
  if (std::isfinite(d) && std::fabs(d) > std::numeric_limits<float>::max()) return false;
  const float f = static_cast<float>(d);
  if (DoubleBits(f) != b) return false;
  *bits = FloatBits(f);
  return true;
}

// The longest encoding of a number, boolean, date or UID: a 16-byte integer's.
constexpr size_t kMaxFixedSize = 17;

// Encodes a number, boolean, date or UID at `p` and answers its length: 0 for other
// kinds, and for a real flagged float32 that no float32 holds.
size_t EncodeFixed(const Node& value, char* p) {
  char* const begin = p;
  switch (value.kind()) {
    case Kind::kInteger: {
      const Integer i = value.integer();
      if (i.isUnsigned && i.asSigned() < 0) {
        // Above INT64_MAX: only the 16-byte form holds it.
        *p++ = '\x14';
        p = PutBigEndian(0, 8, p);
        p = PutBigEndian(i.bits, 8, p);
      } else {
        // Negative numbers take the signed 8-byte form; the shorter forms are unsigned.
        const unsigned log2 = i.asSigned() < 0 ? 3 : IntWidthLog2(i.bits);
        *p++ = static_cast<char>(0x10 | log2);
        p = PutBigEndian(i.bits, 1u << log2, p);
      }
      break;
    }
    case Kind::kReal: {
      const Real r = value.real();
      uint32_t narrow;
      if (r.isFloat32) {
        if (!NarrowToFloat(r.value, &narrow)) return 0;
        *p++ = '\x22';
        p = PutBigEndian(narrow, 4, p);
      } else {
        *p++ = '\x23';
        p = PutBigEndian(DoubleBits(r.value), 8, p);
      }
      break;
    }
    case Kind::kBoolean:
      *p++ = value.boolean() ? '\x09' : '\x08';
      break;
    case Kind::kDate:
      *p++ = '\x33';
      p = PutBigEndian(DoubleBits(value.date().seconds), 8, p);
      break;
    case Kind::kUid: {
      const unsigned log2 = IntWidthLog2(value.uid().value);
      *p++ = static_cast<char>(0x80 | ((1u << log2) - 1));
      p = PutBigEndian(value.uid().value, 1u << log2, p);
      break;
    }
    default:
      return 0;
  }
  return static_cast<size_t>(p - begin);
}

class BinaryWriter {
 public:
  // The table's seed comes from where the writer lives, which address-space layout
  // randomisation varies from run to run; the output does not depend on it.
  explicit BinaryWriter(Error* sink)
      : error(sink), seed(SeedFrom(this)) {}

  bool write(const Document& document, OutputBuffer* out) {
    objectOf.assign(document.nodeCount(), kNoObject);
    uint32_t top;
    if (!visit(document.root(), 0, &top)) return false;
    std::vector<Slot>().swap(slots);  // Not needed to lay out; its memory goes first.
    std::vector<uint32_t>().swap(objectOf);
    return layOut(out);
  }

 private:
  // An object in file order is one number: the type in the two low bits, above them a
  // scalar's position in scalars or a container's entry count. A container's references
  // follow those of the containers before it in refs; a scalar's length is encoded in it.
  enum Type : uint64_t { kScalar, kArray, kDictionary };
  // (No buffer or count in memory reaches 2^62, so the field never loses bits.)
  static constexpr unsigned kTypeBits = 2;
  // Strings are hashed from their text, other scalars from their encoding.
  static constexpr uint64_t kStringSeed = 0x5354524E47u;

  struct Slot {
    uint32_t hash;
    uint32_t entry;  // Object index + 1; 0 marks a free slot.
  };
  static constexpr uint32_t kNoObject = UINT32_MAX;

  bool fail(const char* detail) { return Fail(error, ErrorCode::kUnwritable, 0, detail); }

  bool newObject(Type type, uint64_t field, uint32_t* index) {
    if (objects.size() >= std::numeric_limits<uint32_t>::max()) return fail("too many objects");
    *index = static_cast<uint32_t>(objects.size());
    objects.push_back(field << kTypeBits | type);
    return true;
  }
  static Type TypeOf(uint64_t object) { return static_cast<Type>(object & 3); }
  static uint64_t FieldOf(uint64_t object) { return object >> kTypeBits; }

  bool visit(const Node& value, size_t depth, uint32_t* index) {
    const bool dictionary = value.isDictionary();
    if (!value.isArray() && !dictionary) return addScalar(value, index);
    // Containers are written at each place they stand, as the platform does.
    if (depth >= kMaxDepth) return fail("nesting too deep");
    const size_t n = value.size();
    const size_t first = refs.size();
    if (!newObject(dictionary ? kDictionary : kArray, n, index)) return false;
    refs.resize(first + (dictionary ? 2 * n : n));
    uint32_t child;
    for (size_t i = 0; dictionary && i < n; ++i) {
      if (!addScalar(*value.entry(i).key, &child)) return false;
      refs[first + i] = child;
    }
    const size_t values = dictionary ? first + n : first;
    for (size_t i = 0; i < n; ++i) {
      if (!visit(dictionary ? value.valueAt(i) : value.item(i), depth + 1, &child)) return false;
      refs[values + i] = child;
    }
    return true;
  }

  // Adds a string, data, number, boolean, date or UID, or finds it written before.
  bool addScalar(const Node& value, uint32_t* index) {
    uint32_t& known = objectOf[value.id()];
    if (known != kNoObject) {
      *index = known;
      return true;
    }
    const size_t start = scalars.size();
    switch (value.kind()) {
      case Kind::kString: {
        const std::string_view s = value.string();
        // A string's encoding follows from its text, so the text is hashed.
        const uint32_t h = static_cast<uint32_t>(Hash(s, seed ^ kStringSeed));
        if (text::IsAscii(s)) {
          AppendHeader(0x5, s.size(), &scalars);
          scalars.append(s);
        } else {
          if (!text::IsValidUtf8(s)) return fail("string is not valid UTF-8");
          const std::u16string units = text::ToUtf16(s);
          AppendHeader(0x6, units.size(), &scalars);
          for (const char16_t unit : units) AppendBigEndian(unit, 2, &scalars);
        }
        if (!intern(start, h, index)) return false;
        break;
      }
      case Kind::kData: {
        const std::string_view bytes = value.data();
        AppendHeader(0x4, bytes.size(), &scalars);
        scalars.append(bytes);
        if (!intern(start, hash(std::string_view(scalars).substr(start)), index)) return false;
        break;
      }
      default: {
        char encoded[kMaxFixedSize];
        const size_t length = EncodeFixed(value, encoded);
        if (length == 0) return fail("float32 real out of float32 range");
        const std::string_view bytes(encoded, length);
        scalars.append(bytes);
        if (!intern(start, hash(bytes), index)) return false;
        break;
      }
    }
    known = *index;
    return true;
  }

  // The hash of a scalar other than a string, from its encoding.
  uint32_t hash(std::string_view bytes) const {
    return static_cast<uint32_t>(Hash(bytes, seed));
  }

  // Makes the scalar just encoded at scalars[start...] an object, or drops it again and
  // answers the index of an equal one written before. Encodings are injective on (kind,
  // payload), so equal bytes mean equal values; and as none is a prefix of another, an
  // earlier object whose bytes start with the new ones is equal to it.
  // `h` is the hash of the value; slots carry it so that most probes never touch the
  // objects.
  bool intern(size_t start, uint32_t h, uint32_t* index) {
    const std::string_view bytes = std::string_view(scalars).substr(start);
    if (2 * (interned + 1) > slots.size()) grow();
    const size_t mask = slots.size() - 1;
    size_t s = h & mask;
    for (; slots[s].entry != 0; s = (s + 1) & mask) {
      if (slots[s].hash == h &&
          scalars.compare(FieldOf(objects[slots[s].entry - 1]), bytes.size(), bytes) == 0) {
        scalars.resize(start);
        *index = slots[s].entry - 1;
        return true;
      }
    }
    if (!newObject(kScalar, start, index)) return false;
    slots[s] = Slot{h, *index + 1};
    ++interned;
    return true;
  }

  // Doubles the table, moving each slot with the hash it carries.
  void grow() {
    std::vector<Slot> old(slots.empty() ? 64 : 2 * slots.size(), Slot{0, 0});
    old.swap(slots);
    const size_t mask = slots.size() - 1;
    for (const Slot& slot : old) {
      if (slot.entry == 0) continue;
      size_t s = slot.hash & mask;
      while (slots[s].entry != 0) s = (s + 1) & mask;
      slots[s] = slot;
    }
  }

  // Writes the file: header, objects in order, offset table, trailer. Each object's
  // entry in `objects` is replaced by its offset once it is written. Fails, before
  // writing, when the file would be larger than a reader accepts.
  bool layOut(OutputBuffer* out) {
    const uint64_t numObjects = objects.size();
    const unsigned refSize = FieldWidth(numObjects);
    // Scalars take what they took in scalars, which holds each once.
    uint64_t tableOffset = kBinaryHeader.size() + scalars.size();
    for (const uint64_t object : objects) {
      if (TypeOf(object) == kScalar) continue;
      const uint64_t count = FieldOf(object);
      tableOffset += HeaderSize(count) + (TypeOf(object) == kDictionary ? 2 : 1) * count * refSize;
    }
    const unsigned offsetSize = FieldWidth(tableOffset);
    if (tableOffset + numObjects * offsetSize + kBinaryTrailerSize > kMaxInputBytes) {
      return fail("the document is too large written out");
    }
    out->put(kBinaryHeader);
    uint64_t offset = kBinaryHeader.size();
    const uint32_t* ref = refs.data();
    for (uint64_t& object : objects) {
      const uint64_t start = offset;
      if (TypeOf(object) == kScalar) {
        const char* encoded = scalars.data() + FieldOf(object);
        const size_t length = EncodedLength(encoded);
        out->put(encoded, length);
        offset += length;
      } else {
        const bool dictionary = TypeOf(object) == kDictionary;
        const uint64_t count = FieldOf(object);
        char* header = out->room(kMaxHeaderSize);
        char* end = PutHeader(dictionary ? 0xD : 0xA, count, header);
        out->advanceTo(end);
        offset += static_cast<uint64_t>(end - header);
        for (const uint32_t* last = ref + (dictionary ? 2 : 1) * count; ref != last; ++ref) {
          out->advanceTo(PutBigEndian(*ref, refSize, out->room(refSize)));
        }
        offset += (dictionary ? 2 : 1) * count * refSize;
      }
      object = start;
    }
    for (const uint64_t start : objects) {
      out->advanceTo(PutBigEndian(start, offsetSize, out->room(offsetSize)));
    }
    char trailer[kBinaryTrailerSize] = {};  // Unused bytes and sort version stay zero.
    char* p = trailer + 6;
    *p++ = static_cast<char>(offsetSize);
    *p++ = static_cast<char>(refSize);
    p = PutBigEndian(numObjects, 8, p);
    p = PutBigEndian(0, 8, p);  // The top object is always written first.
    PutBigEndian(tableOffset, 8, p);
    out->put(trailer, sizeof trailer);
    return true;
  }

  Error* error;
  uint64_t seed;
  std::string scalars;
  std::vector<uint32_t> refs;
  std::vector<uint64_t> objects;
  std::vector<Slot> slots;  // Open-addressing table of the scalar objects.
  size_t interned = 0;
  std::vector<uint32_t> objectOf;  // By node number, the object a scalar became.
};

}  // namespace

bool WriteBinary(const Document& document, const ByteSink& sink, Error* error) {
  OutputBuffer out(sink);
  if (!BinaryWriter(error).write(document, &out)) return false;
  return out.finish(error);
}

}  // namespace plist
