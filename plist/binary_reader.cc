// Reader for binary property lists ("bplist00"). The file is untrusted: every field is
// range-checked before use, counts are checked against the bytes that could hold them
// before anything is allocated, and the tree is built into a local value that reaches
// the caller only when the whole file has been read.
//
// Objects and the offset table lie before the 32-byte trailer, so eight bytes can be
// loaded from any place in them: numbers, references and text are read a word at a time.

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "plist/binary_format.h"
#include "plist/codec.h"
#include "plist/document_builder.h"
#include "plist/key_order.h"
#include "plist/plist.h"
#include "text/utf.h"

namespace plist {
namespace {

constexpr uint64_t kHeaderSize = 8;
constexpr uint64_t kMinFileSize = kHeaderSize + 1 + 1 + kBinaryTrailerSize;  // One object.

// Shared references let a small file describe a tree far larger than itself, which a
// writer or a copy would have to walk whole, and each reference costs the document a
// pointer. So the values of the tree expanded are counted (a shared object once per
// reference to it) against one per four bytes of input, with a floor for small files.
// That admits every file whose objects are not shared: past the floor a file holds more
// than a million objects, and each then takes at least seven bytes (its offset and a
// reference to it three each, itself one). Decoded UTF-16 text is budgeted too, since
// overlapping objects could otherwise decode the same bytes many times.
constexpr uint64_t kMinValueBudget = 1000000;
constexpr uint64_t kInputBytesPerValue = 4;
constexpr uint64_t kMinPayloadBudget = 64u << 20;
constexpr uint64_t kPayloadBytesPerInputByte = 8;

// Widens a float32 bit pattern. NaNs are widened by hand because the hardware conversion
// quiets a signalling NaN, and the writer must be able to give back the same four bytes.
double WidenFloat(uint32_t bits) {
  if ((bits & 0x7F800000u) == 0x7F800000u && (bits & 0x007FFFFFu) != 0) {
    return DoubleFromBits((static_cast<uint64_t>(bits & 0x80000000u) << 32) | 0x7FF0000000000000u |
                          (static_cast<uint64_t>(bits & 0x007FFFFFu) << 29));
  }
  float f;
  std::memcpy(&f, &bits, sizeof f);
  return f;
}

// The eight bytes at `p` as a big-endian number: a number of fewer bytes at `p` is this
// shifted right.
uint64_t LoadWord(const uint8_t* p) {
  uint64_t word;
  std::memcpy(&word, p, sizeof word);
#if __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
  word = __builtin_bswap64(word);
#endif
  return word;
}

// Whether the `n` bytes at `p` are all below 0x80; eight bytes can be loaded from each.
bool IsAsciiAt(const uint8_t* p, uint64_t n) {
  uint64_t bits = 0;
  uint64_t word;
  for (; n >= 8; p += 8, n -= 8) {
    std::memcpy(&word, p, sizeof word);
    bits |= word;
  }
  if (n > 0) {
    std::memcpy(&word, p, sizeof word);
    bits |= word & FirstBytes(n);
  }
  return (bits & 0x8080808080808080u) == 0;
}

// A table of `n` zeroed elements. calloc takes a large table straight from the system,
// whose pages are zero already, where a vector would clear them again.
template <typename T>
std::unique_ptr<T[], void (*)(void*)> ZeroedTable(size_t n) {
  static_assert(std::is_trivial<T>::value, "calloc constructs nothing");
  void* table = std::calloc(n, sizeof(T));
  if (table == nullptr) throw std::bad_alloc();
  return {static_cast<T*>(table), std::free};
}

class BinaryReader {
 public:
  BinaryReader(Document* document, Error* sink)
      : doc(document),
        data(reinterpret_cast<const uint8_t*>(doc.bytes().data())),
        size(doc.bytes().size()),
        error(sink) {}

