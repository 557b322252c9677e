// korvamon, in this process on the system's clock, against the module
// simulator: COM1 is mapped to the simulator's pseudo-terminal, the frames
// come in through the port's event thread, are parsed and shown in the
// received-text line; a switch to 28-character frames shows the charge items.
// Linux only.
#ifdef __linux__

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <string>

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

class KorvamonOnSimulatorTest : public korva_test::KorvamonTest {
 protected:
  KorvamonOnSimulatorTest() {
    virtualLoop_ = pf::ReplaceMainLoop(std::make_unique<pf::EventLoop>(pf::NewNativeWaiter()));
  }
  ~KorvamonOnSimulatorTest() override {
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

 private:
  std::unique_ptr<pf::EventLoop> virtualLoop_;
  pf::ScopedService<pf::SerialPorts> nativePorts_{pf::NativeSerialPorts()};
};

TEST_F(KorvamonOnSimulatorTest, ReceivesParsesAndShowsTheModulesFrames) {
  if (!std::filesystem::exists(KorvasimProcess::Program()))
    GTEST_SKIP() << "korvasim is not built";
  KorvasimProcess simulator;
  ASSERT_TRUE(simulator.Started());
  const std::string terminal = simulator.TerminalPath();
  if (terminal.empty())
    GTEST_SKIP() << "no pseudo-terminal here";
  setenv("KORVA_COM1", terminal.c_str(), 1);

  Given("[CHECK]\r\nLanguage=E\r\n[COM]\r\nCOMPORT=1\r\n");
  Start();
  EXPECT_EQ(main().StatBar->Panels()[0].Text(), GetLangString(56) + "COM1" + GetLangString(57));
  main().btnUpDown->Click();

  // The module at rest, in 21-character frames.
  ASSERT_TRUE(RunUntil([&] { return main().edRead->Text() == "*****--BUFRD--DC_OK--"; }))
      << main().edRead->Text();
  EXPECT_TRUE(main().LinkUp);
  EXPECT_EQ(main().ConnectionWord & 0x00F0, 0x0020);
  EXPECT_FALSE(main().Has28CharFrames);
  EXPECT_FALSE(main().labFull->Visible());
  EXPECT_EQ(main().lblSeriell->Caption(), GetLangString(14));

  ASSERT_TRUE(simulator.Send("frame *BAT*\\r\\nBUFRD\\r\\nDC_LO\\r\\nBA<85\\r\\n"));
  ASSERT_TRUE(RunUntil([&] { return main().edRead->Text() == "*BAT*--BUFRD--DC_LO--BA<85--"; }))
      << main().edRead->Text();
  EXPECT_TRUE(main().Has28CharFrames);
  EXPECT_TRUE(main().labFull->Visible());
  EXPECT_TRUE(main().labVoll->Visible());

  main().CloseSerialLink();
  EXPECT_EQ(main().StatBar->Panels()[0].Text(), GetLangString(56) + "COM1" + GetLangString(61));
}

}  // namespace

#endif  // __linux__
