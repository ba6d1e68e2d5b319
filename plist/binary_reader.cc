// Reader for binary property lists ("bplist00"). The file is untrusted: every byte is
// taken through a ByteCursor that stops at the end of its area (the trailer, the offset
// table, an object), every field is range-checked before use, counts are checked against
// the bytes that could hold them before anything is allocated, and the tree is built
// into a local value that reaches the caller only when the whole file has been read.

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "plist/binary_format.h"
#include "plist/codec.h"
#include "plist/plist.h"
#include "plist/document_builder.h"
#include "plist/key_order.h"
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

class BinaryReader {
 public:
  BinaryReader(Document* document, Error* sink)
      : doc(document),
        data(reinterpret_cast<const uint8_t*>(doc.bytes().data())),
        size(doc.bytes().size()),
        error(sink) {}

  bool read() {
    if (!readTrailer() || !readOffsetTable()) return false;
    valueBudget = maxValues();
    payloadBudget = std::max<uint64_t>(kMinPayloadBudget, kPayloadBytesPerInputByte * size);
    made.assign(numObjects, Made());
    const Node* root = nullptr;
    if (!readObject(topObject, 0, &root)) return false;
    doc.setRoot(root);
    return true;
  }

 private:
  // What an object became: its node, how many values it expands to, and how many levels
  // of containers it holds (itself included), to check a later reference from deeper down.
  struct Made {
    const Node* node = nullptr;
    uint32_t values = 0;
    uint32_t height = 0;
  };

  uint64_t maxValues() const {
    return std::max<uint64_t>(kMinValueBudget, size / kInputBytesPerValue);
  }

  bool fail(ErrorCode code, uint64_t offset, const char* detail) {
    return Fail(error, code, static_cast<size_t>(offset), detail);
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
    return true;
  }

  // Objects may overlap and need not be referenced, but every offset must point into the
  // object area, whether or not it is used.
  bool readOffsetTable() {
    offsets.resize(numObjects);
    ByteCursor table(data, tableOffset, size - kBinaryTrailerSize);
    for (uint64_t i = 0; i < numObjects; ++i) {
      uint64_t offset = 0;
      if (!table.readNumber(offsetSize, &offset)) {
        return fail(ErrorCode::kBadTrailer, table.position(), "offset table cut short");
      }
      if (offset < kHeaderSize || offset >= tableOffset) {
        return fail(ErrorCode::kBadOffset, tableOffset + i * offsetSize,
                    "object offset outside the object area");
      }
      offsets[i] = static_cast<uint32_t>(offset);
    }
    return true;
  }

  // A cursor over the object at `offset`, which may take bytes up to the offset table.
  ByteCursor objectAt(uint64_t offset) const { return ByteCursor(data, offset, tableOffset); }

  bool countValues(uint64_t n, uint64_t offset) {
    if (n > valueBudget - values) {
      return fail(ErrorCode::kTooManyValues, offset, "shared objects expand too far");
    }
    values += n;
    return true;
  }

  bool countPayload(uint64_t n, uint64_t offset) {
    if (n > payloadBudget - payload) {
      return fail(ErrorCode::kTooManyValues, offset, "shared strings or data expand too far");
    }
    payload += n;
    return true;
  }

  // Reads the element count that follows `marker` (just read from `*object`, which starts
  // at `offset`) and takes `count` elements of `unit` bytes; `*start` receives the first.
  bool readCount(ByteCursor* object, uint64_t offset, uint8_t marker, uint64_t unit,
                 uint64_t* count, const uint8_t** start) {
    *count = marker & 0x0F;
    if (*count == 0x0F) {
      uint8_t countMarker = 0;
      if (!object->readByte(&countMarker)) {
        return fail(ErrorCode::kTruncated, object->position(), "count marker missing");
      }
      if ((countMarker & 0xF0) != 0x10 || (countMarker & 0x0F) > 3) {
        return fail(ErrorCode::kBadMarker, object->position() - 1,
                    "count is not a 1 to 8 byte integer");
      }
      if (!object->readNumber(uint64_t{1} << (countMarker & 0x0F), count)) {
        return fail(ErrorCode::kTruncated, object->position() - 1, "count cut short");
      }
    }
    if (!object->take(*count, unit, start)) {
      return fail(ErrorCode::kBadCount, offset, "count exceeds the object area");
    }
    return true;
  }

  // Reads a reference from `*refs` (known to hold it: its count was checked).
  bool readRef(ByteCursor* refs, uint64_t* index) {
    const uint64_t pos = refs->position();
    if (!refs->readNumber(refSize, index)) {
      return fail(ErrorCode::kTruncated, pos, "reference cut short");
    }
    if (*index >= numObjects) return fail(ErrorCode::kBadOffset, pos, "reference out of range");
    return true;
  }