  bool read() {
    if (!readTrailer() || !readOffsetTable()) return false;
    valuesLeft = maxValues();
    payloadLeft = std::max<uint64_t>(kMinPayloadBudget, kPayloadBytesPerInputByte * size);
    made = ZeroedTable<Made>(numObjects);
    if (!makeObject(topObject, 0)) return false;
    doc.setRoot(made[topObject].node);
    return !doc.full() || outgrown(0);
  }

 private:
  // What an object became: its node, how many values it expands to (none until it is
  // made), and how many levels of containers it holds (itself included), to check a later
  // reference from deeper down.
  struct Made {
    Staged node;
    uint32_t values;
    uint32_t height;
  };

  uint64_t maxValues() const {
    return std::max<uint64_t>(kMinValueBudget, size / kInputBytesPerValue);
  }

  bool fail(ErrorCode code, uint64_t offset, const char* detail) {
    return Fail(error, code, static_cast<size_t>(offset), detail);
  }
  bool outgrown(uint64_t offset) {
    return fail(ErrorCode::kTooLarge, offset, "the document outgrows its memory");
  }
  bool readTrailer() {
    const size_t magicLength = std::min<size_t>(size, kBinaryMagic.size());
    if (std::string_view(reinterpret_cast<const char*>(data), magicLength) !=
        kBinaryMagic.substr(0, magicLength)) {
      return fail(ErrorCode::kBadHeader, 0, "not a binary property list");
    }
    if (size < kMinFileSize) return fail(ErrorCode::kTruncated, size, "file too short");
    const uint64_t trailer = size - kBinaryTrailerSize;
    // Five unused bytes and the sort version come first.
    ByteCursor fields(data, trailer + 6, size);
    uint64_t count = 0;
    if (!fields.readNumber(1, &offsetSize) || !fields.readNumber(1, &refSize) ||
        !fields.readNumber(8, &count) || !fields.readNumber(8, &topObject) ||
        !fields.readNumber(8, &tableOffset)) {
      return fail(ErrorCode::kTruncated, size, "trailer cut short");
    }
    if (offsetSize < 1 || offsetSize > 8) {
      return fail(ErrorCode::kBadTrailer, trailer + 6, "offset size not 1 to 8");
    }
    if (refSize < 1 || refSize > 8) {
      return fail(ErrorCode::kBadTrailer, trailer + 7, "reference size not 1 to 8");
    }
    if (count == 0) return fail(ErrorCode::kBadTrailer, trailer + 8, "no objects");
    if (topObject >= count) {
      return fail(ErrorCode::kBadTrailer, trailer + 16, "top object out of range");
    }
    // The table must fit between the object area and the trailer; dividing instead of
    // multiplying keeps an absurd object count from overflowing.
    if (tableOffset < kHeaderSize + 1 || tableOffset > trailer ||
        count > (trailer - tableOffset) / offsetSize) {
      return fail(ErrorCode::kBadTrailer, trailer + 24, "offset table outside the file");
    }
    if (refSize < 8 && (uint64_t{1} << (8 * refSize)) <= count) {
      return fail(ErrorCode::kBadTrailer, trailer + 7, "references too narrow for the objects");
    }
    if (offsetSize < 8 && (uint64_t{1} << (8 * offsetSize)) <= tableOffset) {
      return fail(ErrorCode::kBadTrailer, trailer + 6, "offsets too narrow for the table");
    }
    // Each object costs a few words before any is read, used or not; a file without
    // shared objects has fewer than it has values (see the value budget).
    if (count > maxValues()) {
      return fail(ErrorCode::kTooManyValues, trailer + 8, "more objects than the file can use");
    }
    numObjects = count;
    refShift = 64 - 8 * static_cast<unsigned>(refSize);
    return true;
  }

  // Objects may overlap and need not be referenced, but every offset must point into the
  // object area, whether or not it is used.
  bool readOffsetTable() {
    offsets.reset(new uint32_t[numObjects]);
    const uint8_t* entry = data + tableOffset;
    for (uint64_t i = 0; i < numObjects; ++i, entry += offsetSize) {
      const uint64_t offset = LoadWord(entry) >> (64 - 8 * offsetSize);
      if (offset < kHeaderSize || offset >= tableOffset) {
        return fail(ErrorCode::kBadOffset, tableOffset + i * offsetSize,
                    "object offset outside the object area");
      }
      offsets[i] = static_cast<uint32_t>(offset);
    }
    return true;
  }

