// Feeds arbitrary bytes to the binary reader.
#include <cstddef>
#include <cstdint>

#include "plist/codec.h"
#include "plist/plist.h"
#include "plist/fuzz/fuzz_checks.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  plist::Value value;
  plist::Error error;
  const bool ok = plist::ReadBinary(plist::fuzz::Bytes(data, size), &value, &error);
  plist::fuzz::CheckReadOutcome(ok, value, error);
  return 0;
}
