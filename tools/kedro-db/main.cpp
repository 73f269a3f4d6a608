#include <iostream>
#include <string>
#include <vector>

#include "tools/common/progress.h"
#include "tools/kedro-db/kedro_db.h"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  return varmex::tools::RunKedroDb(args, std::cout, std::cerr,
                                   varmex::tools::StandardErrorIsTerminal());
}
