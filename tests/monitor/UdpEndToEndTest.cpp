// korvamon as a separate process with a receive and a send port, driven
// over real loopback sockets: on Linux against the module simulator, where a
// listener follows a switch from mains to battery and "USV_CLOSE" ends the
// program; under Wine, korvamon.exe confirms a listener and sends it its
// closing lines when "USV_CLOSE" ends it.
#if defined(__linux__) || defined(_WIN32)

#include <chrono>
#include <filesystem>
#include <sstream>
#include <thread>

#include "KorvamonTestProgram.h"
#include "TestUdp.h"
#include "monitor/lang.h"

#ifdef _WIN32
#include <windows.h>
#else
#include "RealTime.h"
#endif

namespace {

namespace fs = std::filesystem;
using korva_test::TestFolder;
using korva_test::TestUdpSocket;
using monitor::GetLangString;

// The lines a listener gets until `last` (a text) came, at most 20 s.
std::vector<std::string> LinesUntil(TestUdpSocket& listener, const std::string& last) {
  std::vector<std::string> texts;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (std::chrono::steady_clock::now() < deadline) {
    const std::optional<std::string> line = listener.Receive(200);
    if (!line)
      continue;
    texts.push_back(korva_test::StampedTexts({*line})[0]);
    if (texts.back() == last)
      break;
  }
  return texts;
}

// Asks korvamon on `rx` for the trace until it confirms (it may still be
// starting up); the confirmation's text, empty when none came within 20 s.
std::string RegisterAt(TestUdpSocket& listener, int rx) {
  for (int attempt = 0; attempt < 100; ++attempt) {
    listener.Send("USV_TRACE_START", rx);
    if (const std::optional<std::string> reply = listener.Receive(200)) {
      const size_t tab = reply->find('\t');
      return tab == std::string::npos ? "unexpected: " + *reply : reply->substr(tab + 1);
    }
  }
  return {};
}

class UdpEndToEndTest : public korva_test::VirtualTimeTest {
 protected:
  UdpEndToEndTest() {
    english_.Load(2);
    // The program as installed, in a folder of its own with its settings file.
    const fs::path built = ProgramFolder();
    fs::copy_file(built / kProgram, folder_.path() / kProgram);
    for (const char* language : {"DEU", "ENG", "FRA", "ITA"})
      fs::copy(built / language, folder_.path() / language, fs::copy_options::recursive);
  }

