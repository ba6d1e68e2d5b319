// How a document's nodes are made, by the readers and by the document from a value.
#include "plist/document_builder.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "plist/key_order.h"

namespace plist {
namespace {

// Blocks double up to this size, so that a large document takes a few dozen at most.
constexpr size_t kLargestBlock = size_t{16} << 20;

}  // namespace

Document Document::fromValue(const Value& value) {
  Document document;
  DocumentBuilder build(&document);
  build.setRoot(build.copy(value));
  return document;
}

void* DocumentBuilder::allocateBlock(size_t n, size_t alignment) {
  if (doc.takeSpareRoom()) return allocate(n, alignment);
  // A request larger than the next block gets a block of its own, leaving the current
  // block's free memory for later requests.
  if (n + alignment > doc.nextBlock) {
    doc.blocks.emplace_back(new char[n + alignment]);
    char* p = doc.blocks.back().get();
    return p + ((0 - reinterpret_cast<uintptr_t>(p)) & (alignment - 1));
  }
  doc.blocks.emplace_back(new char[doc.nextBlock]);
  doc.free = doc.blocks.back().get();
  doc.freeBytes = doc.nextBlock;
  doc.nextBlock = std::min(2 * doc.nextBlock, kLargestBlock);
  return allocate(n, alignment);
}

char* DocumentBuilder::allocateText(size_t n) { return static_cast<char*>(allocate(n, 1)); }

const Node* DocumentBuilder::copyString(std::string_view text) {
  char* p = allocateText(text.size());
  if (!text.empty()) std::memcpy(p, text.data(), text.size());
  return string(std::string_view(p, text.size()));
}

const Node* DocumentBuilder::integer(Integer value) {
  Node* node = make(Kind::kInteger);
  node->bits = value.bits;
  node->unsignedInteger = value.isUnsigned;
  return node;
}

const Node* DocumentBuilder::real(Real value) {
  Node* node = make(Kind::kReal);
  node->bits = DoubleBits(value.value);
  node->float32 = value.isFloat32;
  return node;
}

const Node* DocumentBuilder::boolean(bool value) {
  Node* node = make(Kind::kBoolean);
  node->bits = value ? 1 : 0;
  return node;
}

const Node* DocumentBuilder::date(Date value) {
  Node* node = make(Kind::kDate);
  node->bits = DoubleBits(value.seconds);
  return node;
}

const Node* DocumentBuilder::uid(Uid value) {
  Node* node = make(Kind::kUid);
  node->bits = value.value;
  return node;
}

const Node** DocumentBuilder::itemList(size_t n) {
  return static_cast<const Node**>(allocate(n * sizeof(Node*), alignof(Node*)));
}

Member* DocumentBuilder::entryList(size_t n) {
  return static_cast<Member*>(allocate(n * sizeof(Member), alignof(Member)));
}

const Node* DocumentBuilder::array(const Node* const* items, size_t n) {
  Node* node = make(Kind::kArray);
  node->items = items;
  node->size_ = n;
  return node;
}

const Node* DocumentBuilder::dictionary(Member* entries, size_t n, bool keysAscending) {
  Node* node = make(Kind::kDictionary);
  node->entries = entries;
  node->size_ = n;
  node->ascendingKeys = keysAscending;
  return node;
}

const Node* DocumentBuilder::copy(const Value& value) {
  switch (value.kind()) {
    case Kind::kString:
      return copyString(value.string());
    case Kind::kInteger:
      return integer(value.integer());
    case Kind::kReal:
      return real(value.real());
    case Kind::kBoolean:
      return boolean(value.boolean());
    case Kind::kDate:
      return date(value.date());
    case Kind::kData: {
      const Data& bytes = value.data();
      char* p = allocateText(bytes.size());
      if (!bytes.empty()) std::memcpy(p, bytes.data(), bytes.size());
      return data(std::string_view(p, bytes.size()));
    }
    case Kind::kArray: {
      const Array& elements = value.array();
      const Node** items = itemList(elements.size());
      for (size_t i = 0; i < elements.size(); ++i) items[i] = copy(elements[i]);
      return array(items, elements.size());
    }
    case Kind::kDictionary: {
      const Dictionary& dictionary = value.dictionary();
      Member* entries = entryList(dictionary.size());
      for (size_t i = 0; i < dictionary.size(); ++i) {
        entries[i] = Member{copyString(dictionary.keyAt(i)), copy(dictionary.valueAt(i))};
      }
      return this->dictionary(entries, dictionary.size(), false);
    }
    case Kind::kUid:
      return uid(value.uid());
  }
  return string(std::string_view());
}

void Document::set(std::string_view key, const Value& value) {
  DocumentBuilder build(this);
  const Node* copy = build.copy(value);
  Node* dictionary = const_cast<Node*>(top);
  for (size_t i = 0; i < dictionary->size_; ++i) {
    if (dictionary->keyAt(i) == key) {
      dictionary->entries[i].value = copy;
      return;
    }
  }
  // A new key: the entries move to a list one longer. Changes come a few at a time.
  const size_t n = dictionary->size_;
  Member* list = build.entryList(n + 1);
  if (n > 0) std::memcpy(list, dictionary->entries, n * sizeof(Member));
  list[n] = Member{build.copyString(key), copy};
  // The keys still ascend if the new one comes after the last.
  dictionary->ascendingKeys =
      dictionary->ascendingKeys && (n == 0 || KeyLess(list[n - 1].key->string(), key));
  dictionary->entries = list;
  dictionary->size_ = n + 1;
}

}  // namespace plist
