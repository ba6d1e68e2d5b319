// How a document's nodes are made, by the readers and by the document from a value.
#include "plist/document_builder.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <utility>

#include "plist/key_order.h"

namespace plist {
namespace {

// Room asked for beyond what a document needs, so that a small one does not move for
// each change.
constexpr size_t kMinGrowth = 4096;
// Room a document takes whatever its size: the top's node and padding.
constexpr size_t kMinRoom = 64;

}  // namespace

void DocumentBuilder::makeRoom(size_t from) {
  doc.used = (from + alignof(Node::Extent) - 1) & ~(alignof(Node::Extent) - 1);
  doc.end = std::min(doc.memory.capacity() + 1, kMaxDocumentBytes) & ~(alignof(Node::Extent) - 1);
  doc.low = std::max(doc.end, doc.used);
}

void DocumentBuilder::adopt(text::Bytes bytes, size_t roomPerByte) {
  const size_t room = bytes.size() * roomPerByte + kMinRoom;
  if (bytes.spareSize() < room) {
    text::Bytes larger = text::Bytes::Allocate(bytes.size() + room);
    if (larger.capacity() < bytes.size() + room) throw std::bad_alloc();
    if (!bytes.empty()) std::memcpy(larger.data(), bytes.data(), bytes.size());
    larger.resize(bytes.size());
    bytes = std::move(larger);
  }
  doc.memory = std::move(bytes);
  follow();
  makeRoom(doc.memory.size() + 1);
  doc.topAt = 0;
}

bool DocumentBuilder::reserve(size_t n) {
  if (doc.memory.capacity() > 0 && doc.low - doc.used >= n) return true;
  if (n > kMaxDocumentBytes || doc.end + n > kMaxDocumentBytes - 2 * kMinGrowth) return false;
  const size_t want =
      std::min(kMaxDocumentBytes, std::max(2 * doc.end, doc.end + n) + 2 * kMinGrowth);
  text::Bytes larger = text::Bytes::Allocate(want);
  if (larger.capacity() < want) throw std::bad_alloc();
  // Everything moves as one, so every distance still holds; the room left between the
  // two ends, too small for `n`, is given up.
  if (doc.end > 0) std::memcpy(larger.data(), doc.memory.data(), doc.end);
  larger.resize(doc.memory.size());
  const size_t from = std::max<size_t>(doc.end, 1);  // Without input, past its NUL.
  doc.memory = std::move(larger);
  follow();
  makeRoom(from);
  return true;
}

Node* DocumentBuilder::gather(size_t mark, size_t n, bool top) {
  doc.listed += n;
  Node* const gathered = at(mark);
  if (top) return gathered;
  auto* const moved = static_cast<Node*>(allocate(n * sizeof(Node), alignof(Node)));
  if (moved == nullptr) return nullptr;
  for (size_t i = 0; i < n; ++i) place(&moved[i], stage(gathered[i]));
  pop(mark);
  return moved;
}

Staged DocumentBuilder::integer(Integer value) {
  const auto bits = static_cast<int64_t>(value.bits);
  if (!value.isUnsigned && bits >= INT32_MIN && bits <= INT32_MAX) {
    return make(Kind::kInteger, 0, static_cast<int32_t>(bits));
  }
  return makeWord(Kind::kInteger, value.bits, value.isUnsigned);
}

Staged DocumentBuilder::uid(Uid value) {
  if (value.value <= UINT32_MAX) {
    return make(Kind::kUid, 0, static_cast<int32_t>(static_cast<uint32_t>(value.value)));
  }
  return makeWord(Kind::kUid, value.value, false);
}

Staged DocumentBuilder::makeWord(Kind kind, uint64_t bits, bool mark) {
  void* at = allocate(sizeof bits, alignof(uint64_t));
  if (at == nullptr) return make(kind, 0, 0);
  std::memcpy(at, &bits, sizeof bits);
  return make(kind, Node::kOutOfLine | (mark ? Node::kMark : 0), offsetOf(at));
}

Staged DocumentBuilder::makeExtent(Kind kind, uint32_t flags, const void* at, size_t n) {
  auto* extent = static_cast<Node::Extent*>(allocate(sizeof(Node::Extent), alignof(Node::Extent)));
  if (extent == nullptr) return make(kind, 0, 0);
  extent->offset = static_cast<const char*>(at) - reinterpret_cast<const char*>(extent);
  extent->size = n;
  return make(kind, flags | Node::kOutOfLine, offsetOf(extent));
}

void DocumentBuilder::setRoot(Staged value) {
  Node* slot = list(1);
  if (slot == nullptr) return;
  place(slot, value);
  doc.topAt = static_cast<size_t>(offsetOf(slot));
}

Staged DocumentBuilder::copyString(std::string_view text) {
  char* p = allocateText(text.size());
  if (p == nullptr) return string(std::string_view());
  if (!text.empty()) std::memcpy(p, text.data(), text.size());
  return string(std::string_view(p, text.size()));
}

size_t DocumentBuilder::CopySize(const Value& value) {
  // A node, and what it may take besides: a number's bits or an extent, and the padding
  // before them.
  size_t n = sizeof(Node) + sizeof(Node::Extent) + alignof(Node::Extent);
  switch (value.kind()) {
    case Kind::kString:
      return n + value.string().size();
    case Kind::kData:
      return n + value.data().size();
    case Kind::kArray:
      for (const Value& element : value.array()) n += CopySize(element);
      return n + alignof(Node);
    case Kind::kDictionary: {
      const Dictionary& dictionary = value.dictionary();
      for (size_t i = 0; i < dictionary.size(); ++i) {
        n += sizeof(Node) + sizeof(Node::Extent) + alignof(Node::Extent) +
             dictionary.keyAt(i).size() + CopySize(dictionary.valueAt(i));
      }
      return n + alignof(Node);
    }
    default:
      return n;
  }
}

Staged DocumentBuilder::copy(const Value& value) {
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
      if (p == nullptr) return data(std::string_view());
      if (!bytes.empty()) std::memcpy(p, bytes.data(), bytes.size());
      return data(std::string_view(p, bytes.size()));
    }
    case Kind::kArray: {
      const Array& elements = value.array();
      Node* items = list(elements.size());
      if (items == nullptr) return array(nullptr, 0);
      for (size_t i = 0; i < elements.size(); ++i) place(&items[i], copy(elements[i]));
      return array(items, elements.size());
    }
    case Kind::kDictionary: {
      const Dictionary& dictionary = value.dictionary();
      Node* entries = list(2 * dictionary.size());
      if (entries == nullptr) return this->dictionary(nullptr, 0, false);
      for (size_t i = 0; i < dictionary.size(); ++i) {
        place(&entries[2 * i], copyString(dictionary.keyAt(i)));
        place(&entries[2 * i + 1], copy(dictionary.valueAt(i)));
      }
      return this->dictionary(entries, dictionary.size(), false);
    }
    case Kind::kUid:
      return uid(value.uid());
  }
  return string(std::string_view());
}