  bool countValues(uint64_t n, uint64_t offset) {
    if (n > valuesLeft) {
      return fail(ErrorCode::kTooManyValues, offset, "shared objects expand too far");
    }
    valuesLeft -= n;
    return true;
  }

  // Reads the count that follows the marker of the object at `offset` and takes `count`
  // elements of `unit` bytes before the offset table; `*start` receives the first.
  bool readCount(uint64_t offset, uint64_t unit, uint64_t* count, const uint8_t** start) {
    uint64_t at = offset + 1;
    *count = data[offset] & 0x0F;
    if (*count == 0x0F) {
      if (at == tableOffset) return fail(ErrorCode::kTruncated, at, "count marker missing");
      if ((data[at] & 0xF0) != 0x10 || (data[at] & 0x0F) > 3) {
        return fail(ErrorCode::kBadMarker, at, "count is not a 1 to 8 byte integer");
      }
      const unsigned width = 1u << (data[at] & 0x0F);
      if (width > tableOffset - at - 1) return fail(ErrorCode::kTruncated, at, "count cut short");
      *count = LoadWord(data + at + 1) >> (64 - 8 * width);
      at += 1 + width;
    }
    if (*count > (tableOffset - at) / unit) {
      return fail(ErrorCode::kBadCount, offset, "count exceeds the object area");
    }
    *start = data + at;
    return true;
  }

  // The `width` (1 to 8) bytes after the marker at `offset`, as a number.
  bool readNumber(uint64_t offset, uint64_t width, const char* cutShort, uint64_t* bits) {
    if (width > tableOffset - offset - 1) return fail(ErrorCode::kTruncated, offset, cutShort);
    *bits = LoadWord(data + offset + 1) >> (64 - 8 * width);
    return true;
  }

  // Reads the reference at `p`, inside a container whose count was checked.
  bool readRef(const uint8_t* p, uint64_t* index) {
    *index = LoadWord(p) >> refShift;
    if (*index >= numObjects) {
      return fail(ErrorCode::kBadOffset, static_cast<uint64_t>(p - data), "reference out of range");
    }
    return true;
  }

  bool readString(uint64_t offset, Staged* out) {
    const bool utf16 = (data[offset] >> 4) == 0x6;
    uint64_t count = 0;
    const uint8_t* p = nullptr;
    if (!readCount(offset, utf16 ? 2 : 1, &count, &p)) return false;
    const auto start = static_cast<uint64_t>(p - data);
    if (!utf16) {
      if (!IsAsciiAt(p, count)) return fail(ErrorCode::kBadEncoding, start, "non-ASCII byte");
      *out = doc.string(std::string_view(reinterpret_cast<const char*>(p), count));
      return true;
    }
    // Three UTF-8 bytes at most per UTF-16 unit.
    if (3 * count > payloadLeft) {
      return fail(ErrorCode::kTooManyValues, offset, "shared strings or data expand too far");
    }
    payloadLeft -= 3 * count;
    // Decoded in a reused buffer, so that the copy kept is no larger than its text.
    if (utf8.size() < 3 * count) utf8.resize(3 * count);
    char* const begin = &utf8[0];
    char* q = begin;
    for (uint64_t i = 0; i < count; ++i) {
      // Runs of ASCII go four units to a word.
      for (uint64_t four;
           i + 4 <= count && ((four = LoadWord(p + 2 * i)) & 0xFF80FF80FF80FF80u) == 0;
           i += 4, q += 4) {
        q[0] = static_cast<char>(four >> 48);
        q[1] = static_cast<char>(four >> 32);
        q[2] = static_cast<char>(four >> 16);
        q[3] = static_cast<char>(four);
      }
      if (i == count) break;
      auto unit = static_cast<char32_t>(ReadBigEndian(p + 2 * i, 2));
      if (unit >= 0xD800 && unit <= 0xDFFF) {
        const auto next =
            static_cast<char32_t>(i + 1 < count ? ReadBigEndian(p + 2 * i + 2, 2) : 0);
        if (unit > 0xDBFF || next < 0xDC00 || next > 0xDFFF) {
          return fail(ErrorCode::kBadEncoding, start + 2 * i, "unpaired surrogate");
        }
        unit = 0x10000 + ((unit - 0xD800) << 10) + (next - 0xDC00);
        ++i;
      }
      q = text::EncodeUtf8(unit, q);
    }
    *out = doc.copyString(std::string_view(begin, static_cast<size_t>(q - begin)));
    return true;
  }

