// unrar: see unrar.h for the commands and the usage text for the exit codes.
#include <string>
#include <vector>

#include "tools/unrar/unrar.h"

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  return varmex::tools::ReportUnrar(varmex::tools::RunUnrar(args));
}
