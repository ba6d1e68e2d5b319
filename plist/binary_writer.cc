// Writer for binary property lists ("bplist00"), laid out as the platform's writer does:
// objects in depth-first pre-order (a dictionary, then all its keys, then each value's
// subtree in turn), minimal integer and reference widths, no padding. Unlike the platform,
// equal scalars are always written once and dictionaries keep the document's order, so
// the output depends only on the value.
//
// Two walks over the document, in the same order. The first numbers the objects, finds
// equal scalars (a node that several containers share, as a binary file read shares its
// objects, is looked up by value once and known by its number after) and adds up the
// sizes; the second, once the object count and so the reference width are known, writes
// each object as it comes, encoding scalars from their nodes. Nothing of the file is held
// in memory but its offset table.

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

#include "plist/binary_format.h"
#include "plist/codec.h"
#include "plist/plist.h"
#include "plist/hash.h"
#include "plist/output_buffer.h"
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

// The most bytes a marker with its count takes, and room for PutBigEndian's whole word.
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

// The UTF-16 code units of valid UTF-8 text: one for each sequence, two for the four-byte
// ones, which lie beyond the basic plane.
// How many bytes of `word` have their high bit set, given no other bit is.
uint64_t CountHighBits(uint64_t word) { return ((word >> 7) * 0x0101010101010101u) >> 56; }

// Counted eight bytes at a time: each continuation byte (10xxxxxx) takes one off the
// byte count, each lead byte of four (11110xxx) adds one.
uint64_t Utf16Length(std::string_view utf8) {
  constexpr uint64_t kHigh = 0x8080808080808080u;
  uint64_t units = utf8.size();
  size_t i = 0;
  for (uint64_t w; i + 8 <= utf8.size(); i += 8) {
    std::memcpy(&w, utf8.data() + i, sizeof w);
    const uint64_t continuation = w & ~(w << 1) & kHigh;
    const uint64_t fourByteLead = w & (w << 1) & (w << 2) & (w << 3) & kHigh;
    units += CountHighBits(fourByteLead) - CountHighBits(continuation);
  }
  for (; i < utf8.size(); ++i) {
    const auto byte = static_cast<unsigned char>(utf8[i]);
    units += static_cast<uint64_t>(byte >= 0xF0) - static_cast<uint64_t>((byte & 0xC0) == 0x80);
  }
  return units;
}

// The code point at `*pos` of text already known to be valid UTF-8; advances past it.
char32_t DecodeValidUtf8(std::string_view utf8, size_t* pos) {
  const auto byte = [&](size_t i) { return static_cast<char32_t>(utf8[*pos + i]) & 0xFF; };
  const char32_t lead = byte(0);
  if (lead < 0x80) {
    *pos += 1;
    return lead;
  }
  if (lead < 0xE0) {
    const char32_t cp = (lead & 0x1F) << 6 | (byte(1) & 0x3F);
    *pos += 2;
    return cp;
  }
  if (lead < 0xF0) {
    const char32_t cp = (lead & 0x0F) << 12 | (byte(1) & 0x3F) << 6 | (byte(2) & 0x3F);
    *pos += 3;
    return cp;
  }
  const char32_t cp =
      (lead & 0x07) << 18 | (byte(1) & 0x3F) << 12 | (byte(2) & 0x3F) << 6 | (byte(3) & 0x3F);
  *pos += 4;
  return cp;
}

