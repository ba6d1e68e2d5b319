// A small filter over the property-list library for the differential test and the
// benchmarks:
//   plist_tool convert xml|binary < in > out   read either format, write the chosen one
//   plist_tool check < in                      read only; prints the format
// Exit status: 0 success, 1 the input was refused, 2 the writer refused the value,
// 3 usage or I/O error. The reason for a refusal goes to stderr; a writer that refuses
// partway may have written part of the text.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "plist/plist.h"
#include "text/bytes.h"

namespace {

constexpr int kOk = 0;
constexpr int kUnreadable = 1;
constexpr int kUnwritable = 2;
constexpr int kUsage = 3;

// Reads all of `fd` straight into memory that is not cleared first, sized up front for a
// regular file, with the spare room its document takes.
bool ReadAll(int fd, text::Bytes* out) {
  struct stat st;
  size_t expected = 1 << 16;
  if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) expected = static_cast<size_t>(st.st_size) + 1;
  text::Bytes bytes = text::Bytes::Allocate(expected * (1 + plist::kSparePerInputByte));
  for (;;) {
    if (bytes.size() == bytes.capacity()) {
      text::Bytes larger = text::Bytes::Allocate(2 * bytes.size() + 1);
      if (larger.capacity() == 0) {
        errno = ENOMEM;
        return false;
      }
      std::memcpy(larger.data(), bytes.data(), bytes.size());
      larger.resize(bytes.size());
      bytes = std::move(larger);
    }
    const ssize_t n = read(fd, bytes.data() + bytes.size(), bytes.capacity() - bytes.size());
    if (n == 0) break;
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    bytes.resize(bytes.size() + static_cast<size_t>(n));
  }
  *out = std::move(bytes);
  return true;
}

int Run(const std::vector<std::string>& args) {
  const bool convert =
      args.size() == 2 && args[0] == "convert" && (args[1] == "xml" || args[1] == "binary");
  const bool check = args.size() == 1 && args[0] == "check";
  if (!convert && !check) {
    std::fprintf(stderr,
                 "usage: plist_tool convert xml|binary < in > out\n"
                 "       plist_tool check < in\n");
    return kUsage;
  }
  text::Bytes input;
  if (!ReadAll(STDIN_FILENO, &input)) {
    std::perror("plist_tool: stdin");
    return kUsage;
  }
  plist::Document document;
  plist::Error error;
  plist::Format format = plist::Format::kXml;
  if (!plist::Read(std::move(input), &document, &error, &format)) {
    std::fprintf(stderr, "plist_tool: unreadable: %s at byte %zu: %s\n",
                 plist::ErrorCodeName(error.code), error.offset, error.detail.c_str());
    return kUnreadable;
  }
  if (check) {
    std::printf("%s\n", format == plist::Format::kBinary ? "binary" : "xml");
    return kOk;
  }
  const plist::Format target = args[1] == "binary" ? plist::Format::kBinary : plist::Format::kXml;
  // The text goes out as it is made, as the tool writes its files.
  bool written = true;
  const plist::ByteSink toStdout = [&written](std::string_view bytes) {
    written = std::fwrite(bytes.data(), 1, bytes.size(), stdout) == bytes.size();
    return written;
  };
  if (!plist::Write(document, target, toStdout, &error)) {
    if (!written) {
      std::perror("plist_tool: stdout");
      return kUsage;
    }
    std::fprintf(stderr, "plist_tool: unwritable: %s: %s\n", plist::ErrorCodeName(error.code),
                 error.detail.c_str());
    return kUnwritable;
  }
  if (std::fflush(stdout) != 0) {
    std::perror("plist_tool: stdout");
    return kUsage;
  }
  return kOk;
}

}  // namespace

int main(int argc, char** argv) { return Run(std::vector<std::string>(argv + 1, argv + argc)); }
