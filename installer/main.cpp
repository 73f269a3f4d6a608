// The entry point of varmex-setup: a graphical entry without a console on Windows,
// plain main on POSIX. Both hand the arguments to the installation sequence.
#include <string>
#include <vector>

#include "installer/install.h"

#ifdef _WIN32
#include <windows.h>

#include <cstdlib>

int WINAPI WinMain(HINSTANCE /*instance*/, HINSTANCE /*previous*/, LPSTR /*commandLine*/, int /*show*/) {
  const std::vector<std::string> args(__argv, __argv + __argc);
  return varmex::installer::RunInstaller(args);
}
#else
int main(int argc, char** argv) {
  const std::vector<std::string> args(argv, argv + argc);
  return varmex::installer::RunInstaller(args);
}
#endif
