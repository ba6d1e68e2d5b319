// Reader for binary property lists ("bplist00"). The file is untrusted: every field is
// range-checked before use, counts are checked against the bytes that could hold them
// before anything is allocated, and the tree is built into a local value that reaches the
// caller only when the whole file has been read.

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "plist/key_order.h"
#include "plist/plist.h"
#include "text/utf.h"

namespace plist {
namespace {

constexpr std::string_view kMagic = "bplist0";  // The eighth byte is a version nobody checks.
constexpr uint64_t kHeaderSize = 8;
constexpr uint64_t kTrailerSize = 32;
constexpr uint64_t kMinFileSize = kHeaderSize + 1 + 1 + kTrailerSize;  // One object, one offset.

// Shared references let a small file describe a tree far larger than itself, so the
// values and the string/data bytes materialised are budgeted. The value budget admits
// every file whose containers are not shared (each value then needs a reference of at
// least one byte, so values <= file size), with a floor for small files; shared scalars
// are bounded by the byte budget.
constexpr uint64_t kMinValueBudget = 1000000;
constexpr uint64_t kMinPayloadBudget = 64u << 20;
constexpr uint64_t kPayloadBytesPerInputByte = 8;

// Dictionaries up to this size look for duplicate keys by comparing with every earlier
// key; larger ones check that their keys ascend, or else sort them.
constexpr uint64_t kLinearKeyScanLimit = 16;

uint64_t ReadBigEndian(const uint8_t* p, uint64_t width) {
  // The common widths get straight-line code: references and offsets are read per object.
  switch (width) {
    case 1:
      return p[0];
    case 2:
      return (uint64_t{p[0]} << 8) | p[1];
    case 3:
      return (uint64_t{p[0]} << 16) | (uint64_t{p[1]} << 8) | p[2];
    case 4:
      return (uint64_t{p[0]} << 24) | (uint64_t{p[1]} << 16) | (uint64_t{p[2]} << 8) | p[3];
    case 8:
      return (uint64_t{p[0]} << 56) | (uint64_t{p[1]} << 48) | (uint64_t{p[2]} << 40) |
             (uint64_t{p[3]} << 32) | (uint64_t{p[4]} << 24) | (uint64_t{p[5]} << 16) |
             (uint64_t{p[6]} << 8) | p[7];
    default: {
      uint64_t v = 0;
      for (uint64_t i = 0; i < width; ++i) v = (v << 8) | p[i];
      return v;
    }
  }
}

double DoubleFromBits(uint64_t bits) {
  double d;
  std::memcpy(&d, &bits, sizeof d);
  return d;
}

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
  BinaryReader(std::string_view bytes, Error* sink)
      : data(reinterpret_cast<const uint8_t*>(bytes.data())), size(bytes.size()), error(sink) {}

  bool read(Value* value) {
    if (!readTrailer() || !readOffsetTable()) return false;
    valueBudget = std::max<uint64_t>(kMinValueBudget, size);
    payloadBudget = std::max<uint64_t>(kMinPayloadBudget, kPayloadBytesPerInputByte * size);
    Value root;
    if (!readObject(topObject, 0, &root)) return false;
    *value = std::move(root);
    return true;
  }

 private:
  bool fail(ErrorCode code, uint64_t offset, const char* detail) {
    if (error) *error = Error{code, static_cast<size_t>(offset), detail};
    return false;
  }

  bool readTrailer() {
    const size_t magicLength = std::min<size_t>(size, kMagic.size());
    if (std::string_view(reinterpret_cast<const char*>(data), magicLength) !=
        kMagic.substr(0, magicLength)) {
      return fail(ErrorCode::kBadHeader, 0, "not a binary property list");
    }
    if (size < kMinFileSize) return fail(ErrorCode::kTruncated, size, "file too short");
    const uint64_t trailer = size - kTrailerSize;
    const uint8_t* t = data + trailer;
    offsetSize = t[6];
    refSize = t[7];
    const uint64_t count = ReadBigEndian(t + 8, 8);
    topObject = ReadBigEndian(t + 16, 8);
    tableOffset = ReadBigEndian(t + 24, 8);
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
    numObjects = count;
    return true;
  }

