// Writer for binary property lists ("bplist00"), laid out as the platform's writer does:
// objects in depth-first pre-order (a dictionary, then all its keys, then each value's
// subtree in turn), minimal integer and reference widths, no padding. Unlike the platform,
// equal scalars are always written once and dictionaries keep the document's order, so
// the output depends only on the value.
//
// Two passes. The first walks the document, lists the objects in the order they are
// written and decides each one's form and size: equal scalars are found by value once (a
// node that several containers share, as a binary file read shares its objects, is known
// by its number after). The second, once the object count and so the reference width
// are known, goes down that list and only writes. Nothing of the file is held in memory
// but the list.

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <string_view>
#include <vector>

#include "plist/binary_format.h"
#include "plist/codec.h"
#include "plist/hash.h"
#include "plist/output_buffer.h"
#include "plist/plist.h"

namespace plist {
namespace {

// The smallest of 1, 2, 4, 8 bytes holding `value`.
unsigned IntWidthLog2(uint64_t value) {
  if (value <= 0xFF) return 0;
  if (value <= 0xFFFF) return 1;
  if (value <= 0xFFFFFFFF) return 2;
  return 3;
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

// The UTF-16 code units of `utf8`, or 0 when it is not well-formed UTF-8: validated and
// counted in one pass, runs of ASCII a word at a time.
uint64_t Utf16Units(std::string_view utf8) {
  const auto* p = reinterpret_cast<const unsigned char*>(utf8.data());
  const size_t n = utf8.size();
  uint64_t units = 0;
  for (size_t i = 0; i < n; ++units) {
    uint64_t word;
    if (i + 8 <= n && (std::memcpy(&word, p + i, 8), (word & 0x8080808080808080u) == 0)) {
      i += 8;
      units += 7;
      continue;
    }
    // The sequence's length, and the range of its second byte that keeps out overlong
    // forms, surrogates and code points beyond U+10FFFF.
    const unsigned lead = p[i];
    const size_t length = lead < 0x80   ? 1
                          : lead < 0xC2 ? 0
                          : lead < 0xE0 ? 2
                          : lead < 0xF0 ? 3
                          : lead < 0xF5 ? 4
                                        : 0;
    const unsigned low = lead == 0xE0 ? 0xA0 : lead == 0xF0 ? 0x90 : 0x80;
    const unsigned high = lead == 0xED ? 0x9F : lead == 0xF4 ? 0x8F : 0xBF;
    if (length == 0 || n - i < length) return 0;
    if (length > 1 && (p[i + 1] < low || p[i + 1] > high)) return 0;
    for (size_t k = 2; k < length; ++k) {
      if ((p[i + k] & 0xC0) != 0x80) return 0;
    }
    i += length;
    units += length == 4;  // A surrogate pair.
  }
  return units;
}

// The code point at `*pos` of text already known to be valid UTF-8; advances past it.
char32_t DecodeValidUtf8(std::string_view utf8, size_t* pos) {
  const auto* p = reinterpret_cast<const unsigned char*>(utf8.data()) + *pos;
  const size_t length = p[0] < 0x80 ? 1 : p[0] < 0xE0 ? 2 : p[0] < 0xF0 ? 3 : 4;
  char32_t cp = p[0] & (0x7F >> (length == 1 ? 0 : length));  // The lead's value bits.
  for (size_t i = 1; i < length; ++i) cp = cp << 6 | (p[i] & 0x3F);
  *pos += length;
  return cp;
}

// The hash by which equal strings and data are found, which also ORs every byte into
// `*bytesSeen`: a string is read once to learn both whether it is ASCII and where it
// goes in the table. Tails are read as overlapping or assembled words, not byte by byte.
uint64_t HashText(std::string_view text, uint64_t seed, uint64_t* bytesSeen) {
  constexpr uint64_t kMultiplier = 0xFF51AFD7ED558CCDu;
  const char* p = text.data();
  const size_t n = text.size();
  uint64_t h = seed ^ (n * 0x9E3779B97F4A7C15u);
  uint64_t seen = 0;
  uint64_t word = 0;
  if (n >= 8) {
    for (size_t i = 0; i + 8 < n; i += 8) {
      std::memcpy(&word, p + i, 8);
      seen |= word;
      h = (h ^ word) * kMultiplier;
      h ^= h >> 32;
    }
    std::memcpy(&word, p + n - 8, 8);
  } else {
    word = ShortWord(p, n);
  }
  *bytesSeen = seen | word;
  h = (h ^ word) * kMultiplier;
  h ^= h >> 33;
  h *= 0xC4CEB9FE1A85EC53u;
  return h ^ (h >> 29);
}

// Whether `a` and `b` hold the same bytes: short ones, as most keys are, compared as
// words rather than by a call.
bool SameBytes(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  return a.size() < 8 ? ShortWord(a.data(), a.size()) == ShortWord(b.data(), b.size()) : a == b;
}

// The marker of a number, boolean, date or UID, which settles the rest of its encoding:
// the kind, and the width of what follows. 0 for a real flagged float32 that no float32
// holds.
uint8_t FixedMarker(const Node& value) {
  uint32_t narrow;
  switch (value.kind()) {
    case Kind::kInteger: {
      // Above INT64_MAX only the 16-byte form holds it; negative numbers take the signed
      // 8-byte form, and the shorter forms are unsigned.
      const Integer i = value.integer();
      if (i.isUnsigned && i.asSigned() < 0) return 0x14;
      return static_cast<uint8_t>(0x10 | (i.asSigned() < 0 ? 3 : IntWidthLog2(i.bits)));
    }
    case Kind::kReal:
      if (!value.real().isFloat32) return 0x23;
      return NarrowToFloat(value.real().value, &narrow) ? 0x22 : 0;
    case Kind::kBoolean:
      return value.boolean() ? 0x09 : 0x08;
    case Kind::kDate:
      return 0x33;
    default:  // A UID.
      return static_cast<uint8_t>(0x80 | ((1u << IntWidthLog2(value.uid().value)) - 1));
  }
}

// The bytes after `marker`: one more than a UID's low nibble, else two to the power of
// the low nibble (0x14's sixteen are eight zeros, then the number).
size_t PayloadSize(uint8_t marker) {
  if (marker < 0x10) return 0;
  return (marker >> 4) == 0x8 ? 1 + (marker & 0x0F) : size_t{1} << (marker & 0x0F);
}

// The bits a number, date or UID is written from; a boolean's marker says it all.
uint64_t Payload(const Node& value) {
  switch (value.kind()) {
    case Kind::kInteger:
      return value.integer().bits;
    case Kind::kReal:
      return DoubleBits(value.real().value);
    case Kind::kDate:
      return DoubleBits(value.date().seconds);
    case Kind::kUid:
      return value.uid().value;
    default:
      return 0;
  }
}

// The longest encoding of a number, boolean, date or UID: a 16-byte integer's, whose last
// eight bytes PutBigEndian stores as one word.
constexpr size_t kMaxFixedSize = 17;

// Encodes the scalar whose marker FixedMarker chose at `p`; answers the end.
char* PutFixed(const Node& value, uint8_t marker, char* p) {
  *p++ = static_cast<char>(marker);
  uint64_t payload = Payload(value);
  uint32_t narrow = 0;
  if (marker == 0x22 && NarrowToFloat(value.real().value, &narrow)) payload = narrow;
  if (marker == 0x14) p = PutBigEndian(0, 8, p);
  const auto width = static_cast<unsigned>(std::min<size_t>(PayloadSize(marker), 8));
  return width == 0 ? p : PutBigEndian(payload, width, p);
}

class BinaryWriter {
 public:
  // The table's seed comes from where the writer lives, which address-space layout
  // randomisation varies from run to run; the output does not depend on it.
  explicit BinaryWriter(Error* sink) : error(sink), seed(SeedFrom(this)) {}

  bool write(const Document& document, OutputBuffer* out) {
    objects.reserve(document.nodeCount());
    refTable.reserve(document.listedCount());
    // Room for every node at half load, so the table never grows while scalars go in.
    size_t slotCount = 64;
    while (slotCount < 2 * document.nodeCount()) slotCount *= 2;
    slots.reset(new Slot[slotCount]());  // Zeroed as one block.
    slotMask = slotCount - 1;
    // No larger than the slots: a small document clears a small table.
    const size_t recentCount = std::min(kMaxRecent, slotCount);
    recent.reset(new Known[recentCount]());
    recentMask = recentCount - 1;
    const Node& root = document.root();
    uint32_t top = 0;
    if (!(IsContainer(root) ? number(root, 0, &top) : numberScalar(root, &top))) return false;
    slots.reset();  // Not needed to write; their memory goes first.
    // The trailer's widths: the fewest bytes that hold the object count and the table's
    // offset, as readers check them (and so every reference and offset).
    refSize = 1u << IntWidthLog2(objects.size());
    const uint64_t tableOffset = kBinaryHeader.size() + bytes + refTable.size() * refSize;
    const unsigned offsetSize = 1u << IntWidthLog2(tableOffset);
    if (tableOffset + objects.size() * offsetSize + kBinaryTrailerSize > kMaxInputBytes) {
      return fail("the document is too large written out");
    }
    out->put(kBinaryHeader);
    for (size_t k = 0; k < objects.size(); ++k) put(k, out);
    for (const Object& object : objects) {
      out->advanceTo(PutBigEndian(object.offset, offsetSize, out->room(8)));
    }
    char trailer[kBinaryTrailerSize] = {};  // Unused bytes and sort version stay zero.
    char* p = trailer + 6;
    *p++ = static_cast<char>(offsetSize);
    *p++ = static_cast<char>(refSize);
    p = PutBigEndian(objects.size(), 8, p);
    p = PutBigEndian(0, 8, p);  // The top object is always written first.
    PutBigEndian(tableOffset, 8, p);
    out->put(trailer, sizeof trailer);
    return true;
  }

 private:
  static constexpr size_t kMaxObjects = UINT32_MAX - 1;
  static constexpr uint64_t kStringSeed = 0x5354524E47u;
  static constexpr uint64_t kDataSeed = 0x44415441u;

  // An object of the file, in the order written. `form` is what the first walk decided:
  // for a container, where its references start in `refTable`; for a string, its UTF-16
  // code units, or 0 when it is written as ASCII; for a number, boolean, date or UID, its
  // marker. The file offset is filled as it is written.
  struct Object {
    const Node* node;
    uint32_t form;
    uint32_t offset;
  };
  struct Slot {
    uint32_t hash;
    uint32_t entry;  // Object number + 1; 0 marks a free slot.
  };
  // A scalar numbered lately, by its node's identity.
  static constexpr size_t kMaxRecent = 16384;
  struct Known {
    uintptr_t at;
    uint32_t head;
    uint32_t number;
  };

  bool fail(const char* detail) { return Fail(error, ErrorCode::kUnwritable, 0, detail); }

  static bool IsContainer(const Node& node) { return node.isArray() || node.isDictionary(); }

  // The first walk: numbers the container `value`, found at `depth`, and the objects
  // under it in file order (the container, its keys, then each value's objects in turn),
  // sets `*number` to its number, notes the numbers it refers to in `refTable`, and adds
  // up their sizes. Containers are written at each place they stand, as the platform does.
  bool number(const Node& value, size_t depth, uint32_t* number) {
    if (depth >= kMaxDepth) return fail("nesting too deep");
    if (objects.size() >= kMaxObjects) return fail("too many objects");
    *number = static_cast<uint32_t>(objects.size());
    const size_t n = value.size();
    const size_t first = refTable.size();
    if (2 * n > UINT32_MAX - first) return fail("too many objects");
    objects.push_back(Object{&value, static_cast<uint32_t>(first), 0});
    bytes += HeaderSize(n);
    // The list is found once: a container's elements lie side by side.
    const Node* const list = n == 0 ? nullptr : &value.item(0);
    if (value.isArray()) {
      refTable.resize(first + n);
      return numberAll(
          n, [list](size_t i) -> const Node& { return list[i]; }, depth, first);
    }
    refTable.resize(first + 2 * n);
    // Records of one kind, such as the elements of a list, have the same keys in the same
    // order, which then have the same numbers as the last record's at this depth: a
    // compare of their bytes instead of a lookup each (bench/README.md, "A document of
    // one word per value").
    if (lastKeys.empty()) lastKeys.resize(kMaxDepth + 1);
    KeysAt& last = lastKeys[depth];
    if (n > 0 && last.dictionary != nullptr && SameKeys(*last.dictionary, value)) {
      std::copy_n(refTable.begin() + static_cast<std::ptrdiff_t>(last.first), n,
                  refTable.begin() + static_cast<std::ptrdiff_t>(first));
    } else if (!numberAll(
                   n, [list](size_t i) -> const Node& { return list[2 * i]; }, depth, first)) {
      return false;
    }
    last = KeysAt{&value, first};
    return numberAll(
        n, [list](size_t i) -> const Node& { return list[2 * i + 1]; }, depth, first + n);
  }

  // Whether dictionaries `a` and `b` have the same keys in the same order.
  static bool SameKeys(const Node& a, const Node& b) {
    const size_t n = a.size();
    if (b.size() != n) return false;
    const Node* const p = &a.keyNode(0);
    const Node* const q = &b.keyNode(0);
    for (size_t i = 0; i < n; ++i) {
      const std::string_view x = p[2 * i].string();
      const std::string_view y = q[2 * i].string();
      if (x.size() != y.size() || (x.data() != y.data() && !SameBytes(x, y))) return false;
    }
    return true;
  }

  // What numbering a scalar needs before it looks in the table.
  struct Scalar {
    uint64_t hash = 0;
    uint64_t size = 0;
    uint32_t form = 0;
    const char* failure = nullptr;  // Why it cannot be written, if it cannot.
  };

  // Numbers the `n` nodes that `at(i)` gives, in order, containers among them found at
  // `depth` + 1, and notes their numbers in `refTable` from `ref` on. In a large
  // container each scalar is described a few nodes ahead and its slot of the table asked
  // for then, so that the cache misses of the lookups overlap instead of following one
  // another (bench/README.md: the wide file). A small one's lookups fall in a few slots
  // that stay in the cache.
  template <typename At>
  bool numberAll(size_t n, const At& at, size_t depth, size_t ref) {
    constexpr size_t kAhead = 8;
    constexpr size_t kLarge = 1024;
    uint32_t k = 0;
    if (n < kLarge) {
      for (size_t i = 0; i < n; ++i) {
        const Node& node = at(i);
        if (!(IsContainer(node) ? number(node, depth + 1, &k) : numberScalar(node, &k))) {
          return false;
        }
        refTable[ref + i] = k;
      }
      return true;
    }
    Scalar ahead[kAhead];
    const auto look = [&](size_t i) {
      const Node& node = at(i);
      if (IsContainer(node)) return;
      ahead[i % kAhead] = describe(node);
      __builtin_prefetch(&slots[ahead[i % kAhead].hash & slotMask]);
    };
    for (size_t i = 0; i < n && i < kAhead; ++i) look(i);
    for (size_t i = 0; i < n; ++i) {
      const Node& node = at(i);
      if (!(IsContainer(node) ? number(node, depth + 1, &k) : enter(node, ahead[i % kAhead], &k))) {
        return false;
      }
      refTable[ref + i] = k;
      if (i + kAhead < n) look(i + kAhead);
    }
    return true;
  }

  // The hash, size and form of a scalar, from its bytes or its encoding.
  Scalar describe(const Node& value) const {
    Scalar scalar;
    if (value.isString() || value.kind() == Kind::kData) {
      // A string and data of the same bytes differ: each kind has a seed of its own.
      const std::string_view text = value.string();
      uint64_t seen;
      scalar.hash = HashText(text, seed ^ (value.isString() ? kStringSeed : kDataSeed), &seen);
      scalar.size = HeaderSize(text.size()) + text.size();
      if (value.isString() && (seen & 0x8080808080808080u) != 0) {
        const uint64_t units = Utf16Units(text);
        if (units == 0) scalar.failure = "string is not valid UTF-8";
        scalar.form = static_cast<uint32_t>(units);
        scalar.size = HeaderSize(units) + 2 * units;
      }
      return scalar;
    }
    const uint8_t marker = FixedMarker(value);
    if (marker == 0) scalar.failure = "float32 real out of float32 range";
    scalar.form = marker;
    scalar.size = 1 + PayloadSize(marker);
    uint64_t hash = (Payload(value) ^ seed) * 0xFF51AFD7ED558CCDu;
    hash = (hash ^ (hash >> 32) ^ marker) * 0xC4CEB9FE1A85EC53u;
    scalar.hash = hash ^ (hash >> 29);
    return scalar;
  }

  // A scalar met again as the same node of a file's object (Node::identity) has the
  // number it had, from a small table that stays in the cache, before its bytes are
  // hashed (bench/README.md, "A document of one word per value"). Inline; a scalar not
  // in the table is numbered out of line.
  bool numberScalar(const Node& value, uint32_t* number) {
    const Node::Identity identity = value.identity();
    Known& known = recent[(identity.at ^ (identity.at >> 17) ^ identity.head) & recentMask];
    // No node has the identity of a clear entry: its text or bits lie somewhere.
    if (known.at == identity.at && known.head == identity.head) {
      *number = known.number;
      return true;
    }
    return numberNew(value, identity, &known, number);
  }
  [[gnu::noinline]] bool numberNew(const Node& value, Node::Identity identity, Known* known,
                                   uint32_t* number) {
    if (!enter(value, describe(value), number)) return false;
    *known = Known{identity.at, identity.head, *number};
    return true;
  }

  // Sets `*number` to the number of a scalar equal to `value`, numbering it if it is the
  // first.
  bool enter(const Node& value, const Scalar& scalar, uint32_t* number) {
    if (scalar.failure != nullptr) return fail(scalar.failure);
    const auto h = static_cast<uint32_t>(scalar.hash);
    size_t s = h & slotMask;
    for (; slots[s].entry != 0; s = (s + 1) & slotMask) {
      if (slots[s].hash == h && sameScalar(objects[slots[s].entry - 1], value, scalar.form)) {
        *number = slots[s].entry - 1;
        return true;
      }
    }
    if (objects.size() >= kMaxObjects) return fail("too many objects");
    *number = static_cast<uint32_t>(objects.size());
    objects.push_back(Object{&value, scalar.form, 0});
    slots[s] = Slot{h, *number + 1};
    bytes += scalar.size;
    return true;
  }

  // Whether scalar `b`, of `form`, is written as `a` is: of the same kind and bytes, or
  // of the same marker and bit pattern, which settle the encoding.
  static bool sameScalar(const Object& a, const Node& b, uint32_t form) {
    const Node& node = *a.node;
    if (node.kind() != b.kind()) return false;
    if (b.isString() || b.kind() == Kind::kData) return SameBytes(node.string(), b.string());
    return a.form == form && Payload(node) == Payload(b);
  }

  // The second walk, in the order of the first: writes object `k`, each once, as the
  // first decided.
  void put(size_t k, OutputBuffer* out) {
    Object& object = objects[k];
    // The file was checked to fit a reader's ceiling, so offsets fit 32 bits.
    object.offset = static_cast<uint32_t>(out->total());
    const Node& value = *object.node;
    switch (value.kind()) {
      case Kind::kArray:
      case Kind::kDictionary:
        putContainer(k, out);
        break;
      case Kind::kString:
        if (object.form == 0) {
          out->advanceTo(PutHeader(0x5, value.string().size(), out->room(kMaxHeaderSize)));
          out->put(value.string());
        } else {
          putUtf16(value.string(), object.form, out);
        }
        break;
      case Kind::kData:
        out->advanceTo(PutHeader(0x4, value.data().size(), out->room(kMaxHeaderSize)));
        out->put(value.data());
        break;
      default:
        out->advanceTo(
            PutFixed(value, static_cast<uint8_t>(object.form), out->room(kMaxFixedSize)));
        break;
    }
  }

  // A container's references, as the first walk noted them.
  void putContainer(size_t k, OutputBuffer* out) {
    const Node& value = *objects[k].node;
    const size_t n = value.size();
    out->advanceTo(PutHeader(value.isDictionary() ? 0xD : 0xA, n, out->room(kMaxHeaderSize)));
    const uint32_t* ref = refTable.data() + objects[k].form;
    const uint32_t* const last = ref + (value.isDictionary() ? 2 * n : n);
    // Room is asked for a few references at a time, each stored as a whole word.
    while (ref != last) {
      char* p = out->room(OutputBuffer::kMaxRoom);
      const char* const end = p + OutputBuffer::kMaxRoom - 8;
      for (; ref != last && p <= end; ++ref) p = PutBigEndian(*ref, refSize, p);
      out->advanceTo(p);
    }
  }

  // A string that is not ASCII, as its `units` UTF-16 code units. Most of its characters
  // are usually ASCII, taken eight at a time where they run on; room is asked for a
  // piece at a time rather than for each character.
  static void putUtf16(std::string_view s, uint64_t units, OutputBuffer* out) {
    out->advanceTo(PutHeader(0x6, units, out->room(kMaxHeaderSize)));
    const auto* u = reinterpret_cast<const unsigned char*>(s.data());
    const size_t n = s.size();
    for (size_t pos = 0; pos < n;) {
      char* p = out->room(OutputBuffer::kMaxRoom);
      // Eight ASCII characters take 16 bytes, the most stored at once.
      char* const end = p + OutputBuffer::kMaxRoom - 16;
      while (pos < n && p <= end) {
        uint64_t word;
        if (pos + 8 <= n && (std::memcpy(&word, u + pos, 8), (word & 0x8080808080808080u) == 0)) {
          for (size_t i = 0; i < 8; ++i) {
            p[2 * i] = 0;
            p[2 * i + 1] = static_cast<char>(u[pos + i]);
          }
          p += 16;
          pos += 8;
          continue;
        }
        const char32_t cp = DecodeValidUtf8(s, &pos);
        if (cp < 0x10000) {
          p = PutBigEndian(cp, 2, p);
        } else {
          p = PutBigEndian(0xD800 + ((cp - 0x10000) >> 10), 2, p);
          p = PutBigEndian(0xDC00 + (cp & 0x3FF), 2, p);
        }
      }
      out->advanceTo(p);
    }
  }

  Error* error;
  uint64_t seed;
  std::vector<Object> objects;  // By object number.
  // The numbers that containers refer to, each container's in one run.
  std::vector<uint32_t> refTable;
  std::unique_ptr<Known[]> recent;
  size_t recentMask = 0;
  // The last dictionary numbered at each depth, and where its keys' numbers are.
  struct KeysAt {
    const Node* dictionary = nullptr;
    size_t first = 0;
  };
  std::vector<KeysAt> lastKeys;
  std::unique_ptr<Slot[]> slots;  // Open-addressing table of the scalar objects, by value.
  size_t slotMask = 0;
  uint64_t bytes = 0;  // Of all objects but the references.
  unsigned refSize = 1;
};

}  // namespace

bool WriteBinary(const Document& document, const ByteSink& sink, Error* error) {
  OutputBuffer out(sink);
  if (!BinaryWriter(error).write(document, &out)) return false;
  return out.finish(error);
}

}  // namespace plist
