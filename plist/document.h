// A property list as read from a file: one document that owns every node, freed at once.
//
// A document is one piece of memory: the bytes it was read from, then its nodes. Text that
// needs no decoding (a binary file's ASCII strings and data, an XML file's plain text)
// stays where it lies in those bytes; text that had to be decoded lives after them. Each
// node is one word of eight bytes that refers to what it holds by its distance from the
// node, so that a document is as small as its values and moves as a whole. A binary
// file's object that several containers refer to is one list or one text, referred to
// from a node in each of them, as in the file.
#ifndef BRTCONFIG_PLIST_DOCUMENT_H_
#define BRTCONFIG_PLIST_DOCUMENT_H_

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "plist/bits.h"
#include "plist/value.h"
#include "text/bytes.h"

namespace plist {

// One value inside a document, where it lies there; never copied out. Accessors each
// require the matching kind.
class Node {
 public:
  Node(const Node&) = delete;
  Node& operator=(const Node&) = delete;

  Kind kind() const { return static_cast<Kind>(head & kKindMask); }
  bool isString() const { return kind() == Kind::kString; }
  bool isArray() const { return kind() == Kind::kArray; }
  bool isDictionary() const { return kind() == Kind::kDictionary; }

  // A string's UTF-8 text, or data's bytes.
  std::string_view string() const {
    if ((head & kOutOfLine) == 0) return std::string_view(here() + rel, head >> kSizeShift);
    const Extent& e = extent();
    return std::string_view(reinterpret_cast<const char*>(&e) + e.offset, e.size);
  }
  std::string_view data() const { return string(); }
  Integer integer() const {
    const uint64_t bits = (head & kOutOfLine) ? word() : static_cast<uint64_t>(int64_t{rel});
    return Integer{bits, (head & kMark) != 0};
  }
  Real real() const { return Real{DoubleFromBits(word()), (head & kMark) != 0}; }
  bool boolean() const { return rel != 0; }
  Date date() const { return Date{DoubleFromBits(word())}; }
  Uid uid() const { return Uid{(head & kOutOfLine) ? word() : static_cast<uint32_t>(rel)}; }

  // Bytes of text or data, elements of an array, entries of a dictionary; 0 for others.
  size_t size() const {
    if ((head & kOutOfLine) == 0) return head >> kSizeShift;
    return HasExtent(kind()) ? extent().size : 0;
  }
  // Whether a dictionary's keys are known to ascend in the order in which the XML writer
  // lists them (and so to be distinct); false when they do not or were not checked.
  bool keysAscending() const { return kind() == Kind::kDictionary && (head & kMark) != 0; }
  const Node& item(size_t i) const { return list()[i]; }
  const Node& keyNode(size_t i) const { return list()[2 * i]; }
  std::string_view keyAt(size_t i) const { return keyNode(i).string(); }
  const Node& valueAt(size_t i) const { return list()[2 * i + 1]; }
  // The value under `key` in a dictionary, or null. Linear in the entries: a caller looks
  // up a few keys, and a reader checks a whole dictionary for repeated keys at once.
  const Node* find(std::string_view key) const;

  // What a node is one of: nodes with the same identity hold the same value, as the
  // nodes of one object of a binary file do in each list that names it. Nodes of equal
  // values may still differ in it.
  struct Identity {
    uint32_t head;
    uintptr_t at;  // Where the value lies, or the value itself.
  };
  Identity identity() const {
    return Identity{head, RefersOut(head) ? reinterpret_cast<uintptr_t>(here() + rel)
                                          : static_cast<uint32_t>(rel)};
  }

  // A copy of this value and everything under it. Shared nodes are copied at each place:
  // see ChargeCopy (plist/plist.h) before copying from a file.
  Value toValue() const;

 private:
  friend class Document;
  friend class DocumentBuilder;
  friend struct Staged;