  bool readScalar(uint64_t offset, Staged* out) {
    const uint8_t marker = data[offset];
    const uint8_t nibble = marker & 0x0F;
    uint64_t bits = 0;
    switch (marker >> 4) {
      case 0x0:
        if (marker != 0x08 && marker != 0x09) break;
        *out = doc.boolean(marker == 0x09);
        return true;
      case 0x1: {
        if (nibble > 4) break;
        // The 8-byte form is signed, the shorter ones unsigned.
        if (nibble < 4) {
          if (!readNumber(offset, uint64_t{1} << nibble, "integer cut short", &bits)) return false;
          *out = doc.integer(nibble < 3 ? Integer::fromUnsigned(bits)
                                        : Integer::fromSigned(static_cast<int64_t>(bits)));
          return true;
        }
        // A signed 128-bit number; only -2^63 ... 2^64-1 fits the model.
        if (tableOffset - offset - 1 < 16) {
          return fail(ErrorCode::kTruncated, offset, "integer cut short");
        }
        const uint64_t high = LoadWord(data + offset + 1);
        bits = LoadWord(data + offset + 9);
        if (high != 0 && (high != ~uint64_t{0} || (bits >> 63) == 0)) {
          return fail(ErrorCode::kBadInteger, offset, "16-byte integer out of range");
        }
        *out = doc.integer(high == 0 ? Integer::fromUnsigned(bits)
                                     : Integer::fromSigned(static_cast<int64_t>(bits)));
        return true;
      }
      case 0x2:
        if (nibble != 2 && nibble != 3) break;
        if (!readNumber(offset, nibble == 2 ? 4 : 8, "real cut short", &bits)) return false;
        *out = doc.real(nibble == 2 ? Real{WidenFloat(static_cast<uint32_t>(bits)), true}
                                    : Real{DoubleFromBits(bits), false});
        return true;
      case 0x3:
        if (nibble != 3) break;
        if (!readNumber(offset, 8, "date cut short", &bits)) return false;
        *out = doc.date(Date{DoubleFromBits(bits)});
        return true;
      case 0x4: {
        uint64_t count = 0;
        const uint8_t* bytes = nullptr;
        if (!readCount(offset, 1, &count, &bytes)) return false;
        *out = doc.data(std::string_view(reinterpret_cast<const char*>(bytes), count));
        return true;
      }
      case 0x5:
      case 0x6:
        return readString(offset, out);
      case 0x8:
        if (nibble > 7) break;
        if (!readNumber(offset, nibble + 1, "UID cut short", &bits)) return false;
        *out = doc.uid(Uid{bits});
        return true;
      default:
        break;
    }
    return fail(ErrorCode::kBadMarker, offset, "unsupported object marker");
  }

  // Takes object `index` into a container at `depth`: makes it on the first reference,
  // while a later one checks that its containers still fit below and counts its values
  // again. Its node is then made[index].node. Inline, and without a call for an object
  // already made, which most references name.
  bool take(uint64_t index, size_t depth) {
    const Made& known = made[index];
    if (known.values == 0) return makeObject(index, depth);
    if (known.height > kMaxDepth - depth) {
      return fail(ErrorCode::kTooDeep, offsets[index] & ~kOnPath, "nesting too deep");
    }
    return countValues(known.values, offsets[index] & ~kOnPath);
  }

