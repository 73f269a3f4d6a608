// The entry point of varmex-setup: a graphical entry without a console on Windows,
// plain main on POSIX. Both set the platform up from the environment (answer script,
// transcript, drives) and hand it, a fresh run state and the arguments to the
// installation sequence.
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
  const bool ready = varmex::platform::SetUpFromEnvironment();
  // The one place the platform is fetched: the native one, or the transcript and
  // answer script the environment asked for; the run is handed it from here on.
  varmex::platform::Platform& os = varmex::platform::Current();
  if (!ready) {
    varmex::installer::EndProgram(os, 1);
  }
  varmex::installer::RunState state;  // the run's own, for as long as it lasts
  return varmex::installer::RunInstaller(os, state, args);
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
