// The program's entry: everything happens in RunMain, so tests can run it in-process.
#include <string>
#include <vector>

#include "tool/front_end.h"

int main(int argc, char** argv) {
  return brtconfig::RunMain(std::vector<std::string>(argv, argv + argc));
}
