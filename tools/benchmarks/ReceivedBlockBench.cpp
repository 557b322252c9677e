// What a received block costs on its way to the history: the main window
// parses it, evaluates its frame, and the reactions' lines are stamped,
// shown and appended to the log file. The module switches between mains and
// battery every three blocks, so two of every three blocks end in history
// lines.
#include <benchmark/benchmark.h>

#include <array>
#include <memory>
#include <string>

#include "BenchFolder.h"
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

std::string Block(const char* frame) {
  std::string block;
  for (int i = 0; i < 3; ++i)
    block += frame;
  return block;
}

void BM_ReceivedBlockToHistory(benchmark::State& state) {
  korva_bench::BenchFolder folder("korva-block-");
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
