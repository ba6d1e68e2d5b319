// How a document's nodes are made: by the readers, and by the document itself from a
// value. Private to the plist library.
//
// A value is made first as a Staged word, whose distance counts from the start of the
// document's memory, and then placed in a slot of a list, where it counts from the slot.
// Memory is taken from the room that the document reserved after its input: lists, bits
// and text from its far end down; nodes that a reader gathers for the containers it has
// open (push) from the input up. A reader never makes the memory move, and finds out
// with full() when the room ran out.
#ifndef BRTCONFIG_PLIST_DOCUMENT_BUILDER_H_
#define BRTCONFIG_PLIST_DOCUMENT_BUILDER_H_

#include <cstddef>
#include <cstdint>
#include <new>
#include <string_view>

#include "plist/document.h"

namespace plist {

// Room that a reader asks for after its input, for each byte of it; more than any input
// can take, so that a read never runs out of it. A value of XML takes at least six bytes
// (`<key/>`, `<true/>`) and a node, which is gathered and then moved to its list, so two
// for a moment; a number's bits out of line take another word; text is decoded in place.
constexpr size_t kXmlRoomPerByte = 3;
// A reference in a binary file takes a byte and a node; an object of at least five bytes
// may take a word of bits, a list the padding before it, a UTF-16 string half as many
// bytes again as it had.
constexpr size_t kBinaryRoomPerByte = 8;
// Distances within a document are 32-bit: its memory stays below 2 GB.
constexpr size_t kMaxDocumentBytes = size_t{1} << 31;

// A value made and not yet placed.
struct Staged {
  Kind kind() const { return static_cast<Kind>(head & Node::kKindMask); }

  uint32_t head;
  int32_t rel;  // A value, or the distance from the document's start to what it refers to.
};

class DocumentBuilder {
 public:
  explicit DocumentBuilder(Document* document) : doc(*document) { follow(); }

  // Makes `bytes` the document's input, with room after it for `roomPerByte` bytes of
  // nodes and decoded text for each byte: in their own memory when that has the room,
  // else in a copy. Throws std::bad_alloc, as a string would, when the heap has no room.
  void adopt(text::Bytes bytes, size_t roomPerByte);
  // The input: a reader may decode text in place, which only ever shortens it.
  text::Bytes& bytes() { return doc.memory; }
  // Whether memory was asked for that the room did not have: what was made since then is
  // not the value read, and the read must fail.
  bool full() const { return overflowed; }

