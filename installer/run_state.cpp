#include "installer/run_state.h"

namespace varmex::installer {

RunState& CurrentRunState() {
  static RunState state;
  return state;
}

}  // namespace varmex::installer
