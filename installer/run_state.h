// The run state of the installation sequence: the install drive, the switch flags, the
// GRUPDEV ask limits and the presence probes. One run creates it at its start and
// hands it to the steps that use it; the sequence hands the migration what it needs
// from here; no other subsystem reads it.
#pragma once

#include <cstdint>

namespace varmex::installer {

struct RunState {
  char installDrive = 'C';
  int32_t migrateOnly = 0;
  int32_t grupdevAskFrom = 100;
  int32_t grupdevAskBelow = 1000;
  int32_t varmexPresent = 0;
  int32_t filegenPresent = 0;
  int32_t erpDataPresent = 0;
};

}  // namespace varmex::installer
