// What a received block costs on its way to the history: the main window
// parses it, evaluates its frame, and the reactions' lines are stamped,
// shown and appended to the log file. The module switches between mains and
// battery every three blocks, so two of every three blocks end in history
// lines.
#include <benchmark/benchmark.h>

#include <array>
#include <ostream>
#include <string>

#include "HeadlessKorvamon.h"
#include "monitor/History.h"

namespace {

std::string Block(const char* frame) {
  std::string block;
  for (int i = 0; i < 3; ++i)
    block += frame;
  return block;
}

void BM_ReceivedBlockToHistory(benchmark::State& state) {
  std::ostream* echo = monitor::SetHistoryEcho(nullptr);
  {
    korva_bench::HeadlessKorvamon korvamon("korva-block-");
    monitor::TfrmKorvamon& main = korvamon.Main();

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
  }
  monitor::SetHistoryEcho(echo);
}
BENCHMARK(BM_ReceivedBlockToHistory);

}  // namespace
