#include "platform/fake_platform.h"

#include <gtest/gtest.h>

namespace varmex::platform {
namespace {

// A test that wraps a platform of its own around the code under test may create a
// fake inside it: when the fake goes, the test's platform is in force again.
TEST(FakePlatformTest, PutsBackThePlatformThatWasInForce) {
  Platform& native = Current();
  {
    FakePlatform outer;
    EXPECT_EQ(&Current(), &outer);
    {
      FakePlatform inner;
      EXPECT_EQ(&Current(), &inner);
    }
    EXPECT_EQ(&Current(), &outer);
  }
  EXPECT_EQ(&Current(), &native);
}

}  // namespace
}  // namespace varmex::platform
