// How a document's nodes are made: by the readers, and by the document itself from a
// value. Private to the plist library.
#ifndef BRTCONFIG_PLIST_DOCUMENT_BUILDER_H_
#define BRTCONFIG_PLIST_DOCUMENT_BUILDER_H_

#include <cstddef>
#include <cstdint>
#include <new>
#include <string>
#include <string_view>

#include "plist/document.h"

namespace plist {

class DocumentBuilder {
 public:
  explicit DocumentBuilder(Document* document) : doc(*document) {}

  // The bytes being read: the document keeps them, and text nodes may point into them.
  // An XML reader may decode text in place, which only ever shortens it.
  text::Bytes& bytes() { return doc.input; }
  void setRoot(const Node* node) { doc.top = node; }

  // Node makers. Text passed to string() and data() must live as long as the document: in
  // bytes() or in memory from allocateText().
  const Node* string(std::string_view text) { return makeText(Kind::kString, text); }
  const Node* data(std::string_view bytes) { return makeText(Kind::kData, bytes); }
  const Node* integer(Integer value);
  const Node* real(Real value);
  const Node* boolean(bool value);
  const Node* date(Date value);
  const Node* uid(Uid value);
  // Lists for containers, filled by the caller and then handed to array() or
  // dictionary(), which keep them. A reader that found a dictionary's keys ascending
  // says so (Node::keysAscending).
  const Node** itemList(size_t n);
  Member* entryList(size_t n);
  const Node* array(const Node* const* items, size_t n);
  const Node* dictionary(Member* entries, size_t n, bool keysAscending);
  // Room for `n` bytes of decoded text.
  char* allocateText(size_t n);
  // A string node holding a copy of `text`.
  const Node* copyString(std::string_view text);
  // The nodes of a copy of `value`.
  const Node* copy(const Value& value);

 private:
  // Inline, as the readers make a node or two for every value read.
  Node* make(Kind kind) {
    Node* node = new (allocate(sizeof(Node), alignof(Node))) Node();
    node->kind_ = kind;
    node->id_ = static_cast<uint32_t>(doc.nodes++);
    return node;
  }
  const Node* makeText(Kind kind, std::string_view text) {
    Node* node = make(kind);
    node->text = text.data();
    node->size_ = text.size();
    return node;
  }
  void* allocate(size_t n, size_t alignment) {
    // Alignments are powers of two, so the padding is a mask, not a division.
    const size_t skip = (0 - reinterpret_cast<uintptr_t>(doc.free)) & (alignment - 1);
    if (doc.free == nullptr || doc.freeBytes < skip || doc.freeBytes - skip < n) {
      return allocateBlock(n, alignment);
    }
    char* p = doc.free + skip;
    doc.free = p + n;
    doc.freeBytes -= skip + n;
    return p;
  }
  void* allocateBlock(size_t n, size_t alignment);

  Document& doc;
};

}  // namespace plist

#endif  // BRTCONFIG_PLIST_DOCUMENT_BUILDER_H_