// The longest encoding of a number, boolean, date or UID: a 16-byte integer's, whose last
// eight bytes PutBigEndian stores as one word.
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
  explicit BinaryWriter(Error* sink) : error(sink), seed(SeedFrom(this)) {}

  bool write(const Document& document, OutputBuffer* out) {
    objectOf.assign(document.nodeCount(), kNone);
    // Room for every node at half load, so the table never grows while scalars go in.
    size_t slotCount = 64;
    while (slotCount < 2 * document.nodeCount()) slotCount *= 2;
    slots.assign(slotCount, Slot{0, 0});
    if (!number(document.root(), 0)) return false;
    std::vector<Slot>().swap(slots);  // Not needed to write; their memory goes first.
    std::vector<const Node*>().swap(scalarNodes);
    refSize = FieldWidth(objects);
    const uint64_t tableOffset = kBinaryHeader.size() + bytes + refs * refSize;
    const unsigned offsetSize = FieldWidth(tableOffset);
    if (tableOffset + objects * offsetSize + kBinaryTrailerSize > kMaxInputBytes) {
      return fail("the document is too large written out");
    }
    offsets.reserve(objects);
    out->put(kBinaryHeader);
    next = 0;
    nextContainer = 0;
    if (!emit(document.root(), out)) return false;
    for (const uint32_t offset : offsets) {
      out->advanceTo(PutBigEndian(offset, offsetSize, out->room(8)));
    }
    char trailer[kBinaryTrailerSize] = {};  // Unused bytes and sort version stay zero.
    char* p = trailer + 6;
    *p++ = static_cast<char>(offsetSize);
    *p++ = static_cast<char>(refSize);
    p = PutBigEndian(objects, 8, p);
    p = PutBigEndian(0, 8, p);  // The top object is always written first.
    PutBigEndian(tableOffset, 8, p);
    out->put(trailer, sizeof trailer);
    return true;
  }

 private:
  static constexpr uint32_t kNone = UINT32_MAX;
  static constexpr uint64_t kStringSeed = 0x5354524E47u;
  static constexpr uint64_t kDataSeed = 0x44415441u;

  struct Slot {
    uint32_t hash;
    uint32_t entry;  // Scalar object index + 1; 0 marks a free slot.
  };
  // What the first walk learnt of a container at one place: how many objects and how
  // many containers its contents take, itself not counted.
  struct Extent {
    uint32_t objects;
    uint32_t containers;
  };

  bool fail(const char* detail) { return Fail(error, ErrorCode::kUnwritable, 0, detail); }

  static bool IsContainer(const Node& node) { return node.isArray() || node.isDictionary(); }

  // Calls `visit` on a container's contents in file order (a dictionary's keys, then its
  // values) while it answers true; answers whether it always did.
  template <typename Visit>
  static bool ForContents(const Node& container, const Visit& visit) {
    const size_t n = container.size();
    if (container.isArray()) {
      for (size_t i = 0; i < n; ++i) {
        if (!visit(container.item(i))) return false;
      }
      return true;
    }
    for (size_t i = 0; i < n; ++i) {
      if (!visit(*container.entry(i).key)) return false;
    }
    for (size_t i = 0; i < n; ++i) {
      if (!visit(container.valueAt(i))) return false;
    }
    return true;
  }

  // The first walk: numbers the objects under `value`, found at `depth`, in file order
  // (a container, its keys, then each value's objects in turn) and adds up their sizes.
  // Containers are written at each place they stand, as the platform does.
  bool number(const Node& value, size_t depth) {
    if (!IsContainer(value)) return numberScalar(value);
    if (depth >= kMaxDepth) return fail("nesting too deep");
    const size_t n = value.size();
    if (objects >= kNone - 1) return fail("too many objects");
    const uint64_t first = objects++;
    const size_t extent = extents.size();
    extents.push_back(Extent{0, 0});
    bytes += HeaderSize(n);
    refs += value.isDictionary() ? 2 * n : n;
    if (!ForContents(value, [this, depth](const Node& child) { return number(child, depth + 1); })) {
      return false;
    }
    extents[extent] = Extent{static_cast<uint32_t>(objects - first - 1),
                             static_cast<uint32_t>(extents.size() - extent - 1)};
    return true;
  }

  // Numbers a scalar the first time its node is met, unless an equal one has a number.
  bool numberScalar(const Node& value) {
    uint32_t& known = objectOf[value.id()];
    if (known != kNone) return true;
    // Its size, and the hash of its value: strings and data from their bytes, each with
    // a seed of its own, other scalars from their encoding.
    uint64_t size = 0;
    uint64_t hash;
    uint64_t units = 0;
    if (value.isString()) {
      const std::string_view s = value.string();
      const bool ascii = text::IsAscii(s);
      if (!ascii && !text::IsValidUtf8(s)) return fail("string is not valid UTF-8");
      units = ascii ? 0 : Utf16Length(s);
      size = ascii ? HeaderSize(s.size()) + s.size() : HeaderSize(units) + 2 * units;
      hash = Hash(s, seed ^ kStringSeed);
    } else if (value.kind() == Kind::kData) {
      size = HeaderSize(value.data().size()) + value.data().size();
      hash = Hash(value.data(), seed ^ kDataSeed);
    } else {
      char encoded[kMaxFixedSize];
      size = EncodeFixed(value, encoded);
      if (size == 0) return fail("float32 real out of float32 range");
      hash = Hash(std::string_view(encoded, size), seed);
    }
    const auto h = static_cast<uint32_t>(hash);
    const size_t mask = slots.size() - 1;
    size_t s = h & mask;
    for (; slots[s].entry != 0; s = (s + 1) & mask) {
      if (slots[s].hash == h && SameScalar(*scalarNodes[slots[s].entry - 1], value)) {
        known = objectOf[scalarNodes[slots[s].entry - 1]->id()];
        return true;
      }
    }
    if (objects >= kNone - 1) return fail("too many objects");
    known = static_cast<uint32_t>(objects++);
    scalarNodes.push_back(&value);
    utf16Units.push_back(static_cast<uint32_t>(units));
    slots[s] = Slot{h, static_cast<uint32_t>(scalarNodes.size())};
    bytes += size;
    return true;
  }

  // Whether two scalars are written the same: the same kind and bytes, or encoding.
  static bool SameScalar(const Node& a, const Node& b) {
    if (a.kind() != b.kind()) return false;
    if (a.isString() || a.kind() == Kind::kData) return a.string() == b.string();
    char x[kMaxFixedSize], y[kMaxFixedSize];
    const size_t n = EncodeFixed(a, x);
    return n == EncodeFixed(b, y) && std::memcmp(x, y, n) == 0;
  }

  // The second walk, in the order of the first: writes each object as its number comes.
  // A scalar is written where it is first met, a container recursed into.
  bool emit(const Node& value, OutputBuffer* out) {
    if (!IsContainer(value)) {
      if (objectOf[value.id()] == next) putScalar(value, out);
      return true;
    }
    emitContainer(value, out);
    return true;
  }

  void emitContainer(const Node& value, OutputBuffer* out) {
    ++nextContainer;
    start(out);
    out->advanceTo(PutHeader(value.isDictionary() ? 0xD : 0xA, value.size(),
                             out->room(kMaxHeaderSize)));
    // The references. A scalar new here takes the next number, a container the next
    // number and then as many as its contents take.
    uint64_t cursor = next;
    size_t container = nextContainer;
    ForContents(value, [&](const Node& child) {
      uint64_t index = objectOf[child.id()];
      if (IsContainer(child)) {
        index = cursor;
        cursor += 1 + extents[container].objects;
        container += 1 + extents[container].containers;
      } else if (index == cursor) {
        ++cursor;
      }
      out->advanceTo(PutBigEndian(index, refSize, out->room(8)));
      return true;
    });
    ForContents(value, [this, out](const Node& child) {
      if (IsContainer(child)) {
        emitContainer(child, out);
      } else if (objectOf[child.id()] == next) {
        putScalar(child, out);
      }
      return true;
    });
  }

  // Writes a scalar, the object numbered `next`.
  void putScalar(const Node& value, OutputBuffer* out) {
    start(out);
    const uint32_t units = utf16Units[nextScalar++];
    if (value.isString()) {
      const std::string_view s = value.string();
      char* header = out->room(kMaxHeaderSize);
      if (units == 0) {
        out->advanceTo(PutHeader(0x5, s.size(), header));
        out->put(s);
      } else {
        out->advanceTo(PutHeader(0x6, units, header));
        for (size_t pos = 0; pos < s.size();) {
          const char32_t cp = DecodeValidUtf8(s, &pos);
          char* p = out->room(10);
          if (cp < 0x10000) {
            p = PutBigEndian(cp, 2, p);
          } else {
            p = PutBigEndian(0xD800 + ((cp - 0x10000) >> 10), 2, p);
            p = PutBigEndian(0xDC00 + (cp & 0x3FF), 2, p);
          }
          out->advanceTo(p);
        }
      }
    } else if (value.kind() == Kind::kData) {
      out->advanceTo(PutHeader(0x4, value.data().size(), out->room(kMaxHeaderSize)));
      out->put(value.data());
    } else {
      char* p = out->room(kMaxFixedSize);
      out->advanceTo(p + EncodeFixed(value, p));
    }
  }

  // Records where the object numbered `next` starts, and moves on to the next number.
  // The file was checked to fit a reader's ceiling, so offsets fit 32 bits.
  void start(const OutputBuffer* out) {
    offsets.push_back(static_cast<uint32_t>(out->total()));
    ++next;
  }

  Error* error;
  uint64_t seed;
  // The first walk's findings.
  std::vector<uint32_t> objectOf;  // By node number, the object a scalar node is written as.
  std::vector<const Node*> scalarNodes;  // By scalar object, in order, the node first met.
  // By scalar object: a string's UTF-16 code units, 0 for ASCII (written as such) and
  // for other scalars.
  std::vector<uint32_t> utf16Units;
  std::vector<Slot> slots;  // Open-addressing table of the scalar objects, by value.
  std::vector<Extent> extents;  // By container object, in order.
  uint64_t objects = 0;
  uint64_t bytes = 0;  // Of all objects but the references.
  uint64_t refs = 0;
  // The second walk's.
  unsigned refSize = 1;
  uint64_t next = 0;  // The number of the next object to write.
  size_t nextContainer = 0;
  size_t nextScalar = 0;
  std::vector<uint32_t> offsets;
};

}  // namespace

bool WriteBinary(const Document& document, const ByteSink& sink, Error* error) {
  OutputBuffer out(sink);
  if (!BinaryWriter(error).write(document, &out)) return false;
  return out.finish(error);
}

}  // namespace plist