  // Node makers. Text passed to string() and data() must lie in the document: in bytes()
  // or in memory from allocateText().
  Staged string(std::string_view text) { return makeText(Kind::kString, text); }
  Staged data(std::string_view bytes) { return makeText(Kind::kData, bytes); }
  Staged integer(Integer value);
  Staged real(Real value) {
    return makeWord(Kind::kReal, DoubleBits(value.value), value.isFloat32);
  }
  Staged boolean(bool value) { return make(Kind::kBoolean, 0, value ? 1 : 0); }
  Staged date(Date value) { return makeWord(Kind::kDate, DoubleBits(value.seconds), false); }
  Staged uid(Uid value);
  // A list of `n` slots for an array's elements, or of 2 `n` for a dictionary's keys and
  // values in turn; null when the room has run out. Each slot must be placed before the
  // list goes to array() or dictionary(). A reader that found a dictionary's keys
  // ascending says so (Node::keysAscending).
  Node* list(size_t n) {
    doc.listed += n;
    return static_cast<Node*>(allocate(n * sizeof(Node), alignof(Node)));
  }
  // The nodes gathered for an open container: where they start (mark), the slot for the
  // next (push; null when the room has run out), and the nodes from `mark` to the last
  // pushed (at).
  size_t mark() const { return doc.used; }
  Node* push() {
    if (doc.low - doc.used < sizeof(Node)) {
      overflowed = true;
      return nullptr;
    }
    doc.used += sizeof(Node);
    return reinterpret_cast<Node*>(base + doc.used - sizeof(Node));
  }
  Node* at(size_t mark) { return reinterpret_cast<Node*>(base + mark); }
  // Drops the nodes gathered from `mark` on.
  void pop(size_t mark) { doc.used = mark; }
  // The `n` nodes gathered from `mark` as a list: for the top container, where they lie;
  // for any other, moved down with the other lists, so that the container's parent
  // gathers its next node after its last. Null when the room has run out.
  Node* gather(size_t mark, size_t n, bool top);
  Staged array(const Node* items, size_t n) { return makeList(Kind::kArray, items, n, false); }
  Staged dictionary(const Node* entries, size_t n, bool keysAscending) {
    return makeList(Kind::kDictionary, entries, n, keysAscending);
  }
  // Puts `value` in `slot`, a slot of a list or the top.
  void place(Node* slot, Staged value) {
    const int32_t rel = Node::RefersOut(value.head) ? value.rel - offsetOf(slot) : value.rel;
    new (slot) Node(value.head, rel);
  }
  // A node already placed, made again to be placed elsewhere: it refers to the same.
  Staged stage(const Node& node) const {
    return Staged{node.head, Node::RefersOut(node.head) ? node.rel + offsetOf(&node) : node.rel};
  }
  void setRoot(Staged value);
  // Room for `n` bytes of decoded text; null when the room has run out.
  char* allocateText(size_t n) { return static_cast<char*>(allocate(n, 1)); }
  // A string node holding a copy of `text`.
  Staged copyString(std::string_view text);
  // The nodes of a copy of `value`; room for them must have been reserved (reserve).
  Staged copy(const Value& value);
  // Makes sure that `n` more bytes fit, moving the whole document to larger memory if
  // need be: only where no node or text of it is held. False when a document may not
  // grow so far; throws std::bad_alloc when the heap has no room.
  bool reserve(size_t n);
  // At most the bytes that copy(`value`) takes.
  static size_t CopySize(const Value& value);

 private:
  int32_t offsetOf(const void* p) const {
    return static_cast<int32_t>(static_cast<const char*>(p) - base);
  }
  Staged make(Kind kind, uint32_t flags, int32_t rel) {
    ++doc.nodes;
    return Staged{static_cast<uint32_t>(kind) | flags, rel};
  }
  Staged makeText(Kind kind, std::string_view text) {
    return makeSized(kind, 0, text.data(), text.size());
  }
  Staged makeWord(Kind kind, uint64_t bits, bool mark);
  Staged makeList(Kind kind, const Node* list, size_t n, bool mark) {
    return makeSized(kind, mark ? Node::kMark : 0, list, n);
  }
  // A text or list node: its size in the head, or in an extent when it is too large.
  Staged makeSized(Kind kind, uint32_t flags, const void* at, size_t n) {
    // Nothing to refer to: the document's start stands in for wherever `at` is.
    if (n == 0) return make(kind, flags, 0);
    if (n <= Node::kMaxHeadSize) {
      return make(kind, flags | static_cast<uint32_t>(n << Node::kSizeShift), offsetOf(at));
    }
    return makeExtent(kind, flags, at, n);
  }
  Staged makeExtent(Kind kind, uint32_t flags, const void* at, size_t n);
  // Memory from the far end of the room. Inline, as the readers take memory for every
  // list they read.
  void* allocate(size_t n, size_t alignment) {
    if (doc.low - doc.used < n) {
      overflowed = true;
      return nullptr;
    }
    const size_t start = (doc.low - n) & ~(alignment - 1);
    if (start < doc.used) {
      overflowed = true;
      return nullptr;
    }
    doc.low = start;
    return base + start;
  }

  // Takes where the document's memory is.
  void follow() { base = doc.memory.data(); }
  // Makes the room the memory from `from` to its end, or to as far as 32-bit distances
  // reach across.
  void makeRoom(size_t from);

  Document& doc;
  // The document's memory, where it is while this builder makes nodes: a builder that
  // moves it (adopt, reserve) follows it, and no other builder may be in use then.
  char* base;
  bool overflowed = false;
};

}  // namespace plist

#endif  // BRTCONFIG_PLIST_DOCUMENT_BUILDER_H_
