#include "plist/document.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <utility>


namespace plist {
namespace {

// Blocks start at this size and double (plist/document_builder.cc), so that a small
// document costs one small allocation.
constexpr size_t kFirstBlock = 4096;

const Node kEmptyString{};

}  // namespace

const Node* Node::find(std::string_view key) const {
  for (size_t i = 0; i < size_; ++i) {
    if (entries[i].key->string() == key) return entries[i].value;
  }
  return nullptr;
}

Value Node::toValue() const {
  switch (kind_) {
    case Kind::kString:
      return Value(string());
    case Kind::kInteger:
      return Value(integer());
    case Kind::kReal:
      return Value(real());
    case Kind::kBoolean:
      return Value(boolean());
    case Kind::kDate:
      return Value(date());
    case Kind::kData: {
      const auto* p = reinterpret_cast<const uint8_t*>(text);
      return Value(Data(p, p + size_));
    }
    case Kind::kArray: {
      Array array;
      array.reserve(size_);
      for (size_t i = 0; i < size_; ++i) array.push_back(items[i]->toValue());
      return Value(std::move(array));
    }
    case Kind::kDictionary: {
      std::vector<Dictionary::Entry> list;
      list.reserve(size_);
      for (size_t i = 0; i < size_; ++i) {
        list.push_back(Dictionary::Entry{std::string(keyAt(i)), valueAt(i).toValue()});
      }
      return Value(Dictionary(std::move(list)));
    }
    case Kind::kUid:
      return Value(uid());
  }
  return Value();
}

Document::Document() : nextBlock(kFirstBlock), top(&kEmptyString) {}
bool Document::takeSpareRoom() {
  if (spareTaken) return false;
  spareTaken = true;
  if (input.spareSize() == 0) return false;
  free = input.spare();
  freeBytes = input.spareSize();
  nextBlock = std::max(nextBlock, freeBytes);
  return true;
}

Document::~Document() = default;
Document::Document(Document&&) noexcept = default;
Document& Document::operator=(Document&&) noexcept = default;

}  // namespace plist
