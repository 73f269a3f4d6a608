// The program's entry and the whole installation sequence: switches, partition,
// presence probes, archive checks, directory tree, unpacking, shortcut, and the
// closing with the success message or the hand-over to the migration.
#pragma once

#include <span>
#include <string>

#include "installer/run_state.h"
#include "platform/platform.h"

namespace varmex::installer {

inline constexpr const char* kInstallCaption = "Instalare Varmex 38 ERP";
inline constexpr const char* kSuccessText = "Instalare cu succes!";
inline constexpr int kMaxScannedArguments = 10;

// Sets the switch flags of `state` from the command line (args[0] is the program and
// is not looked at). Only "/prel", "/PREL", "/debug" and "/DEBUG" count; an argument
// whose first six characters are blanks (also a missing one) ends the scan, and at
// most ten arguments are looked at.
void ScanSwitches(std::span<const std::string> args, RunState& state);

// The installation, run once over `os` with `state`, the run's own state, fresh from
// its defaults. Returns the exit status for a normal end (0); fatal
// errors and the final success message end the program inside.
int RunInstaller(platform::Platform& os, RunState& state, std::span<const std::string> args);

}  // namespace varmex::installer