  // `head` holds the kind, two flags and, below 2^24, the size.
  static constexpr uint32_t kKindMask = 0xF;
  // Text or a list whose size does not fit `head`: `rel` leads to an Extent. A number
  // whose bits do not fit `rel` (and every real and date): `rel` leads to its bits.
  static constexpr uint32_t kOutOfLine = 0x10;
  // An integer above INT64_MAX; a real that a binary file held in four bytes; a
  // dictionary whose keys ascend.
  static constexpr uint32_t kMark = 0x20;
  static constexpr unsigned kSizeShift = 8;
  static constexpr size_t kMaxHeadSize = (size_t{1} << (32 - kSizeShift)) - 1;

  // Where a large text or list lies, from the extent, and its size.
  struct Extent {
    int64_t offset;
    uint64_t size;
  };

  // Text and lists: a test of one bit rather than four compares, as every node placed
  // asks it.
  static constexpr uint32_t kSized =
      1u << static_cast<int>(Kind::kString) | 1u << static_cast<int>(Kind::kData) |
      1u << static_cast<int>(Kind::kArray) | 1u << static_cast<int>(Kind::kDictionary);
  static bool HasExtent(Kind kind) { return (kSized >> static_cast<int>(kind)) & 1; }
  // Whether `rel` is a distance in a node of this head, not a value.
  static bool RefersOut(uint32_t head) {
    return ((kSized >> (head & kKindMask)) & 1) != 0 || (head & kOutOfLine) != 0;
  }

  Node(uint32_t headWord, int32_t relative) : head(headWord), rel(relative) {}

  const char* here() const { return reinterpret_cast<const char*>(this); }
  const Extent& extent() const { return *reinterpret_cast<const Extent*>(here() + rel); }
  const char* target() const {
    return (head & kOutOfLine) ? here() + rel + extent().offset : here() + rel;
  }
  const Node* list() const { return reinterpret_cast<const Node*>(target()); }
  uint64_t word() const {
    uint64_t bits;
    std::memcpy(&bits, here() + rel, sizeof bits);
    return bits;
  }

  uint32_t head;
  int32_t rel;  // A value, or the distance in bytes from this node to what it refers to.
};
static_assert(sizeof(Node) == 8, "a node is one word");

class Document {
 public:
  Document();
  ~Document();
  Document(Document&&) noexcept;
  Document& operator=(Document&&) noexcept;
  Document(const Document&) = delete;
  Document& operator=(const Document&) = delete;

  // A document holding a copy of `value`, as though it had been read. Throws
  // std::bad_alloc, as a copy would, for a value larger than a document may hold (2 GB).
  static Document fromValue(const Value& value);

  // The top value; an empty string until one is set.
  const Node& root() const;
  // How many bytes the document was read from (none when made from a value).
  size_t inputSize() const { return memory.size(); }
  // How many values the document has made, each shared one counted once.
  size_t nodeCount() const { return nodes; }
  // How many nodes its lists hold: the elements and the keys and values of its
  // containers, a shared one at each place.
  size_t listedCount() const { return listed; }

  // Puts `value` under `key` in the top dictionary: in place of an existing entry, or as
  // a new last entry. False, with the document unchanged, when the top is not a
  // dictionary or the document would grow past what one document may hold (2 GB).
  // Nodes and text taken from the document before may move.
  bool set(std::string_view key, const Value& value);

 private:
  friend class DocumentBuilder;  // plist/document_builder.h, private to the library.

  // The input, then the nodes in its spare room. Distances between nodes and what they
  // refer to stay the same when the whole moves.
  text::Bytes memory;
  // In use: the input and what is gathered after it, up to `used`, and the lists, bits
  // and text from `low` to `end`, the end of what may be used.
  size_t used = 0;
  size_t low = 0;
  size_t end = 0;
  size_t topAt = 0;  // Where the top node lies in `memory`; 0 for none.
  size_t nodes = 0;
  size_t listed = 0;
};

}  // namespace plist

#endif  // BRTCONFIG_PLIST_DOCUMENT_H_
