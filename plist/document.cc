#include "plist/document.h"

#include <utility>
#include <vector>

namespace plist {
const Node* Node::find(std::string_view key) const {
  const size_t n = size();
  for (size_t i = 0; i < n; ++i) {
    if (keyAt(i) == key) return &valueAt(i);
  }
  return nullptr;
}

Value Node::toValue() const {
  switch (kind()) {
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
      const auto* p = reinterpret_cast<const uint8_t*>(data().data());
      return Value(Data(p, p + size()));
    }
    case Kind::kArray: {
      Array array;
      array.reserve(size());
      for (size_t i = 0; i < size(); ++i) array.push_back(item(i).toValue());
      return Value(std::move(array));
    }
    case Kind::kDictionary: {
      std::vector<Dictionary::Entry> list;
      list.reserve(size());
      for (size_t i = 0; i < size(); ++i) {
        list.push_back(Dictionary::Entry{std::string(keyAt(i)), valueAt(i).toValue()});
      }
      return Value(Dictionary(std::move(list)));
    }
    case Kind::kUid:
      return Value(uid());
  }
  return Value();
}

Document::Document() = default;
Document::~Document() = default;

Document::Document(Document&& other) noexcept
    : memory(std::move(other.memory)),
      used(std::exchange(other.used, 0)),
      low(std::exchange(other.low, 0)),
      end(std::exchange(other.end, 0)),
      topAt(std::exchange(other.topAt, 0)),
      nodes(std::exchange(other.nodes, 0)),
      listed(std::exchange(other.listed, 0)) {}

Document& Document::operator=(Document&& other) noexcept {
  if (this != &other) {
    memory = std::move(other.memory);
    used = std::exchange(other.used, 0);
    low = std::exchange(other.low, 0);
    end = std::exchange(other.end, 0);
    topAt = std::exchange(other.topAt, 0);
    nodes = std::exchange(other.nodes, 0);
    listed = std::exchange(other.listed, 0);
  }
  return *this;
}

const Node& Document::root() const {
  // A document without a top has an empty string, which refers to nothing.
  static const Node kEmptyString(static_cast<uint32_t>(Kind::kString), 0);
  if (topAt == 0) return kEmptyString;
  return *reinterpret_cast<const Node*>(memory.data() + topAt);
}

}  // namespace plist
