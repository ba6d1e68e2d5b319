// The program's entry: everything happens in RunMain, so tests can run it in-process.
#include <cstdio>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#include "tool/front_end.h"

int main(int argc, char** argv) {
  // Memory is bounded by the input, but the machine may still have less. A file is only
  // ever replaced whole, by a rename, so a run stopped here leaves every file whole.
  try {
    return brtconfig::RunMain(std::vector<std::string>(argv, argv + argc));
  } catch (const std::bad_alloc&) {
  } catch (const std::length_error&) {
  }
  std::fputs("Unable to finish: not enough memory.\n", stderr);
  return 1;
}
