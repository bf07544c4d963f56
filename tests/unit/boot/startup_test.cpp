// Start-up failures end the process with a failure status after their
// message: a wrong count of actions in a datatype's registration.
#include <gtest/gtest.h>

#include "values/registry.h"

namespace kez {
namespace {

TEST(StartupTest, WrongActionCountStopsWithStatusOne) {
  EXPECT_EXIT(datatype::check_action_count(7, 61), testing::ExitedWithCode(1),
              "");
}

TEST(StartupTest, RightActionCountGoesOn) { datatype::check_action_count(7, 62); }

}  // namespace
}  // namespace kez
