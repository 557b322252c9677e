// korvamon started in the test's process: a private settings file and lock
// folder, the guard and the seven windows made as the program entry makes
// them, on the virtual clock and the headless backend; ended with the test.
// Its serial ports are scripted ones: none exists until a test attaches it.
#pragma once

#include <cstdlib>
#include <string>
#include <vector>

#include "FakeSerialPort.h"
#include "IniTestFolder.h"
#include "monitor/Globfunc.h"
#include "monitor/History.h"
#include "monitor/Startup.h"
#include "monitor/main.h"
#include "vcl/VclTestEnvironment.h"

namespace korva_test {

class KorvamonTest : public VclTest {
 protected:
  KorvamonTest() {
#ifndef _WIN32
    setenv("KORVA_LOCK_DIR", folder_.path().c_str(), 1);
#endif
    headless().trayIcons.clear();
    headless().hotKeys.clear();
  }
  ~KorvamonTest() override {
    monitor::EndProgram();
#ifndef _WIN32
    unsetenv("KORVA_LOCK_DIR");
#endif
  }

  void Given(const std::string& ini) {
    IniTestFolder::Put(path_, ini);
  }
  std::string Ini() const {
    return IniTestFolder::Get(path_);
  }

  // The program's start up to its message loop; the guard must let it pass.
  void Start() {
    ASSERT_TRUE(monitor::PassSingleInstanceGuard());
    monitor::CreateProgramWindows();
    ASSERT_NE(monitor::frmKorvamon, nullptr);
  }
  // A later start of the program (its earlier run has ended).
  void Restart() {
    monitor::EndProgram();
    Start();
  }

  monitor::TfrmKorvamon& main() {
    return *monitor::frmKorvamon;
  }
  std::vector<std::string> History() const {
    return monitor::frmHist->MemoMsg->Lines();
  }
  std::vector<std::string> BoxTexts() const {
    std::vector<std::string> texts;
    for (const auto& box : boxes_.shown())
      texts.push_back(box.text);
    return texts;
  }

  IniTestFolder folder_;
  const std::string path_ = folder_.File("korvamon.INI");
  FakeSerialPorts ports_;

 private:
  monitor::ScopedSettingsFilePath settings_{path_};
  platform::ScopedService<platform::SerialPorts> portsGuard_{ports_};
};

}  // namespace korva_test
