// dens FILE: measures how full a block file is and exits with its verdict
// (0 roomy, 1 filling, 2 too dense, 3 not measured; 7 a bad command line; density.h).
#include <iostream>
#include <string>
#include <vector>

#include "tools/common/progress.h"
#include "tools/dens/density.h"

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  // The tool's one fetch of the platform: the native one, as nothing is installed over it.
  return varmex::tools::RunDens(varmex::platform::Current(), args, std::cout, std::cerr,
                                varmex::tools::StandardErrorIsTerminal());
}
