// Process-wide run state set by the installation sequence and read by the migration
// and GRUPDEV generation.
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

RunState& CurrentRunState();

}  // namespace varmex::installer
