// korvamon as a separate process on the module simulator's pseudo-terminal,
// through a lasting battery operation to its shutdown: the POSIX stand-in
// says what it was asked on standard error and ends korvamon, never the
// machine. Linux only.
#ifdef __linux__

#include <stdlib.h>

#include <sstream>

#include "KorvamonTestProgram.h"
#include "RealTime.h"

namespace {

using korva_test::ChildProcess;
using korva_test::TestFolder;

class ShutdownEndToEndTest : public testing::Test {
 protected:
  void SetUp() override {
    if (!std::filesystem::exists(korva_test::BuiltProgram("korvasim")))
      GTEST_SKIP() << "korvasim is not built";
    korva_test::ChildOptions options;
    options.arguments = {"--record", received_};
    simulator_.emplace(korva_test::BuiltProgram("korvasim"), options);
    ASSERT_TRUE(simulator_->Started());
    const std::string terminal = simulator_->ReadLine();
    if (terminal.empty())
      GTEST_SKIP() << "no pseudo-terminal here";
    setenv("KORVA_COM1", terminal.c_str(), 1);
    program_.Given("[CHECK]\r\nLanguage=E\r\nHistoryPath=" + log_ +
                   "\r\n[COM]\r\nCOMPORT=1\r\n"
                   "[START]\r\nShutDownMinutes=0\r\nShutDownSeconds=1\r\n");
  }
  ~ShutdownEndToEndTest() override { unsetenv("KORVA_COM1"); }

  std::vector<std::string> LogTexts() const { return korva_test::LogFileTexts(log_); }
  // The log's texts from the first with `text` on.
  std::vector<std::string> LogFrom(const std::string& text) const {
    const std::vector<std::string> texts = LogTexts();
    return std::vector<std::string>(std::find(texts.begin(), texts.end(), text), texts.end());
  }
  std::string Received() const { return TestFolder::Get(received_); }
  // The simulator sends the battery frame of a module of this rating with
  // this reply from now on.
  bool SendBattery(const std::string& rating, const std::string& reply) {
    return simulator_->Send(std::string("frame *BAT*\\r\\nBUFRD\\r\\nDC_LO\\r\\nBA<85\\r\\n")
                                .append(rating + "\\r\\n")
                                .append(reply + "\\r\\n"));
  }
  // Waits for korvamon's end, which asked for the system's shutdown, and
  // gives its output.
  std::string EndedByShutdown(ChildProcess& korvamon) const {
    EXPECT_EQ(korvamon.Ended(), 0);
    const std::string output = program_.Output("korvamon.out");
    EXPECT_NE(output.find("korvamon: system shutdown requested (flags 5)\n"), std::string::npos)
        << output;
    return output;
  }

  korva_test::ProgramCopy program_;
  const std::string log_ = program_.folder().File("history.log");
  const std::string received_ = program_.folder().File("received");
  std::optional<ChildProcess> simulator_;
};

// English texts 56 and 61, 65, 68, 110, 13 and 140.
constexpr const char* kClosed = "Connection COM1 closed";
constexpr const char* kSignal = "Shutdown signal to the UPS module";
constexpr const char* kPriority = "Process priority class: 128";
constexpr const char* kEnded = "KORVA DI-ZOD monitor ended";
constexpr const char* kShuttingDown = "Windows is being shut down";
constexpr const char* kLost = "Connection to the UPS module lost";
constexpr const char* kRefused = "ShutdownPulse: COM1 - module not signalled: ";

TEST_F(ShutdownEndToEndTest, AnAcknowledgingModuleIsToldUntilItAnswersThenKorvamonEnds) {
  ASSERT_TRUE(SendBattery("TPS40", "-----"));
  auto korvamon = program_.Run("korvamon.out");
  ASSERT_TRUE(korvamon->Started());
  ASSERT_TRUE(ChildProcess::Within(std::chrono::seconds(15), [&] {
    return Received().find("*R37F*R37F") != std::string::npos;
  })) << program_.Output("korvamon.out");
  EXPECT_TRUE(korvamon->Running());

  ASSERT_TRUE(SendBattery("TPS40", "SDREC"));
  const std::string output = EndedByShutdown(*korvamon);
  EXPECT_EQ(Received().find_first_not_of("*R37F"), std::string::npos) << Received();
  const std::vector<std::string> end = LogFrom(kClosed);
  ASSERT_GE(end.size(), 3u);
  EXPECT_EQ(std::vector<std::string>(end.begin(), end.begin() + 2),
            (std::vector<std::string>{kClosed, kShuttingDown}));
  EXPECT_NE(std::find(end.begin(), end.end(), kEnded), end.end());
}

TEST_F(ShutdownEndToEndTest,
       AModuleThatCannotBeSignalledOnThisLineIsReportedAndTheShutdownFollows) {
  ASSERT_TRUE(simulator_->Send("frame *BAT*\\r\\nBUFRD\\r\\nDC_LO\\r\\n"));
  auto korvamon = program_.Run("korvamon.out");
  ASSERT_TRUE(korvamon->Started());
  const std::string output = EndedByShutdown(*korvamon);
  // The pseudo-terminal has no RTS line: the first change is refused, and
  // the port stays open until the shutdown closes it.
  const std::vector<std::string> end = LogFrom(kPriority);
  ASSERT_GE(end.size(), 6u) << output;
  EXPECT_TRUE(end[1].starts_with(kSignal)) << end[1];
  EXPECT_TRUE(end[2].starts_with(kRefused)) << end[2];
  EXPECT_EQ(std::vector<std::string>(end.begin() + 3, end.begin() + 5),
            (std::vector<std::string>{kClosed, kShuttingDown}));
  EXPECT_NE(std::find(end.begin(), end.end(), kEnded), end.end());
}

TEST_F(ShutdownEndToEndTest, AModuleThatCannotBeSignalledIsStillHeardUntilItAcknowledges) {
  ASSERT_TRUE(SendBattery("RTS40", "-----"));
  auto korvamon = program_.Run("korvamon.out");
  ASSERT_TRUE(korvamon->Started());
  // Trains every two seconds, each refused by the line, none closing the port.
  const auto refusals = [&] {
    const std::vector<std::string> texts = LogTexts();
    return std::count_if(texts.begin(), texts.end(),
                         [](const std::string& text) { return text.starts_with(kRefused); });
  };
  ASSERT_TRUE(ChildProcess::Within(std::chrono::seconds(15), [&] { return refusals() >= 2; }))
      << program_.Output("korvamon.out");
  EXPECT_TRUE(korvamon->Running());

  ASSERT_TRUE(SendBattery("RTS40", "SDREC"));
  const std::string output = EndedByShutdown(*korvamon);
  const std::vector<std::string> texts = LogTexts();
  EXPECT_EQ(std::find(texts.begin(), texts.end(), kLost), texts.end());
  const std::vector<std::string> end = LogFrom(kClosed);
  ASSERT_GE(end.size(), 2u) << output;
  EXPECT_EQ(end[1], kShuttingDown);
}

}  // namespace

#endif  // __linux__
