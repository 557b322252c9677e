// Test entry: every test starts on a virtual clock and with recording stand-ins
// for message boxes and sound, so no test shows a window or waits in real time.
#include <gtest/gtest.h>

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
