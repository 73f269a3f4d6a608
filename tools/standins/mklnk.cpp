// mklnk: the stand-in shortcut maker (standins.h).
#include <iostream>
#include <string>
#include <vector>

#include "tools/standins/standins.h"

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  return varmex::tools::RunMklnk(args, std::cout, std::cerr);
}