  bool readString(uint64_t offset, const Node** out) {
    ByteCursor object = objectAt(offset);
    uint8_t marker = 0;
    object.readByte(&marker);
    const bool utf16 = (marker >> 4) == 0x6;
    uint64_t count = 0;
    const uint8_t* p = nullptr;
    if (!readCount(&object, offset, marker, utf16 ? 2 : 1, &count, &p)) return false;
    const uint64_t start = static_cast<uint64_t>(p - data);
    if (!utf16) {
      const std::string_view text(reinterpret_cast<const char*>(p), count);
      if (!text::IsAscii(text)) return fail(ErrorCode::kBadEncoding, start, "non-ASCII byte");
      *out = doc.string(text);
      return true;
    }
    // Three UTF-8 bytes at most per UTF-16 unit.
    if (!countPayload(3 * count, offset)) return false;
    // Decoded in a reused buffer, so that the copy kept is no larger than its text.
    if (utf8.size() < 3 * count) utf8.resize(3 * count);
    char* const begin = &utf8[0];
    char* q = begin;
    for (uint64_t i = 0; i < count; ++i) {
      auto unit = static_cast<char32_t>(ReadBigEndian(p + 2 * i, 2));
      if (unit < 0x80) {
        *q++ = static_cast<char>(unit);
        continue;
      }
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

  bool readScalar(uint64_t offset, const Node** out) {
    ByteCursor object = objectAt(offset);
    uint8_t marker = 0;
    object.readByte(&marker);
    const uint8_t nibble = marker & 0x0F;
    uint64_t bits = 0;
    switch (marker >> 4) {
      case 0x0:
        if (marker != 0x08 && marker != 0x09) break;
        *out = doc.boolean(marker == 0x09);
        return true;
      case 0x1: {
        if (nibble > 4) break;
        const uint64_t width = uint64_t{1} << nibble;
        if (width <= 8) {
          if (!object.readNumber(width, &bits)) {
            return fail(ErrorCode::kTruncated, offset, "integer cut short");
          }
          // The 8-byte form is signed, the shorter ones unsigned.
          *out = doc.integer(width < 8 ? Integer::fromUnsigned(bits)
                                       : Integer::fromSigned(static_cast<int64_t>(bits)));
          return true;
        }
        // A signed 128-bit number; only -2^63 ... 2^64-1 fits the model.
        uint64_t high = 0;
        if (!object.readNumber(8, &high) || !object.readNumber(8, &bits)) {
          return fail(ErrorCode::kTruncated, offset, "integer cut short");
        }
        if (high == 0) {
          *out = doc.integer(Integer::fromUnsigned(bits));
        } else if (high == ~uint64_t{0} && (bits >> 63) != 0) {
          *out = doc.integer(Integer::fromSigned(static_cast<int64_t>(bits)));
        } else {
          return fail(ErrorCode::kBadInteger, offset, "16-byte integer out of range");
        }
        return true;
      }
      case 0x2:
        if (nibble != 2 && nibble != 3) break;
        if (!object.readNumber(nibble == 2 ? 4 : 8, &bits)) {
          return fail(ErrorCode::kTruncated, offset, "real cut short");
        }
        *out = doc.real(nibble == 2 ? Real{WidenFloat(static_cast<uint32_t>(bits)), true}
                                    : Real{DoubleFromBits(bits), false});
        return true;
      case 0x3:
        if (nibble != 3) break;
        if (!object.readNumber(8, &bits)) {
          return fail(ErrorCode::kTruncated, offset, "date cut short");
        }
        *out = doc.date(Date{DoubleFromBits(bits)});
        return true;
      case 0x4: {
        uint64_t count = 0;
        const uint8_t* bytes = nullptr;
        if (!readCount(&object, offset, marker, 1, &count, &bytes)) return false;
        *out = doc.data(std::string_view(reinterpret_cast<const char*>(bytes), count));
        return true;
      }
      case 0x5:
      case 0x6:
        return readString(offset, out);
      case 0x8:
        if (nibble > 7) break;
        if (!object.readNumber(nibble + 1, &bits)) {
          return fail(ErrorCode::kTruncated, offset, "UID cut short");
        }
        *out = doc.uid(Uid{bits});
        return true;
      default:
        break;
    }
    return fail(ErrorCode::kBadMarker, offset, "unsupported object marker");
  }

  // The node of object `index`, reached at `depth`: made on the first reference, shared
  // by later ones, which count its values again.
  bool readObject(uint64_t index, size_t depth, const Node** out) {
    const uint64_t offset = offsets[index] & ~kOnPath;
    Made& known = made[index];
    if (known.node) {
      if (depth + known.height > kMaxDepth) {
        return fail(ErrorCode::kTooDeep, offset, "nesting too deep");
      }
      if (!countValues(known.values, offset)) return false;
      *out = known.node;
      return true;
    }
    const uint8_t type = data[offset] >> 4;
    const uint64_t before = values;
    uint32_t height = 0;
    if (type != 0xA && type != 0xD) {
      if (!countValues(1, offset) || !readScalar(offset, out)) return false;
    } else {
      if (offsets[index] & kOnPath) {
        return fail(ErrorCode::kCycle, offset, "container contains itself");
      }
      if (depth >= kMaxDepth) return fail(ErrorCode::kTooDeep, offset, "nesting too deep");
      offsets[index] |= kOnPath;
      const bool ok = type == 0xA ? readArray(offset, depth + 1, out, &height)
                                  : readDictionary(offset, depth + 1, out, &height);
      offsets[index] &= ~kOnPath;
      if (!ok) return false;
    }
    // The value budget fits 32 bits, and so does every count within it.
    made[index] = Made{*out, static_cast<uint32_t>(values - before), height};
    return true;
  }

  // Reads the count of the container at `offset` and checks that its references fit:
  // `*refs` then covers them (`perElement` references per element).
  bool readContainer(uint64_t offset, uint64_t perElement, uint64_t* count, ByteCursor* refs) {
    ByteCursor object = objectAt(offset);
    uint8_t marker = 0;
    object.readByte(&marker);
    const uint8_t* start = nullptr;
    if (!readCount(&object, offset, marker, perElement * refSize, count, &start)) return false;
    const auto first = static_cast<uint64_t>(start - data);
    *refs = ByteCursor(data, first, first + *count * perElement * refSize);
    // Every element counts at least once: checking the budget first keeps a container of
    // many references to one object from taking memory for a list it will never fill.
    if (*count > (valueBudget - values) / perElement) {
      return fail(ErrorCode::kTooManyValues, offset, "shared objects expand too far");
    }
    return countValues(1, offset);
  }

  // Reads the child that `*refs` refers to next, at `depth`, raising `*height` to hold it.
  bool readChild(ByteCursor* refs, size_t depth, const Node** out, uint32_t* height) {
    uint64_t child = 0;
    if (!readRef(refs, &child) || !readObject(child, depth, out)) return false;
    *height = std::max(*height, made[child].height + 1);
    return true;
  }

  bool readArray(uint64_t offset, size_t depth, const Node** out, uint32_t* height) {
    uint64_t count = 0;
    ByteCursor refs = objectAt(offset);
    if (!readContainer(offset, 1, &count, &refs)) return false;
    *height = 1;
    const Node** items = doc.itemList(count);
    for (uint64_t i = 0; i < count; ++i) {
      if (!readChild(&refs, depth, &items[i], height)) return false;
    }
    *out = doc.array(items, count);
    return true;
  }

  bool readKey(ByteCursor* refs, const Node** key) {
    uint64_t index = 0;
    if (!readRef(refs, &index)) return false;
    const uint64_t offset = offsets[index] & ~kOnPath;
    const uint8_t type = data[offset] >> 4;
    if (type != 0x5 && type != 0x6) return fail(ErrorCode::kBadKey, offset, "key not a string");
    return readObject(index, 0, key);
  }

  // Keys are read first, in order; a key equal to an earlier one is dropped with its
  // value, since the platform's binary reader keeps the first.
  bool readDictionary(uint64_t offset, size_t depth, const Node** out, uint32_t* height) {
    uint64_t count = 0;
    ByteCursor refs = objectAt(offset);
    if (!readContainer(offset, 2, &count, &refs)) return false;
    *height = 1;
    Member* entries = doc.entryList(count);
    for (uint64_t i = 0; i < count; ++i) {
      if (!readKey(&refs, &entries[i].key)) return false;
    }
    std::vector<uint32_t> firstOfKey;
    const bool ascending = FindRepeatedKeys(
        count, [entries](size_t i) { return entries[i].key->string(); }, &firstOfKey);
    // Values of dropped keys are still read, so that a file is refused whatever it holds.
    size_t kept = 0;
    for (uint64_t i = 0; i < count; ++i) {
      const Node* value = nullptr;
      if (!readChild(&refs, depth, &value, height)) return false;
      if (!firstOfKey.empty() && firstOfKey[i] != i) continue;
      entries[kept].key = entries[i].key;
      entries[kept++].value = value;
    }
    *out = doc.dictionary(entries, kept, ascending);
    return true;
  }

  DocumentBuilder doc;
  const uint8_t* data;
  uint64_t size;
  Error* error;
  uint64_t offsetSize = 0;
  uint64_t refSize = 0;
  uint64_t numObjects = 0;
  uint64_t topObject = 0;
  uint64_t tableOffset = 0;
  // Input is at most kMaxInputBytes long, so every offset fits 31 bits; the top bit marks
  // the containers on the path from the top to the object being read.
  static_assert(kMaxInputBytes <= uint64_t{1} << 31, "offsets and the path mark share 32 bits");
  static constexpr uint32_t kOnPath = uint32_t{1} << 31;
  std::vector<uint32_t> offsets;
  std::vector<Made> made;  // By object index.
  std::string utf8;  // Scratch for decoding UTF-16 strings.
  uint64_t valueBudget = 0;
  uint64_t payloadBudget = 0;
  uint64_t values = 0;
  uint64_t payload = 0;
};

}  // namespace

bool ReadBinary(text::Bytes bytes, Document* document, Error* error) {
  if (bytes.size() > kMaxInputBytes) {
    return Fail(error, ErrorCode::kTooLarge, 0, "input above the size ceiling");
  }
  Document read;
  DocumentBuilder(&read).bytes() = std::move(bytes);
  if (!BinaryReader(&read, error).read()) return false;
  *document = std::move(read);
  return true;
}

}  // namespace plist
