// korvamon's windows as start-up creates them, for a benchmark: a settings
// file of their own, message boxes answered by script and the main loop on
// virtual time. The program ends, and the native loop comes back, with it.
#pragma once

#include <memory>
#include <string>

#include "BenchFolder.h"
#include "monitor/Globfunc.h"
#include "monitor/main.h"
#include "platform/EventLoop.h"
#include "platform/MessageBoxes.h"
#include "platform/Services.h"
#include "platform/VirtualClock.h"
#include "program/Startup.h"
#include "vcl/Forms.h"

namespace korva_bench {

class HeadlessKorvamon {
 public:
  explicit HeadlessKorvamon(const std::string& folderPrefix)
      : folder_(folderPrefix), settings_(folder_.Ini()) {
    program::CreateProgramWindows();
  }
  ~HeadlessKorvamon() { program::EndProgram(); }
  HeadlessKorvamon(const HeadlessKorvamon&) = delete;
  HeadlessKorvamon& operator=(const HeadlessKorvamon&) = delete;

  monitor::TfrmKorvamon& Main() { return *monitor::frmKorvamon; }

 private:
  // The main loop on virtual time while it lives, the native one after.
  struct VirtualLoop {
    VirtualLoop()
        : native(platform::ReplaceMainLoop(
              std::make_unique<platform::EventLoop>(std::make_unique<platform::VirtualWaiter>()))) {
    }
    ~VirtualLoop() { platform::ReplaceMainLoop(std::move(native)); }
    std::unique_ptr<platform::EventLoop> native;
  };

  BenchFolder folder_;
  monitor::ScopedSettingsFilePath settings_;
  platform::ScriptedMessageBoxes boxes_;
  platform::ScopedService<platform::MessageBoxes> boxesGuard_{boxes_};
  VirtualLoop loop_;
  vcl::ScopedApplication application_;
};

}  // namespace korva_bench
