// nredisp: see nredisp.h.
#include <iostream>
#include <string>
#include <vector>

#include "tools/common/progress.h"
#include "tools/nredisp/nredisp.h"

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  return varmex::tools::RunNredisp(args, std::cout, std::cerr,
                                   varmex::tools::StandardErrorIsTerminal());
}
