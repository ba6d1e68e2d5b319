#include "text/bytes.h"

#include <cstring>
#include <new>
#include <utility>

namespace text {
namespace {

void Delete(char* memory, size_t) { delete[] memory; }

}  // namespace

Bytes::Bytes(char* memory, size_t reserved, Release release)
    : memory_(memory), capacity_(reserved), release_(release) {
  memory_[0] = '\0';
}

Bytes Bytes::Allocate(size_t capacity) {
  // new char[] leaves the bytes as they are: nothing is written twice.
  char* memory = new (std::nothrow) char[capacity + 1];
  return memory ? Bytes(memory, capacity + 1, Delete) : Bytes();
}

Bytes Bytes::CopyOf(std::string_view bytes) {
  Bytes copy = Allocate(bytes.size());
  if (copy.capacity() < bytes.size()) throw std::bad_alloc();
  if (!bytes.empty()) std::memcpy(copy.data(), bytes.data(), bytes.size());
  copy.resize(bytes.size());
  return copy;
}

Bytes::Bytes(Bytes&& other) noexcept
    : memory_(std::exchange(other.memory_, nullptr)),
      size_(std::exchange(other.size_, 0)),
      capacity_(std::exchange(other.capacity_, 0)),
      release_(std::exchange(other.release_, nullptr)) {}

Bytes& Bytes::operator=(Bytes&& other) noexcept {
  if (this != &other) {
    Bytes old(std::move(*this));
    memory_ = std::exchange(other.memory_, nullptr);
    size_ = std::exchange(other.size_, 0);
    capacity_ = std::exchange(other.capacity_, 0);
    release_ = std::exchange(other.release_, nullptr);
  }
  return *this;
}

Bytes::~Bytes() {
  if (memory_) release_(memory_, capacity_);
}

}  // namespace text
