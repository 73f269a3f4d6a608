// unrar.exe of the Windows tests (stored entries only, see stored_rar.h).
#include <string>
#include <vector>

#include "tools/win-standins/stored_rar.h"

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  return varmex::tools::ReportUnrar(varmex::tools::RunStoredUnrar(args));
}
