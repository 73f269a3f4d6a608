#include <iostream>
#include <string>
#include <vector>

#include "tools/common/progress.h"
#include "tools/kedro-db/kedro_db.h"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  // The tool's one fetch of the platform: the native one, as nothing is installed over it.
  return varmex::tools::RunKedroDb(varmex::platform::Current(), args, std::cout, std::cerr,
                                   varmex::tools::StandardErrorIsTerminal());
}
