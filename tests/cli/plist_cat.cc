// Test helper: reads a property-list file with the project's reader and writes it out
// again as a binary property list (which keeps every character), so the command-line tests can
// compare the reader's view of a file with an independent one.
#include <cstdio>
#include <string>

#include "plist/plist.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: plist_cat FILE\n");
    return 2;
  }
  FILE* file = fopen(argv[1], "rb");
  if (file == nullptr) {
    perror(argv[1]);
    return 1;
  }
  std::string bytes;
  char buffer[65536];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, file)) > 0) bytes.append(buffer, n);
  fclose(file);

  plist::Document document;
  plist::Error error;
  std::string out;
  if (!plist::Read(bytes, &document, &error) ||
      !plist::Write(document.root().toValue(), plist::Format::kBinary, &out, &error)) {
    fprintf(stderr, "%s: %s at byte %zu: %s\n", argv[1], plist::ErrorCodeName(error.code),
            error.offset, error.detail.c_str());
    return 1;
  }
  fwrite(out.data(), 1, out.size(), stdout);
  return 0;
}
