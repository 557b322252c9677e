// What finding the frame in one received block of 84 characters costs, for
// each frame length, a block cut in the middle of a frame (the second try),
// and a block without any frame.
#include <benchmark/benchmark.h>

#include <string>

#include "monitor/FrameParser.h"

namespace {

std::string Block(const std::string& frame, size_t skip) {
  std::string block;
  while (block.size() < 84 + skip)
    block += frame;
  return block.substr(skip, 84);
}

const std::string kBlocks[] = {
    Block("*****\r\nALARM\r\nDC_OK\r\n", 0),
    Block("*BAT*\r\nBUFRD\r\nDC_LO\r\nBA<85\r\n", 0),
    Block("*****\r\nALARM\r\nDC_OK\r\nBA>85\r\nRTS15\r\nSDREC\r\n", 0),
    Block("*BAT*\r\nBUFRD\r\nDC_LO\r\nBA<85\r\n", 2),
    std::string(84, 'x'),
};

void BM_FindFrame(benchmark::State& state) {
  const std::string& block = kBlocks[state.range(0)];
  for (auto _ : state) {
    monitor::FoundFrame found = monitor::FindFrame(block);
    benchmark::DoNotOptimize(found);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * block.size()));
}
// 0: 21-character frames, 1: 28, 2: 42, 3: a broken start, 4: no frame.
BENCHMARK(BM_FindFrame)->DenseRange(0, 4);

}  // namespace
