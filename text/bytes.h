// Bytes held in memory of their own that never moves and is never cleared before it is
// filled: a file read whole, handed from the platform to the readers without a copy.
#ifndef BRTCONFIG_TEXT_BYTES_H_
#define BRTCONFIG_TEXT_BYTES_H_

#include <cstddef>
#include <string_view>

namespace text {

// A NUL always follows the last byte, so a scanner may stop there instead of checking
// the length. Memory reserved beyond that NUL is spare: the owner may use it for other
// things (a document keeps its nodes there) that then live and go with the bytes.
class Bytes {
 public:
  // How memory from elsewhere (the platform's own reservations) is given back.
  using Release = void (*)(char* memory, size_t capacity);

  Bytes() = default;
  // Adopts `reserved` (at least 1) bytes at `memory`, room for `reserved` - 1 bytes and
  // the NUL; holds none of them yet.
  Bytes(char* memory, size_t reserved, Release release);
  // Room for `capacity` bytes and the NUL, from the heap; not cleared. None (capacity()
  // 0) when the heap has no room.
  static Bytes Allocate(size_t capacity);
  // Throws std::bad_alloc, as a string would, when the heap has no room.
  static Bytes CopyOf(std::string_view bytes);

  Bytes(Bytes&& other) noexcept;
  Bytes& operator=(Bytes&& other) noexcept;
  Bytes(const Bytes&) = delete;
  Bytes& operator=(const Bytes&) = delete;
  ~Bytes();

  char* data() { return memory_ ? memory_ : none; }
  const char* data() const { return memory_ ? memory_ : none; }
  size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  // Bytes that fit before the NUL without moving.
  size_t capacity() const { return capacity_ == 0 ? 0 : capacity_ - 1; }
  operator std::string_view() const { return std::string_view(data(), size_); }

  // Holds the first `n` (at most capacity()) bytes of the memory, followed by a NUL.
  void resize(size_t n) {
    size_ = n;
    data()[n] = '\0';
  }

  // The memory past the NUL.
  char* spare() { return data() + size_ + 1; }
  size_t spareSize() const { return capacity_ == 0 ? 0 : capacity_ - size_ - 1; }

 private:
  static inline char none[1] = {'\0'};  // What empty bytes without memory point at.

  char* memory_ = nullptr;
  size_t size_ = 0;
  size_t capacity_ = 0;
  Release release_ = nullptr;
};

}  // namespace text

#endif  // BRTCONFIG_TEXT_BYTES_H_