  static fs::path ProgramFolder() {
#ifdef _WIN32
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    return fs::path(path).parent_path();
#else
    return korva_test::BuiltProgram("korvamon").parent_path();
#endif
  }
  void Given(const std::string& ini) {
    TestFolder::Put(folder_.File("korvamon.INI"), ini);
  }
  std::vector<std::string> LogTexts() const {
    return korva_test::LogFileTexts(log_);
  }
  std::vector<std::string> ClosingTexts() const {
    return {"UDP-RX-Message from 127.0.0.1: USV_CLOSE", GetLangString(110), std::string(76, '*'),
            ""};
  }

#ifdef _WIN32
  static constexpr const char* kProgram = "korvamon.exe";
#else
  static constexpr const char* kProgram = "korvamon";
#endif
  monitor::LanguageDll english_;
  TestFolder folder_;
  const std::string log_ = folder_.File("history.log");
  TestUdpSocket listener_;
  const int rx_ = TestUdpSocket::FreePort();
};

#ifdef __linux__

TEST_F(UdpEndToEndTest, AListenerFollowsTheModuleToBatteryAndTheCloseCommandEndsKorvamon) {
  korva_test::ChildProcess simulator(korva_test::BuiltProgram("korvasim"));
  ASSERT_TRUE(simulator.Started());
  const std::string terminal = simulator.ReadLine();
  if (terminal.empty())
    GTEST_SKIP() << "no pseudo-terminal here";
  Given("[CHECK]\r\nLanguage=E\r\nHistoryPath=" + log_ +
        "\r\nDC_LOW_ShutDown=0\r\n[COM]\r\nCOMPORT=1\r\n");
  setenv("KORVA_COM1", terminal.c_str(), 1);
  setenv("KORVA_LOCK_DIR", folder_.path().c_str(), 1);
  korva_test::ChildOptions options;
  options.arguments = {std::to_string(rx_), std::to_string(listener_.port())};
  options.output = folder_.File("korvamon.out");
  korva_test::ChildProcess korvamon(folder_.path() / kProgram, options);
  unsetenv("KORVA_COM1");
  unsetenv("KORVA_LOCK_DIR");
  ASSERT_TRUE(korvamon.Started());

  ASSERT_EQ(RegisterAt(listener_, rx_), GetLangString(390));
  // The module at rest has been seen once its first frame's last line is logged.
  ASSERT_TRUE(korva_test::ChildProcess::Within(std::chrono::seconds(20), [&] {
    const std::vector<std::string> texts = LogTexts();
    return std::count(texts.begin(), texts.end(), GetLangString(32)) > 0;
  }));
  while (listener_.Receive(100)) {
  }

  ASSERT_TRUE(simulator.Send("frame *BAT*\\r\\nBUFRD\\r\\nDC_LO\\r\\n"));
  const std::string onBattery = "*BAT* / " + GetLangString(8);
  EXPECT_EQ(LinesUntil(listener_, onBattery),
            (std::vector<std::string>{"DC_LO / " + GetLangString(7), onBattery}));

  // Its closing lines: the command's, the serial link's, then the last three.
  ASSERT_TRUE(listener_.Send("USV_CLOSE", rx_));
  std::vector<std::string> closing = ClosingTexts();
  closing.insert(closing.begin() + 1, GetLangString(56) + "COM1" + GetLangString(61));
  EXPECT_EQ(LinesUntil(listener_, ""), closing);
  EXPECT_EQ(korvamon.Ended(), 0) << TestFolder::Get(folder_.File("korvamon.out"));
  const std::vector<std::string> texts = LogTexts();
  ASSERT_GE(texts.size(), 3u);
  EXPECT_EQ(texts[texts.size() - 3], GetLangString(110));
  EXPECT_EQ(texts[texts.size() - 2], std::string(76, '*'));
  // The empty line is logged as its stamp alone.
  EXPECT_TRUE(texts.back().starts_with("unstamped: [")) << texts.back();
}

#endif  // __linux__

#ifdef _WIN32

TEST_F(UdpEndToEndTest, KorvamonExeConfirmsAListenerAndSendsItsClosingLinesWhenClosed) {
  Given("[CHECK]\r\nLanguage=E\r\nHistoryPath=" + log_ + "\r\n");
  std::string command = "\"";
  command.append((folder_.path() / kProgram).string()).append("\" ");
  command.append(std::to_string(rx_)).append(" ").append(std::to_string(listener_.port()));
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  const std::string folder = folder_.path().string();
  ASSERT_TRUE(CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                             folder.c_str(), &startup, &process));
  CloseHandle(process.hThread);

  EXPECT_EQ(RegisterAt(listener_, rx_), GetLangString(390));
  ASSERT_TRUE(listener_.Send("USV_CLOSE", rx_));
  EXPECT_EQ(LinesUntil(listener_, ""), ClosingTexts());

  DWORD code = STILL_ACTIVE;
  if (WaitForSingleObject(process.hProcess, 30000) == WAIT_OBJECT_0)
    GetExitCodeProcess(process.hProcess, &code);
  else
    TerminateProcess(process.hProcess, 1);  // the one this test started
  CloseHandle(process.hProcess);
  EXPECT_EQ(code, 0u);
  const std::vector<std::string> texts = LogTexts();
  ASSERT_GE(texts.size(), 4u);
  EXPECT_EQ(texts[texts.size() - 3], GetLangString(110));
}

#endif  // _WIN32

}  // namespace

#endif