Document Document::fromValue(const Value& value) {
  Document document;
  DocumentBuilder build(&document);
  // A value too large for one document is as much memory as the heap can give.
  if (!build.reserve(DocumentBuilder::CopySize(value) + sizeof(Node))) throw std::bad_alloc();
  build.setRoot(build.copy(value));
  return document;
}

bool Document::set(std::string_view key, const Value& value) {
  if (!root().isDictionary()) return false;
  DocumentBuilder build(this);
  const size_t n = root().size();
  // Room for the value, the key and a list one entry longer, so that nothing moves below.
  if (!build.reserve(DocumentBuilder::CopySize(value) + key.size() + (2 * n + 2) * sizeof(Node) +
                     2 * (sizeof(Node::Extent) + alignof(Node::Extent)) + alignof(Node))) {
    return false;
  }
  const Staged copy = build.copy(value);
  if (build.full()) return false;
  Node* top = const_cast<Node*>(&root());
  for (size_t i = 0; i < n; ++i) {
    if (top->keyAt(i) == key) {
      build.place(const_cast<Node*>(&top->valueAt(i)), copy);
      return true;
    }
  }
  // A new key: the entries move to a list one longer. Changes come a few at a time.
  Node* entries = build.list(2 * n + 2);
  const Staged keyCopy = build.copyString(key);
  // The keys still ascend if the new one comes after the last.
  const bool ascending = top->keysAscending() && (n == 0 || KeyLess(top->keyAt(n - 1), key));
  const Staged longer = build.dictionary(entries, n + 1, ascending);
  // Nothing of the document has changed until all of that was made.
  if (build.full()) return false;
  for (size_t i = 0; i < 2 * n; ++i) build.place(&entries[i], build.stage(top->list()[i]));
  build.place(&entries[2 * n], keyCopy);
  build.place(&entries[2 * n + 1], copy);
  build.place(top, longer);
  --nodes;  // The top was counted when it was read.
  return true;
}

}  // namespace plist
