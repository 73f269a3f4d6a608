// Setting up the platform for a run of the program from its environment:
//
//   VARMEX_UI_SCRIPT      a file of actions that answers the dialogs and questions
//   VARMEX_UI_TRANSCRIPT  a file that receives the transcript of the run
//
// Without a script the Windows build shows its real dialogs and the POSIX build
// draws them on the terminal. The program's entry calls SetUpFromEnvironment once,
// first thing.
#pragma once

namespace varmex::platform {

// Installs the decorators the environment asks for around the native platform.
// Returns false when the environment is unusable (a line on standard error says
// why); the program should then end with status 1.
bool SetUpFromEnvironment();

// Removes what SetUpFromEnvironment installed (for tests).
void TearDownEnvironment();

}  // namespace varmex::platform
