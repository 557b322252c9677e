// korvamon as a separate process on the fake D2XX library (KORVA_FTD2XX), the
// fake scripted by file and logging to one: the module's events in the log as
// on the serial link, the shutdown command 'R' before the POSIX stand-in ends
// korvamon, and the session end's 'S' when the system ends it. Linux only.
#ifdef __linux__

#include <signal.h>
#include <stdlib.h>

#include <sstream>

#include "FakeFtdi.h"
#include "RealTime.h"

namespace {

using korva_test::ChildProcess;
using korva_test::TestFolder;

constexpr const char* kMains = "frame *****\\r\\nBUFRD\\r\\nDC_OK\\r\\n";
constexpr const char* kBattery = "frame *BAT*\\r\\nBUFRD\\r\\nDC_LO\\r\\n";

class UsbEndToEndTest : public testing::Test {
 protected:
  UsbEndToEndTest() {
    setenv("KORVA_FTD2XX", korva_test::FakeFtdiPath().c_str(), 1);
    setenv("KORVA_FAKEFTDI_SCRIPT", script_.c_str(), 1);
    setenv("KORVA_FAKEFTDI_LOG", calls_.c_str(), 1);
  }
  ~UsbEndToEndTest() override {
    for (const char* name : {"KORVA_FTD2XX", "KORVA_FAKEFTDI_SCRIPT", "KORVA_FAKEFTDI_LOG"})
      unsetenv(name);
  }

  // The fake's script, and korvamon started with these settings.
  std::unique_ptr<ChildProcess> Run(const std::vector<std::string>& script,
                                    const std::string& settings) {
    std::string lines = "device KORVA DI-ZOD 40 K2\n";
    for (const std::string& line : script)
      lines += line + "\n";
    TestFolder::Put(script_, lines);
    program_.Given("[COM]\r\nUSBPORT=1\r\n[CHECK]\r\nLanguage=E\r\nHistoryPath=" + log_ + "\r\n" +
                   settings);
    auto korvamon = program_.Run("korvamon.out");
    EXPECT_TRUE(korvamon->Started());
    return korvamon;
  }
  std::vector<std::string> LogTexts() const { return korva_test::LogFileTexts(log_); }
  bool Logged(const std::string& text, long times = 1) const {
    const std::vector<std::string> texts = LogTexts();
    return std::count(texts.begin(), texts.end(), text) >= times;
  }
  long Calls(const std::string& call) const {
    const std::string log = TestFolder::Get(calls_);
    long count = 0;
    for (size_t at = log.find(call); at != std::string::npos; at = log.find(call, at + 1))
      ++count;
    return count;
  }
  static bool Within(const std::function<bool()>& done) {
    return ChildProcess::Within(std::chrono::seconds(20), done);
  }

  korva_test::ProgramCopy program_;
  const std::string log_ = program_.folder().File("history.log");
  const std::string script_ = program_.folder().File("fake.script");
  const std::string calls_ = program_.folder().File("fake.log");
};

// English texts 6 to 10, 14 and 32.
constexpr const char* kLinkUp = "Connection to the UPS module established";
constexpr const char* kDcOk = "DC_OK / DC input voltage OK";
constexpr const char* kDcLow = "DC_LO / DC input voltage too low";
constexpr const char* kBatteryOn = "*BAT* / Battery operation";
constexpr const char* kBatteryOff = "No battery operation";
constexpr const char* kBufferReady = "Buffer ready";
constexpr const char* kChargeLow = "Charge below 85 %";

TEST_F(UsbEndToEndTest, TheModulesEventsAreLoggedAsOnTheSerialLink) {
  auto korvamon = Run(
      {kMains, std::string("after 3000 ms ") + kBattery, std::string("after 6000 ms ") + kMains},
      "DC_LOW_ShutDown=0\r\n");
  ASSERT_TRUE(Within([&] { return Logged(kBatteryOff, 2); })) << program_.Output("korvamon.out");
  korvamon->Signal(SIGINT);
  EXPECT_EQ(korvamon->Ended(), 0);
  std::vector<std::string> texts = LogTexts();
  const auto up = std::find(texts.begin(), texts.end(), kLinkUp);
  ASSERT_NE(up, texts.end());
  EXPECT_EQ(std::vector<std::string>(up, up + 9),
            (std::vector<std::string>{kLinkUp, kDcOk, kBatteryOff, kBufferReady, kChargeLow, kDcLow,
                                      kBatteryOn, kDcOk, kBatteryOff}));
}

TEST_F(UsbEndToEndTest, TheBatteryTimeSendsTheCommandThenTheStandInEndsKorvamon) {
  auto korvamon = Run(
      {kBattery}, "RepeatAbschaltung=2\r\n[START]\r\nShutDownMinutes=0\r\nShutDownSeconds=1\r\n");
  EXPECT_EQ(korvamon->Ended(), 0);
  EXPECT_EQ(Calls("FT_Write(\"R\") = 0 1"), 2);
  EXPECT_NE(program_.Output("korvamon.out").find("korvamon: system shutdown requested (flags 5)"),
            std::string::npos);
  EXPECT_TRUE(Logged("Windows is being shut down"));
}

TEST_F(UsbEndToEndTest, TheSystemsEndOfTheSessionSendsTheSessionCommand) {
  // The library is found in the program's own folder this time.
  unsetenv("KORVA_FTD2XX");
  std::filesystem::copy_file(korva_test::FakeFtdiPath(), program_.folder().path() / "libftd2xx.so");
  auto korvamon = Run(
      {kMains}, "DC_LOW_ShutDown=0\r\nRepeatAbschaltung=1\r\n[ACTION]\r\nWINDOWSSDSIGNAL=1\r\n");
  ASSERT_TRUE(Within([&] { return Logged(kLinkUp); })) << program_.Output("korvamon.out");
  korvamon->Signal(SIGTERM);
  EXPECT_EQ(korvamon->Ended(), 0);
  EXPECT_EQ(Calls("FT_Write(\"S\") = 0 1"), 1);
  EXPECT_EQ(Calls("FT_Write(\"R\")"), 0);
}

}  // namespace

#endif  // __linux__
