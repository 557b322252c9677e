// What a received block costs on its way to the history: the main window
// parses it, evaluates its frame, and the reactions' lines are stamped,
// shown and appended to the log file. The module switches between mains and
// battery every three blocks, so two of every three blocks end in history
// lines.
#include <benchmark/benchmark.h>

#include <array>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <string>

#include "monitor/Globfunc.h"
#include "monitor/History.h"
#include "monitor/Startup.h"
#include "monitor/main.h"
#include "platform/EventLoop.h"
#include "platform/MessageBoxes.h"
#include "platform/Services.h"
#include "platform/VirtualClock.h"
#include "vcl/Forms.h"

namespace {

namespace fs = std::filesystem;

std::string Block(const char* frame) {
  std::string block;
  for (int i = 0; i < 3; ++i)
    block += frame;
  return block;
}

class BenchFolder {
 public:
  BenchFolder() {
    path_ = fs::temp_directory_path() / ("korva-block-" + std::to_string(std::random_device{}()));
    fs::create_directories(path_);
    std::ofstream(path_ / "korvamon.INI")
        << "[CHECK]\r\nLanguage=E\r\nHistoryPath=" << (path_ / "history.log").string()
        << "\r\nHistory8k=1\r\nDC_LOW_ShutDown=0\r\n[COM]\r\nCOMPORT=0\r\n";
  }
  ~BenchFolder() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
  }
  std::string Ini() const { return (path_ / "korvamon.INI").string(); }

 private:
  fs::path path_;
};

void BM_ReceivedBlockToHistory(benchmark::State& state) {
  BenchFolder folder;
  monitor::ScopedSettingsFilePath settings(folder.Ini());
  std::ostream* echo = monitor::SetHistoryEcho(nullptr);
  platform::ScriptedMessageBoxes boxes;
  platform::ScopedService<platform::MessageBoxes> boxesGuard(boxes);
  std::unique_ptr<platform::EventLoop> nativeLoop = platform::ReplaceMainLoop(
      std::make_unique<platform::EventLoop>(std::make_unique<platform::VirtualWaiter>()));
  {
    vcl::ScopedApplication application;
    monitor::CreateProgramWindows();
    monitor::TfrmKorvamon& main = *monitor::frmKorvamon;

    // 28-character frames: three on battery, three on mains, and again.
    const std::string battery = Block("*BAT*\r\nBUFRD\r\nDC_LO\r\nBA>85\r\n");
    const std::string mains = Block("*****\r\nBUFRD\r\nDC_OK\r\nBA>85\r\n");
    const std::array<const std::string*, 6> cycle = {&battery, &battery, &battery,
                                                     &mains,   &mains,   &mains};
    size_t next = 0;
    int64_t blocks = 0;
    for (auto _ : state) {
      const std::string& block = *cycle[next];
      next = (next + 1) % cycle.size();
      if (main.ParseFrame(block))
        main.EvaluateFrameSerial(main.FrameText);
      ++blocks;
    }
    state.SetItemsProcessed(blocks);
    monitor::EndProgram();
  }
  platform::ReplaceMainLoop(std::move(nativeLoop));
  monitor::SetHistoryEcho(echo);
}
BENCHMARK(BM_ReceivedBlockToHistory);

}  // namespace