  // Objects may overlap and need not be referenced, but every offset must point into the
  // object area, whether or not it is used.
  bool readOffsetTable() {
    offsets.resize(numObjects);
    const uint8_t* p = data + tableOffset;
    for (uint64_t i = 0; i < numObjects; ++i, p += offsetSize) {
      const uint64_t offset = ReadBigEndian(p, offsetSize);
      if (offset < kHeaderSize || offset >= tableOffset) {
        return fail(ErrorCode::kBadOffset, tableOffset + i * offsetSize,
                    "object offset outside the object area");
      }
      offsets[i] = static_cast<uint32_t>(offset);
    }
    return true;
  }

  // True when `length` bytes from `offset` end before the offset table.
  bool fits(uint64_t offset, uint64_t length) const {
    return offset <= tableOffset && length <= tableOffset - offset;
  }

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

  // Reads the element count of the object at `offset` and checks that `count` elements of
  // `unit` bytes fit in the object area; `*start` receives where they begin.
  bool readCount(uint64_t offset, uint64_t unit, uint64_t* count, uint64_t* start) {
    const uint8_t nibble = data[offset] & 0x0F;
    uint64_t pos = offset + 1;
    if (nibble != 0x0F) {
      *count = nibble;
    } else {
      if (!fits(pos, 1)) return fail(ErrorCode::kTruncated, pos, "count marker missing");
      const uint8_t marker = data[pos];
      if ((marker & 0xF0) != 0x10 || (marker & 0x0F) > 3) {
        return fail(ErrorCode::kBadMarker, pos, "count is not a 1 to 8 byte integer");
      }
      const uint64_t width = uint64_t{1} << (marker & 0x0F);
      if (!fits(pos + 1, width)) return fail(ErrorCode::kTruncated, pos, "count cut short");
      *count = ReadBigEndian(data + pos + 1, width);
      pos += 1 + width;
    }
    if (pos > tableOffset || *count > (tableOffset - pos) / unit) {
      return fail(ErrorCode::kBadCount, offset, "count exceeds the object area");
    }
    *start = pos;
    return true;
  }

  bool readRef(uint64_t pos, uint64_t* index) {
    *index = ReadBigEndian(data + pos, refSize);
    if (*index >= numObjects) return fail(ErrorCode::kBadOffset, pos, "reference out of range");
    return true;
  }

  bool readString(uint64_t offset, String* out) {
    const bool utf16 = (data[offset] >> 4) == 0x6;
    uint64_t count, start;
    if (!readCount(offset, utf16 ? 2 : 1, &count, &start)) return false;
    const uint8_t* p = data + start;
    if (!utf16) {
      if (!text::IsAscii(std::string_view(reinterpret_cast<const char*>(p), count))) {
        return fail(ErrorCode::kBadEncoding, start, "non-ASCII byte");
      }
      if (!countPayload(count, offset)) return false;
      *out = String(std::string_view(reinterpret_cast<const char*>(p), count));
      return true;
    }
    // Three UTF-8 bytes at most per UTF-16 unit.
    if (!countPayload(3 * count, offset)) return false;
    // Decoded in a reused buffer, so that the string kept is no larger than its text. The
    // bytes are stored through a pointer into room made beforehand, ASCII first, rather than
    // appended one by one.
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
    *out = String(std::string_view(begin, static_cast<size_t>(q - begin)));
    return true;
  }

