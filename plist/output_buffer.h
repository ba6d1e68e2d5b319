// The writers' output: bytes gathered in a buffer of fixed size and handed to the sink
// whenever it fills, so that a document is never held whole in memory. Private to the
// plist library.
#ifndef BRTCONFIG_PLIST_OUTPUT_BUFFER_H_
#define BRTCONFIG_PLIST_OUTPUT_BUFFER_H_

#include <cstddef>
#include <cstring>
#include <memory>
#include <string_view>

#include "plist/codec.h"
#include "plist/plist.h"

namespace plist {

class OutputBuffer {
 public:
  // Pieces reach the sink this large (the last one smaller), or larger when one text
  // alone is: as large as a file copy's reads and writes, and small enough to stay in
  // the cache.
  static constexpr size_t kChunkBytes = size_t{128} << 10;
  // room() hands out at most this many bytes at a time.
  static constexpr size_t kMaxRoom = 64;

  explicit OutputBuffer(const ByteSink& receiver) : buffer(new char[kChunkBytes]), sink(receiver) {}
  OutputBuffer(const OutputBuffer&) = delete;
  OutputBuffer& operator=(const OutputBuffer&) = delete;

  // Room for `n` (at most kMaxRoom) bytes at the end of the output: write them there,
  // then advanceTo() the end of what was written.
  char* room(size_t n) {
    if (kChunkBytes - used < n) flush();
    return buffer.get() + used;
  }
  // Advances to `end`, a pointer into the room handed out last.
  void advanceTo(const char* end) { used = static_cast<size_t>(end - buffer.get()); }

  void put(const char* bytes, size_t n) {
    if (kChunkBytes - used >= n) {
      std::memcpy(buffer.get() + used, bytes, n);
      used += n;
      return;
    }
    putLarge(bytes, n);
  }
  void put(std::string_view text) { put(text.data(), text.size()); }

  // The bytes put so far.
  size_t total() const { return sent + used; }
  // Whether the output has grown past what a reader accepts: a writer stops there rather
  // than make a file that could not be read back.
  bool full() const { return total() > kMaxInputBytes; }

  // Hands the rest to the sink. False, with `*error` (when not null) set to kOutput,
  // when the sink refused any piece; pieces after a refusal are dropped.
  bool finish(Error* error) {
    flush();
    return ok || Fail(error, ErrorCode::kOutput, 0, "the output was refused");
  }

 private:
  void flush() {
    if (used > 0 && ok) ok = sink(std::string_view(buffer.get(), used));
    sent += used;
    used = 0;
  }
  // Fills the buffer, hands it over, and passes a remainder too large for it directly.
  void putLarge(const char* bytes, size_t n) {
    const size_t first = kChunkBytes - used;
    std::memcpy(buffer.get() + used, bytes, first);
    used = kChunkBytes;
    flush();
    bytes += first;
    n -= first;
    if (n >= kChunkBytes) {
      if (ok) ok = sink(std::string_view(bytes, n));
      sent += n;
      return;
    }
    std::memcpy(buffer.get(), bytes, n);
    used = n;
  }

  std::unique_ptr<char[]> buffer;
  size_t used = 0;
  size_t sent = 0;  // Bytes handed to the sink so far.
  const ByteSink& sink;
  bool ok = true;
};

}  // namespace plist

#endif  // BRTCONFIG_PLIST_OUTPUT_BUFFER_H_
