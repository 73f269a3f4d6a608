// unrar.exe stand-in of the Windows tests (stored entries only, see stored_rar.h).
#include <string>
#include <vector>

#include "tools/win-standins/stored_rar.h"

int main(int argc, char** argv) {
  return varmex::tools::RunStoredUnrar(std::vector<std::string>(argv + 1, argv + argc));
}