  bool readScalar(uint64_t offset, Value* out) {
    const uint8_t marker = data[offset];
    const uint8_t nibble = marker & 0x0F;
    const uint64_t pos = offset + 1;
    switch (marker >> 4) {
      case 0x0:
        if (marker != 0x08 && marker != 0x09) break;
        *out = Value(marker == 0x09);
        return true;
      case 0x1: {
        if (nibble > 4) break;
        const uint64_t width = uint64_t{1} << nibble;
        if (!fits(pos, width)) return fail(ErrorCode::kTruncated, offset, "integer cut short");
        if (width < 8) {
          *out = Value(Integer::fromUnsigned(ReadBigEndian(data + pos, width)));
        } else if (width == 8) {
          *out = Value(Integer::fromSigned(static_cast<int64_t>(ReadBigEndian(data + pos, 8))));
        } else {
          // A signed 128-bit number; only -2^63 ... 2^64-1 fits the model.
          const uint64_t high = ReadBigEndian(data + pos, 8);
          const uint64_t low = ReadBigEndian(data + pos + 8, 8);
          if (high == 0) {
            *out = Value(Integer::fromUnsigned(low));
          } else if (high == ~uint64_t{0} && (low >> 63) != 0) {
            *out = Value(Integer::fromSigned(static_cast<int64_t>(low)));
          } else {
            return fail(ErrorCode::kBadInteger, offset, "16-byte integer out of range");
          }
        }
        return true;
      }
      case 0x2:
        if (nibble != 2 && nibble != 3) break;
        if (!fits(pos, nibble == 2 ? 4 : 8)) {
          return fail(ErrorCode::kTruncated, offset, "real cut short");
        }
        if (nibble == 2) {
          *out = Value(Real{WidenFloat(static_cast<uint32_t>(ReadBigEndian(data + pos, 4))), true});
        } else {
          *out = Value(Real{DoubleFromBits(ReadBigEndian(data + pos, 8)), false});
        }
        return true;
      case 0x3:
        if (nibble != 3) break;
        if (!fits(pos, 8)) return fail(ErrorCode::kTruncated, offset, "date cut short");
        *out = Value(Date{DoubleFromBits(ReadBigEndian(data + pos, 8))});
        return true;
      case 0x4: {
        uint64_t count, start;
        if (!readCount(offset, 1, &count, &start) || !countPayload(count, offset)) return false;
        *out = Value(Data(data + start, data + start + count));
        return true;
      }
      case 0x5:
      case 0x6: {
        String s;
        if (!readString(offset, &s)) return false;
        *out = Value(std::move(s));
        return true;
      }
      case 0x8:
        if (nibble > 7) break;
        if (!fits(pos, nibble + 1)) return fail(ErrorCode::kTruncated, offset, "UID cut short");
        *out = Value(Uid{ReadBigEndian(data + pos, nibble + 1)});
        return true;
      default:
        break;
    }
    return fail(ErrorCode::kBadMarker, offset, "unsupported object marker");
  }

  bool readObject(uint64_t index, size_t depth, Value* out) {
    const uint64_t offset = offsets[index] & ~kOnPath;
    const uint8_t type = data[offset] >> 4;
    if (type != 0xA && type != 0xD) return countValues(1, offset) && readScalar(offset, out);
    if (offsets[index] & kOnPath) {
      return fail(ErrorCode::kCycle, offset, "container contains itself");
    }
    if (depth >= kMaxDepth) return fail(ErrorCode::kTooDeep, offset, "nesting too deep");
    offsets[index] |= kOnPath;
    const bool ok =
        type == 0xA ? readArray(offset, depth + 1, out) : readDictionary(offset, depth + 1, out);
    offsets[index] &= ~kOnPath;
    return ok;
  }

  bool readArray(uint64_t offset, size_t depth, Value* out) {
    uint64_t count, start;
    if (!readCount(offset, refSize, &count, &start) || !countValues(1, offset)) return false;
    // Every element is materialised at least once: checking the budget first keeps an
    // array of many references to one object from reserving memory it will never fill.
    if (count > valueBudget - values) {
      return fail(ErrorCode::kTooManyValues, offset, "shared objects expand too far");
    }
    Array array;
    array.reserve(count);
    for (uint64_t i = 0; i < count; ++i) {
      uint64_t child;
      if (!readRef(start + i * refSize, &child)) return false;
      array.emplace_back();
      if (!readObject(child, depth, &array.back())) return false;
    }
    *out = Value(std::move(array));
    return true;
  }

  // Writers store each key once and refer to it from every dictionary that has it, so
  // the keys read last are kept by object, and a key read again is copied from there.
  bool readKey(uint64_t pos, String* key) {
    uint64_t index;
    if (!readRef(pos, &index)) return false;
    const uint64_t offset = offsets[index] & ~kOnPath;
    KnownKey& known = knownKeys[index % kKnownKeys];
    if (known.object == index + 1) {
      *key = known.key;
      return countValues(1, offset) && countPayload(known.payload, offset);
    }
    const uint8_t type = data[offset] >> 4;
    if (type != 0x5 && type != 0x6) return fail(ErrorCode::kBadKey, offset, "key not a string");
    const uint64_t payloadBefore = payload;
    if (!countValues(1, offset) || !readString(offset, key)) return false;
    known = KnownKey{index + 1, payload - payloadBefore, *key};
    return true;
  }

