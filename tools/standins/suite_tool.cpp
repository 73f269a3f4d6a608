// One of the stand-ins for the migration's tools (standins.h), built once under each
// tool's name (VARMEX_STANDIN_NAME).
#include <iostream>
#include <string>
#include <vector>

#include "tools/standins/standins.h"

#ifndef VARMEX_STANDIN_NAME
#error "VARMEX_STANDIN_NAME must name the tool"
#endif

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  return varmex::tools::RunSuiteTool(VARMEX_STANDIN_NAME, args, std::cout, std::cerr);
}
