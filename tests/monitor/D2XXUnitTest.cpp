// The D2XX binding's own rules: which received bytes stay as they are, the
// status names and error texts, and a missing library, which is never called.
#include <gtest/gtest.h>

#include "monitor/D2XXUnit.h"

namespace {

using namespace monitor;

TEST(D2XXUnitTest, ReceivedBytesKeepTheModulesCharactersOnly) {
  struct Case {
    std::string bytes;
    std::string text;
  };
  for (const Case& c :
       {Case{"*BAT*\r\nBA<85\r\n", "*BAT*..BA<85.."}, Case{"a_Z-9>", "a_Z-9>"},
        Case{std::string("\x05\x00\x09\x0A", 4), "509."}, Case{" .\xB5\x7F", "...."}}) {
    EXPECT_EQ(BytesToText(c.bytes.data(), c.bytes.size()), c.text) << c.text;
  }
}

TEST(D2XXUnitTest, StatusesHaveNamesAndTextsUpToEighteen) {
  struct Case {
    FT_STATUS status;
    const char* name;
    const char* text;
  };
  for (const Case c :
       {Case{0, "FT_OK", ""}, Case{2, "FT_DEVICE_NOT_FOUND", "op - Device Not Found...."},
        Case{7, "FT_INVALID_BAUD_RATE", "op - Invalid Baudrate..."},
        Case{18, "FT_OTHER_ERROR", "op - other error..."}, Case{19, "19", ""}}) {
    EXPECT_EQ(FtStatusName(c.status), c.name);
    EXPECT_EQ(FtErrorText("op", c.status), c.text);
  }
}

TEST(D2XXUnitTest, WithoutTheLibraryNoFunctionIsCalled) {
  UseFtd2xx(platform::DynamicLibrary());
  EXPECT_EQ(FtDeviceCount(), 0u);
  FtDeviceInfo info;
  EXPECT_EQ(FtGetDeviceInfo(0, info), FT_OTHER_ERROR);
  EXPECT_EQ(FtOpenBySerial(0), FT_DEVICE_NOT_OPENED);
  EXPECT_EQ(FtSetBaudRate(), FT_OTHER_ERROR);
  uint32_t rx = 1, tx = 1, event = 1;
  EXPECT_EQ(FtGetStatus(rx, tx, event), FT_OTHER_ERROR);
  EXPECT_EQ(rx + tx + event, 0u);
  EXPECT_EQ(FtWrite("R"), 0u);
  std::string text = "kept";
  EXPECT_EQ(FtReadText(text, 84), 4u);
  EXPECT_EQ(FtPurge(true, false), FT_OTHER_ERROR);
}

}  // namespace