  // Scalars, most of the objects, are made apart from containers, so that their call
  // does not save what the recursion of containers needs.
  bool makeObject(uint64_t index, size_t depth) {
    const uint64_t offset = offsets[index] & ~kOnPath;
    const uint8_t type = data[offset] >> 4;
    if (type == 0xA || type == 0xD) return makeContainer(index, depth);
    if (!countValues(1, offset) || !readScalar(offset, &made[index].node)) return false;
    made[index].values = 1;
    return true;
  }

  [[gnu::noinline]] bool makeContainer(uint64_t index, size_t depth) {
    const uint64_t offset = offsets[index] & ~kOnPath;
    if (offsets[index] & kOnPath) {
      return fail(ErrorCode::kCycle, offset, "container contains itself");
    }
    if (depth >= kMaxDepth) return fail(ErrorCode::kTooDeep, offset, "nesting too deep");
    const uint64_t before = valuesLeft;
    Staged node{};
    uint32_t height = 0;
    offsets[index] |= kOnPath;
    const bool ok = data[offset] >> 4 == 0xA ? readArray(offset, depth + 1, &node, &height)
                                             : readDictionary(offset, depth + 1, &node, &height);
    offsets[index] &= ~kOnPath;
    if (!ok) return false;
    // The value budget fits 32 bits, and so does every count within it.
    made[index] = Made{node, static_cast<uint32_t>(before - valuesLeft), height};
    return true;
  }

  // Reads the count of the container at `offset` and checks that its references fit:
  // `*refs` then points at them (`perElement` references per element).
  bool readContainer(uint64_t offset, uint64_t perElement, uint64_t* count, const uint8_t** refs) {
    if (!readCount(offset, perElement * refSize, count, refs)) return false;
    // Every element counts at least once: checking the budget first keeps a container of
    // many references to one object from taking memory for a list it will never fill.
    if (*count > valuesLeft / perElement) {
      return fail(ErrorCode::kTooManyValues, offset, "shared objects expand too far");
    }
    return countValues(1, offset);
  }

  bool readArray(uint64_t offset, size_t depth, Staged* out, uint32_t* height) {
    uint64_t count = 0;
    const uint8_t* refs = nullptr;
    if (!readContainer(offset, 1, &count, &refs)) return false;
    Node* const items = doc.list(count);
    if (items == nullptr) return outgrown(offset);
    for (uint64_t i = 0; i < count; ++i, refs += refSize) {
      uint64_t child = 0;
      if (!readRef(refs, &child) || !take(child, depth)) return false;
      doc.place(&items[i], made[child].node);
      *height = std::max(*height, made[child].height);
    }
    ++*height;
    *out = doc.array(items, count);
    return true;
  }

  // Reads the key that the reference at `ref` names: a string, made on its first use.
  bool readKey(const uint8_t* ref, Node* key) {
    uint64_t index = 0;
    if (!readRef(ref, &index)) return false;
    Made& known = made[index];
    const uint64_t offset = offsets[index] & ~kOnPath;
    const uint8_t type = data[offset] >> 4;
    if (known.values != 0 ? known.node.kind() != Kind::kString : type != 0x5 && type != 0x6) {
      return fail(ErrorCode::kBadKey, offset, "key not a string");
    }
    if (!countValues(1, offset)) return false;
    if (known.values == 0 && !readString(offset, &known.node)) return false;
    known.values = 1;
    doc.place(key, known.node);
    return true;
  }

