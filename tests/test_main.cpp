// Test entry; the fixtures in TestEnvironment.h set up the clock and stand-ins.
#include <gtest/gtest.h>

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
