// A growable array in 16 bytes: a pointer and two 32-bit counts. A property-list tree
// is mostly small containers and short strings, and std::vector's 24 bytes would make
// every value a third larger; no container read from a file comes near 2^32 elements.
#ifndef BRTCONFIG_PLIST_COMPACT_VECTOR_H_
#define BRTCONFIG_PLIST_COMPACT_VECTOR_H_

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <iterator>
#include <memory>
#include <new>
#include <type_traits>
#include <utility>

namespace plist {

template <typename T>
class CompactVector {
 public:
  using value_type = T;
  using iterator = T*;
  using const_iterator = const T*;

  // The most elements a vector holds; asking for more aborts, as running out of memory
  // does.
  static constexpr size_t kMaxSize = UINT32_MAX;

  CompactVector() noexcept = default;
  explicit CompactVector(size_t n) { resize(n); }
  CompactVector(size_t n, const T& value) {
    reserve(n);
    for (size_t i = 0; i < n; ++i) push_back(value);
  }
  template <typename It, typename = std::enable_if_t<!std::is_integral_v<It>>>
  CompactVector(It first, It last) {
    if constexpr (std::is_base_of_v<std::forward_iterator_tag,
                                    typename std::iterator_traits<It>::iterator_category>) {
      reserve(static_cast<size_t>(std::distance(first, last)));
    }
    for (; first != last; ++first) emplace_back(*first);
  }
  CompactVector(std::initializer_list<T> list) : CompactVector(list.begin(), list.end()) {}

  CompactVector(const CompactVector& other) : CompactVector(other.begin(), other.end()) {}
  CompactVector(CompactVector&& other) noexcept
      : items(std::exchange(other.items, nullptr)),
        count(std::exchange(other.count, 0)),
        room(std::exchange(other.room, 0)) {}
  CompactVector& operator=(const CompactVector& other) {
    if (this != &other) *this = CompactVector(other);
    return *this;
  }
  CompactVector& operator=(CompactVector&& other) noexcept {
    if (this != &other) {
      release();
      items = std::exchange(other.items, nullptr);
      count = std::exchange(other.count, 0);
      room = std::exchange(other.room, 0);
    }
    return *this;
  }
  ~CompactVector() { release(); }

  size_t size() const { return count; }
  size_t capacity() const { return room; }
  bool empty() const { return count == 0; }
  T* data() { return items; }
  const T* data() const { return items; }
  T* begin() { return items; }
  T* end() { return items + count; }
  const T* begin() const { return items; }
  const T* end() const { return items + count; }
  T& operator[](size_t i) { return items[i]; }
  const T& operator[](size_t i) const { return items[i]; }
  T& back() { return items[count - 1]; }
  const T& back() const { return items[count - 1]; }

  // Makes room for `n` elements in all, moving the elements once if it must.
  void reserve(size_t n) {
    if (n > room) reallocate(n);
  }
  void push_back(const T& value) { emplace_back(value); }
  void push_back(T&& value) { emplace_back(std::move(value)); }
  template <typename... Args>
  T& emplace_back(Args&&... args) {
    if (count == room) {
      // The new element may be one of the old ones: it is made in the new room first.
      const size_t grown = std::max<size_t>({size_t{4}, 2 * size_t{room}, size_t{count} + 1});
      T* fresh = allocate(std::min(grown, kMaxSize));
      ::new (static_cast<void*>(fresh + count)) T(std::forward<Args>(args)...);
      adopt(fresh, std::min(grown, kMaxSize));
    } else {
      ::new (static_cast<void*>(items + count)) T(std::forward<Args>(args)...);
    }
    return items[count++];
  }
  // Shrinks to `n` elements or grows with value-initialised ones.
  void resize(size_t n) {
    if (n < count) {
      std::destroy(items + n, items + count);
    } else {
      reserve(n);
      for (T* p = items + count; p != items + n; ++p) ::new (static_cast<void*>(p)) T();
    }
    count = static_cast<uint32_t>(n);
  }
  void clear() { resize(0); }

  bool operator==(const CompactVector& other) const {
    return count == other.count && std::equal(begin(), end(), other.begin());
  }
  bool operator!=(const CompactVector& other) const { return !(*this == other); }

 private:
  static T* allocate(size_t n) {
    if (n > kMaxSize) std::abort();
    return static_cast<T*>(::operator new(n * sizeof(T)));
  }
  // Moves the elements into `fresh` (of room `n`, holding a new element past them
  // already, if any) and frees the old room.
  void adopt(T* fresh, size_t n) {
    if (count > 0) {
      if constexpr (std::is_trivially_copyable_v<T>) {
        std::memcpy(static_cast<void*>(fresh), items, count * sizeof(T));
      } else {
        std::uninitialized_move(items, items + count, fresh);
        std::destroy(items, items + count);
      }
    }
    ::operator delete(items);
    items = fresh;
    room = static_cast<uint32_t>(n);
  }
  void reallocate(size_t n) { adopt(allocate(n), n); }
  void release() {
    std::destroy(items, items + count);
    ::operator delete(items);
  }

  T* items = nullptr;
  uint32_t count = 0;
  uint32_t room = 0;
};

}  // namespace plist

#endif  // BRTCONFIG_PLIST_COMPACT_VECTOR_H_
