// The entry point of varmex-setup: a graphical entry without a console on Windows,
// plain main on POSIX. Both set the platform up from the environment (answer script,
// transcript, drives) and hand the arguments to the installation sequence.
#include <string>
#include <vector>

#include "installer/install.h"
#include "installer/messages.h"
#include "platform/setup.h"

#ifdef _WIN32
#include <windows.h>

#include <cstdlib>
#endif

namespace {

int Start(std::vector<std::string> args) {
  if (!varmex::platform::SetUpFromEnvironment()) {
    varmex::installer::EndProgram(1);
  }
  return varmex::installer::RunInstaller(args);
}

}  // namespace

#ifdef _WIN32
int WINAPI WinMain(HINSTANCE /*instance*/, HINSTANCE /*previous*/, LPSTR /*commandLine*/,
                   int /*show*/) {
  return Start(std::vector<std::string>(__argv, __argv + __argc));
}
#else
int main(int argc, char** argv) { return Start(std::vector<std::string>(argv, argv + argc)); }
#endif