  // Keys are read first, in order; a key equal to an earlier one is dropped with its
  // value, since the platform's binary reader keeps the first.
  bool readDictionary(uint64_t offset, size_t depth, Staged* out, uint32_t* height) {
    uint64_t count = 0;
    const uint8_t* refs = nullptr;
    if (!readContainer(offset, 2, &count, &refs)) return false;
    // Keys and values in turn.
    Node* const entries = doc.list(2 * count);
    if (entries == nullptr) return outgrown(offset);
    if (lastKeys.empty()) lastKeys.resize(kMaxDepth + 1);
    KeySet& last = lastKeys[depth];
    bool ascending = true;
    bool dropped = false;
    std::vector<uint32_t> firstOf;  // Filled only when a key repeats: see FindRepeatedKeys.
    if (count != 0 && count == last.count && count <= valuesLeft &&
        std::memcmp(refs, last.refs, count * refSize) == 0) {
      valuesLeft -= count;
      for (uint64_t i = 0; i < count; ++i) {
        doc.place(&entries[2 * i], doc.stage(last.entries[2 * i]));
      }
      ascending = last.ascending;
    } else {
      for (uint64_t i = 0; i < count; ++i) {
        if (!readKey(refs + i * refSize, &entries[2 * i])) return false;
      }
      for (uint64_t i = 1; ascending && i < count; ++i) {
        ascending = KeyLess(entries[2 * i - 2].string(), entries[2 * i].string());
      }
      if (!ascending) {
        FindRepeatedKeys(
            count, [entries](size_t i) { return entries[2 * i].string(); }, &firstOf);
        dropped = !firstOf.empty();
      }
      last = dropped ? KeySet{} : KeySet{refs, count, entries, ascending};
    }
    // Values of dropped keys are still read, so that a file is refused whatever it holds.
    size_t kept = 0;
    refs += count * refSize;
    for (uint64_t i = 0; i < count; ++i, refs += refSize) {
      uint64_t child = 0;
      if (!readRef(refs, &child) || !take(child, depth)) return false;
      *height = std::max(*height, made[child].height);
      if (!dropped) {
        doc.place(&entries[2 * i + 1], made[child].node);
      } else if (firstOf[i] == i) {
        doc.place(&entries[2 * kept], doc.stage(entries[2 * i]));
        doc.place(&entries[2 * kept + 1], made[child].node);
        ++kept;
      }
    }
    ++*height;
    *out = doc.dictionary(entries, dropped ? kept : count, ascending);
    return true;
  }

  DocumentBuilder doc;
  const uint8_t* data;
  uint64_t size;
  Error* error;
  uint64_t offsetSize = 0;
  uint64_t refSize = 0;
  unsigned refShift = 0;  // Turns a word into a reference.
  uint64_t numObjects = 0;
  uint64_t topObject = 0;
  uint64_t tableOffset = 0;
  // Input is at most kMaxInputBytes long, so every offset fits 31 bits; the top bit marks
  // the containers on the path from the top to the object being read.
  static_assert(kMaxInputBytes <= uint64_t{1} << 31, "offsets and the path mark share 32 bits");
  static constexpr uint32_t kOnPath = uint32_t{1} << 31;
  std::unique_ptr<uint32_t[]> offsets;
  std::unique_ptr<Made[], void (*)(void*)> made{nullptr, std::free};  // By object index.
  // The keys of the last dictionary read at each depth. Records of one kind, such as the
  // elements of a list, name the same key objects in the same order, and the checks of
  // those keys then hold again.
  struct KeySet {
    const uint8_t* refs = nullptr;
    uint64_t count = 0;
    const Node* entries = nullptr;
    bool ascending = false;
  };
  std::vector<KeySet> lastKeys;
  std::string utf8;  // Scratch for decoding UTF-16 strings.
  uint64_t valuesLeft = 0;
  uint64_t payloadLeft = 0;
};

}  // namespace

bool ReadBinary(text::Bytes bytes, Document* document, Error* error) {
  if (bytes.size() > kMaxInputBytes) {
    return Fail(error, ErrorCode::kTooLarge, 0, "input above the size ceiling");
  }
  Document read;
  DocumentBuilder(&read).adopt(std::move(bytes), kBinaryRoomPerByte);
  if (!BinaryReader(&read, error).read()) return false;
  *document = std::move(read);
  return true;
}

}  // namespace plist
