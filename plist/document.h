// A property list as read from a file: one document that owns every node, freed at once.
//
// The document keeps the bytes it was read from. Text that needs no decoding (a binary
// file's ASCII strings and data, an XML file's plain text) stays where it lies in them;
// text that had to be decoded lives in the document's own memory. A binary file's object
// that several containers refer to is one node referred to from each of them, as in the
// file. Nodes never move and never change once made, except the top dictionary's entries,
// which set() replaces or extends.
#ifndef BRTCONFIG_PLIST_DOCUMENT_H_
#define BRTCONFIG_PLIST_DOCUMENT_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "plist/bits.h"
#include "plist/value.h"
#include "text/bytes.h"

namespace plist {

class Node;

// A member of a dictionary node: a string node and the value under it.
struct Member {
  const Node* key;
  const Node* value;
};

// One value inside a document. Accessors each require the matching kind.
class Node {
 public:
  Kind kind() const { return kind_; }
  bool isString() const { return kind_ == Kind::kString; }
  bool isArray() const { return kind_ == Kind::kArray; }
  bool isDictionary() const { return kind_ == Kind::kDictionary; }

  // A string's UTF-8 text, or data's bytes.
  std::string_view string() const { return std::string_view(text, size_); }
  std::string_view data() const { return std::string_view(text, size_); }
  Integer integer() const { return Integer{bits, unsignedInteger}; }
  Real real() const { return Real{DoubleFromBits(bits), float32}; }
  bool boolean() const { return bits != 0; }
  Date date() const { return Date{DoubleFromBits(bits)}; }
  Uid uid() const { return Uid{bits}; }

  // The elements of an array, or the entries of a dictionary, in order.
  size_t size() const { return size_; }
  // Whether a dictionary's keys are known to ascend in the order in which the XML writer
  // lists them (and so to be distinct); false when they do not or were not checked.
  bool keysAscending() const { return ascendingKeys; }
  const Node& item(size_t i) const { return *items[i]; }
  std::string_view keyAt(size_t i) const { return entries[i].key->string(); }
  const Node& valueAt(size_t i) const { return *entries[i].value; }
  const Member& entry(size_t i) const { return entries[i]; }
  // The value under `key` in a dictionary, or null. Linear in the entries: a caller looks
  // up a few keys, and a reader checks a whole dictionary for repeated keys at once.
  const Node* find(std::string_view key) const;

  // The node's number in its document: 0 up to Document::nodeCount().
  uint32_t id() const { return id_; }

  // A copy of this value and everything under it. Shared nodes are copied at each place:
  // see ChargeCopy (plist/plist.h) before copying from a file.
  Value toValue() const;

 private:
  friend class Document;
  friend class DocumentBuilder;

  Kind kind_ = Kind::kString;
  bool unsignedInteger = false;  // An integer above INT64_MAX.
  bool float32 = false;          // A real that a binary file held in four bytes.
  bool ascendingKeys = false;    // See keysAscending().
  uint32_t id_ = 0;
  size_t size_ = 0;  // Bytes of text, elements or entries.
  union {
    uint64_t bits = 0;  // Integers, booleans, UIDs, and reals and dates as bit patterns.
    const char* text;
    const Node* const* items;
    Member* entries;
  };
};

class Document {
 public:
  Document();
  ~Document();
  Document(Document&&) noexcept;
  Document& operator=(Document&&) noexcept;
  Document(const Document&) = delete;
  Document& operator=(const Document&) = delete;

  // A document holding a copy of `value`, as though it had been read.
  static Document fromValue(const Value& value);

  // The top value; an empty string until one is set.
  const Node& root() const { return *top; }
  // How many bytes the document was read from (none when made from a value).
  size_t inputSize() const { return input.size(); }
  // How many nodes the document has made, shared ones counted once.
  size_t nodeCount() const { return nodes; }

  // Puts `value` under `key` in the top dictionary: in place of an existing entry, or as
  // a new last entry. The top must be a dictionary.
  void set(std::string_view key, const Value& value);

 private:
  friend class DocumentBuilder;  // plist/document_builder.h, private to the library.

  // Makes the input's spare room the block memory is taken from, once: true when it had
  // any. Blocks made after it are as large.
  bool takeSpareRoom();

  // Its memory never moves, so text nodes that point into it stay put when the document
  // moves; the first nodes lie in its spare room.
  text::Bytes input;
  bool spareTaken = false;
  // Memory in blocks, never moved; each new block twice as large as the last, so that a
  // document takes a few blocks whatever its size.
  std::vector<std::unique_ptr<char[]>> blocks;
  char* free = nullptr;
  size_t freeBytes = 0;
  size_t nextBlock;
  size_t nodes = 0;
  const Node* top;
};

}  // namespace plist

#endif  // BRTCONFIG_PLIST_DOCUMENT_H_
