// korvamon, in this process on the system's clock, watching the module
// simulator through COM1 on its pseudo-terminal: the module (21-character
// frames, no charge word) starts on mains, goes on battery and comes back.
// The log file must tell the story line by line, and the window must hide
// when all is well at the start phase's end and come forward when the
// battery takes over and when it lets go. Linux only.
#ifdef __linux__

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "KorvamonTestProgram.h"
#include "KorvasimProcess.h"
#include "monitor/lang.h"
#include "platform/EventLoop.h"
#include "platform/SerialPort.h"

namespace {

using korva_test::KorvasimProcess;
using monitor::GetLangString;
namespace pf = platform;

constexpr uint32_t kWaitMs = 8000;

const char* const kMains = "frame *****\\r\\nBUFRD\\r\\nDC_OK\\r\\n";
const char* const kBattery = "frame *BAT*\\r\\nBUFRD\\r\\nDC_LO\\r\\n";

class MonitoringEndToEndTest : public korva_test::KorvamonTest {
 protected:
  MonitoringEndToEndTest() {
    virtualLoop_ = pf::ReplaceMainLoop(std::make_unique<pf::EventLoop>(pf::NewNativeWaiter()));
  }
  ~MonitoringEndToEndTest() override {
    monitor::EndProgram();
    unsetenv("KORVA_COM1");
    pf::ReplaceMainLoop(std::move(virtualLoop_));
  }

  // Handles messages and timers until `done` holds, at most kWaitMs.
  bool RunUntil(const std::function<bool()>& done) {
    bool expired = false;
    const auto timer = loop().SetTimer(kWaitMs, [&] { expired = true; });
    loop().RunWhile([&] { return !done() && !expired; });
    loop().KillTimer(timer);
    return done();
  }

  // The log file's lines; each must carry the history stamp and a tab.
  std::vector<std::string> LogTexts() const {
    std::ifstream file(log_, std::ios::binary);
    std::stringstream content;
    content << file.rdbuf();
    static const std::regex stamped(R"(\[\d\d\.\d\d\.\d{4} \d\d:\d\d:\d\d\]\t(.*))");
    std::vector<std::string> texts;
    std::string line;
    while (std::getline(content, line)) {
      if (!line.empty() && line.back() == '\r')
        line.pop_back();
      std::smatch match;
      texts.push_back(std::regex_match(line, match, stamped) ? match[1].str()
                                                             : "unstamped: " + line);
    }
    return texts;
  }
  bool Logged(const std::string& text, size_t times = 1) const {
    size_t count = 0;
    for (const std::string& logged : LogTexts())
      count += logged == text ? 1 : 0;
    return count >= times;
  }

  const std::string log_ = folder_.File("history.log");

 private:
  std::unique_ptr<pf::EventLoop> virtualLoop_;
  pf::ScopedService<pf::SerialPorts> nativePorts_{pf::NativeSerialPorts()};
};

TEST_F(MonitoringEndToEndTest, TheLogTellsOfMainsBatteryAndMainsAgainAndTheWindowFollows) {
  if (!std::filesystem::exists(KorvasimProcess::Program()))
    GTEST_SKIP() << "korvasim is not built";
  KorvasimProcess simulator;
  ASSERT_TRUE(simulator.Started());
  const std::string terminal = simulator.TerminalPath();
  if (terminal.empty())
    GTEST_SKIP() << "no pseudo-terminal here";
  setenv("KORVA_COM1", terminal.c_str(), 1);

  Given("[CHECK]\r\nLanguage=E\r\nHistoryPath=" + log_ +
        "\r\nDC_LOW_ShutDown=0\r\n[COM]\r\nCOMPORT=1\r\n"
        "[ACTION]\r\nOpenWindow_Batt=1\r\nOpenMin_Batt=0\r\nOpenSec_Batt=0\r\n");
  Start();
  ASSERT_TRUE(main().Visible());
  const std::string dcOk = "DC_OK / " + GetLangString(6);
  const std::string batteryEnded = GetLangString(9);

  // The first frame reports every condition once. Without a charge word the
  // charge counts as low, so the window stays; the start phase's fifth tick
  // finds the link and the supply well and hides it.
  ASSERT_TRUE(RunUntil([&] { return Logged(GetLangString(32)); }));
  EXPECT_TRUE(main().Visible());
  EXPECT_EQ(main().StatusWord, 0x8828);
  ASSERT_TRUE(RunUntil([&] { return !main().StartPhase; }));
  EXPECT_FALSE(main().Visible());

  ASSERT_TRUE(simulator.Send(kBattery));
  ASSERT_TRUE(RunUntil([&] { return Logged("*BAT* / " + GetLangString(8)) && main().Visible(); }))
      << "visible: " << main().Visible();
  EXPECT_EQ(main().StatusWord, 0x8488);

  main().Hide();
  ASSERT_TRUE(simulator.Send(kMains));
  ASSERT_TRUE(RunUntil([&] { return Logged(batteryEnded, 2) && main().Visible(); }))
      << "visible: " << main().Visible();
  EXPECT_EQ(main().StatusWord, 0x8828);

  const std::vector<std::string> expected = {monitor::HistoryStartText(1),
                                             GetLangString(14),
                                             dcOk,
                                             batteryEnded,
                                             GetLangString(10),
                                             GetLangString(32),
                                             "DC_LO / " + GetLangString(7),
                                             "*BAT* / " + GetLangString(8),
                                             dcOk,
                                             batteryEnded};
  EXPECT_EQ(LogTexts(), expected);
}

}  // namespace

#endif  // __linux__
