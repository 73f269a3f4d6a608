// nredisp: see nredisp.h.
#include <iostream>
#include <string>
#include <vector>

#include "tools/common/progress.h"
#include "tools/nredisp/nredisp.h"

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  // The tool's one fetch of the platform: the native one, as nothing is installed over it.
  return varmex::tools::RunNredisp(varmex::platform::Current(), args, std::cout, std::cerr,
                                   varmex::tools::StandardErrorIsTerminal());
}