  // Marks in `*dropped` (left empty when there is none, else sized to the entries) every
  // entry whose key equals an earlier one.
  void findRepeatedKeys(const CompactVector<Dictionary::Entry>& entries,
                        std::vector<uint8_t>* dropped) {
    const size_t n = entries.size();
    auto drop = [n, dropped](size_t i) {
      if (dropped->empty()) dropped->resize(n, 0);
      (*dropped)[i] = 1;
    };
    if (n <= kLinearKeyScanLimit) {
      for (size_t i = 1; i < n; ++i) {
        for (size_t j = 0; j < i; ++j) {
          if (entries[j].key == entries[i].key) {
            drop(i);
            break;
          }
        }
      }
      return;
    }
    // Ascending keys, as sorting writers leave them, cannot repeat. Otherwise equal keys are
    // brought together, in the order they were read, by sorting on a hash. Unlike a hash
    // table, which keys chosen to collide could drive quadratic, this stays O(n log n).
    bool ascending = true;
    for (size_t i = 1; ascending && i < n; ++i) {
      ascending = KeyLess(entries[i - 1].key, entries[i].key);
    }
    if (ascending) return;
    auto key = [&entries](size_t i) { return std::string_view(entries[i].key); };
    GroupEqualKeys(n, key, &keyOrder);
    for (size_t i = 1; i < n; ++i) {
      const KeyRank& previous = keyOrder[i - 1];
      const KeyRank& current = keyOrder[i];
      if (current.head == previous.head && current.tail == previous.tail &&
          key(current.index) == key(previous.index)) {
        drop(current.index);
      }
    }
  }

  // Keys are read first, in order; a key equal to an earlier one is dropped with its
  // value, since the platform's binary reader keeps the first.
  bool readDictionary(uint64_t offset, size_t depth, Value* out) {
    uint64_t count, start;
    if (!readCount(offset, 2 * refSize, &count, &start) || !countValues(1, offset)) {
      return false;
    }
    if (count > (valueBudget - values) / 2) {
      return fail(ErrorCode::kTooManyValues, offset, "shared objects expand too far");
    }
    CompactVector<Dictionary::Entry> entries;
    entries.reserve(count);  // Pages are touched only as keys are read.
    for (uint64_t i = 0; i < count; ++i) {
      entries.emplace_back();
      if (!readKey(start + i * refSize, &entries.back().key)) return false;
    }
    std::vector<uint8_t> dropped;
    findRepeatedKeys(entries, &dropped);
    if (!dropped.empty()) {
      size_t kept = 0;
      for (size_t i = 0; i < count; ++i) {
        if (dropped[i]) continue;
        if (kept != i) entries[kept] = std::move(entries[i]);
        ++kept;
      }
      entries.resize(kept);
    }
    const uint64_t valueRefs = start + count * refSize;
    Value droppedValue;
    for (uint64_t i = 0, kept = 0; i < count; ++i) {
      uint64_t child;
      const bool drop = !dropped.empty() && dropped[i];
      if (!readRef(valueRefs + i * refSize, &child) ||
          !readObject(child, depth, drop ? &droppedValue : &entries[kept].value)) {
        return false;
      }
      kept += !drop;
    }
    *out = Value(Dictionary(std::move(entries)));
    return true;
  }

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
  std::string utf8;  // Scratch for decoding UTF-16 strings.
  // Keys read lately, by object index (see readKey).
  struct KnownKey {
    uint64_t object = 0;   // Index + 1; 0 for none.
    uint64_t payload = 0;  // What reading the key counted against the payload budget.
    String key;
  };
  static constexpr size_t kKnownKeys = 64;
  KnownKey knownKeys[kKnownKeys];
  std::vector<KeyRank> keyOrder;  // Scratch for finding repeated keys.
  uint64_t valueBudget = 0;
  uint64_t payloadBudget = 0;
  uint64_t values = 0;
  uint64_t payload = 0;
};

}  // namespace

bool ReadBinary(std::string_view bytes, Value* value, Error* error) {
  if (bytes.size() > kMaxInputBytes) {
    if (error) *error = Error{ErrorCode::kTooLarge, 0, "input above the size ceiling"};
    return false;
  }
  return BinaryReader(bytes, error).read(value);
}

}  // namespace plist
