// korvamon started in the test's process: a private settings file and lock
// folder, the guard and the seven windows made as the program entry makes
// them, on the virtual clock and the headless backend; ended with the test.
// Its serial ports are scripted ones: none exists until a test attaches it.
// The system's power controls are recorded, never used; the shutdown pulses
// run on a stepping clock. The history's echo on standard output is off.
#pragma once

#include <algorithm>
#include <cstdlib>
#include <initializer_list>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "FakeSerialPort.h"
#include "StepPulseClock.h"
#include "TestFolder.h"
#include "TestLanguage.h"
#include "monitor/Globfunc.h"
#include "monitor/History.h"
#include "monitor/main.h"
#include "platform/Power.h"
#include "program/Startup.h"
#include "vcl/VclTestEnvironment.h"

namespace korva_test {

// `text` `count` times over: frames as a block of them arrives.
inline std::string Repeat(const std::string& text, int count) {
  std::string result;
  for (int i = 0; i < count; ++i)
    result += text;
  return result;
}

// The texts of history lines, each checked for its stamp and tab.
inline std::vector<std::string> StampedTexts(const std::vector<std::string>& lines) {
  static const std::regex stamped(R"(\[\d\d\.\d\d\.\d{4} \d\d:\d\d:\d\d\]\t(.*))");
  std::vector<std::string> texts;
  for (const std::string& line : lines) {
    std::smatch match;
    texts.push_back(std::regex_match(line, match, stamped) ? match[1].str() : "unstamped: " + line);
  }
  return texts;
}

// The texts of a log file's history lines, each checked for its stamp and tab.
inline std::vector<std::string> LogFileTexts(const std::string& path) {
  std::istringstream content(TestFolder::Get(path));
  std::vector<std::string> lines;
  for (std::string line; std::getline(content, line);)
    lines.push_back(line.ends_with('\r') ? line.substr(0, line.size() - 1) : line);
  return StampedTexts(lines);
}

class KorvamonTest : public VclTest {
 protected:
  KorvamonTest() {
#ifndef _WIN32
    setenv("KORVA_LOCK_DIR", folder_.path().c_str(), 1);
    // No D2XX library of the machine's: a test that wants one installs the fake.
    setenv("KORVA_FTD2XX", folder_.File("no-ftd2xx.so").c_str(), 1);
#endif
    headless().trayIcons.clear();
    headless().hotKeys.clear();
  }
  ~KorvamonTest() override {
    program::EndProgram();
    monitor::SetHistoryEcho(previousEcho_);
#ifndef _WIN32
    unsetenv("KORVA_LOCK_DIR");
    unsetenv("KORVA_FTD2XX");
#endif
  }

  void Given(const std::string& ini) {
    TestFolder::Put(path_, ini);
  }
  std::string Ini() const {
    return TestFolder::Get(path_);
  }

  // The program's start up to its message loop; the guard must let it pass.
  void Start() {
    ASSERT_TRUE(monitor::PassSingleInstanceGuard());
    program::StartOPCServer();
    program::CreateProgramWindows();
    ASSERT_NE(monitor::frmKorvamon, nullptr);
  }
  // A later start of the program (its earlier run has ended).
  void Restart() {
    program::EndProgram();
    Start();
  }
  // A (later) start in English on COM `port` with these further settings
  // lines; a [CHECK] section among them gets the language. Times count from here.
  void StartWith(const std::string& settings = "", const std::string& port = "0") {
    std::string ini = "[COM]\r\nCOMPORT=" + port + "\r\n" + settings;
    const size_t check = ini.find("[CHECK]\r\n");
    if (check == std::string::npos)
      ini += "[CHECK]\r\nLanguage=E\r\n";
    else
      ini.insert(check + 9, "Language=E\r\n");  // a second [CHECK] would not be read
    Given(ini);
    Restart();
    start_ = loop().NowMs();
  }
  // The same on COM1, a scripted port, with its event thread waiting.
  void StartOnCom1(const std::string& settings = "") {
    line_ = ports_.Attach("COM1");
    StartWith(settings, "1");
    ASSERT_TRUE(line_->WaitForWaits(waits_ = 1));
  }
  // Bytes (and line errors) arrive on COM1; the event thread takes them,
  // posts and comes back to its wait; then its posts are handled.
  void Arrive(const std::string& bytes, uint32_t errors = 0) {
    line_->Receive(bytes, errors);
    ASSERT_TRUE(line_->WaitForWaits(++waits_));
    loop().ProcessMessages();
  }
  // Lets the virtual clock run to `ms` after the start.
  void At(uint64_t ms) {
    const uint64_t now = loop().NowMs();
    ASSERT_GE(start_ + ms, now);
    Advance(static_cast<uint32_t>(start_ + ms - now));
  }
  // The block arrives at each of these times after the start.
  void ArriveAt(std::initializer_list<uint64_t> times, const std::string& block) {
    for (uint64_t at : times) {
      At(at);
      Arrive(block);
    }
  }

  monitor::TfrmKorvamon& main() {
    return *monitor::frmKorvamon;
  }
  std::vector<std::string> History() const {
    return monitor::frmHist->MemoMsg->Lines();
  }
  std::vector<std::string> HistoryTexts() const {
    return StampedTexts(History());
  }
  long HistoryCount(const std::string& text) const {
    const std::vector<std::string> texts = HistoryTexts();
    return std::count(texts.begin(), texts.end(), text);
  }
  std::vector<std::string> BoxTexts() const {
    std::vector<std::string> texts;
    for (const auto& box : boxes_.shown())
      texts.push_back(box.text);
    return texts;
  }

  TestFolder folder_;
  const std::string path_ = folder_.File("korvamon.INI");
  FakeSerialPorts ports_;
  platform::RecordingPower power_;
  StepPulseClock pulseClock_;
  std::shared_ptr<FakeSerialLine> line_;
  int waits_ = 0;
  uint64_t start_ = 0;

 private:
  monitor::ScopedSettingsFilePath settings_{path_};
  platform::ScopedService<platform::SerialPorts> portsGuard_{ports_};
  platform::ScopedService<platform::Power> powerGuard_{power_};
  platform::ScopedService<platform::PulseClock> pulseClockGuard_{pulseClock_};
  std::ostream* previousEcho_ = monitor::SetHistoryEcho(nullptr);
};

// The same with the test language: text n reads "Tn".
class KorvamonTextTest : public KorvamonTest {
 protected:
  ~KorvamonTextTest() override { program::EndProgram(); }  // frees the library first

  TestLanguage language_;
};

}  // namespace korva_test
