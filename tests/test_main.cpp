// Test entry; the fixtures in TestEnvironment.h set up the clock and stand-ins.
#include <gtest/gtest.h>

#ifdef KORVA_TEST_TOOLKIT
#include "toolkit/Toolkit.h"
#endif

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
#ifdef KORVA_TEST_TOOLKIT
  toolkit::Initialize();
  const int result = RUN_ALL_TESTS();
  toolkit::Finalize();
  return result;
#else
  return RUN_ALL_TESTS();
#endif
}
