// What the toolkit's hot routines cost: splitting and joining a delimited
// line of about 1 MB with 100,000 values (some quoted), the 64-bit tick on
// one thread, a local time, and comparing two equal arrays of 10,000
// doubles.
#include <benchmark/benchmark.h>

#include <string>

#include "toolkit/PsClasses.h"
#include "toolkit/PsUtils.h"

namespace {

// 100,000 values of about ten bytes; every tenth holds the delimiter.
toolkit::TPsStringList& LongList() {
  static toolkit::TPsStringList list;
  if (list.Count() == 0) {
    list.SetDelimiter(';');
    for (int i = 0; i < 100000; ++i)
      list.Add(i % 10 == 0 ? "val;" + std::to_string(i) : "value" + std::to_string(i));
  }
  return list;
}

void BM_JoinDelimited(benchmark::State& state) {
  const toolkit::TPsStringList& list = LongList();
  for (auto _ : state) {
    std::string line = list.GetDelimitedText();
    benchmark::DoNotOptimize(line);
  }
  state.SetBytesProcessed(state.iterations() *
                          static_cast<int64_t>(LongList().GetDelimitedText().size()));
}
BENCHMARK(BM_JoinDelimited)->Unit(benchmark::kMillisecond);

void BM_SplitDelimited(benchmark::State& state) {
  const std::string line = LongList().GetDelimitedText();
  toolkit::TPsStringList list;
  list.SetDelimiter(';');
  for (auto _ : state) {
    list.SetDelimitedText(line);
    benchmark::DoNotOptimize(list.Count());
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(line.size()));
}
BENCHMARK(BM_SplitDelimited)->Unit(benchmark::kMillisecond);

void BM_TickCount64(benchmark::State& state) {
  for (auto _ : state)
    benchmark::DoNotOptimize(toolkit::PsGetTickCount64());
}
BENCHMARK(BM_TickCount64);

// The local time of a moment with the zone asked for at each call.
void BM_UTCToLocalTime(benchmark::State& state) {
  double utc = 45383.5;
  for (auto _ : state)
    benchmark::DoNotOptimize(toolkit::UTCToLocalTime(utc += 0.001));
}
BENCHMARK(BM_UTCToLocalTime);

// Two arrays with buffers of their own.
toolkit::PsVariant Doubles() {
  toolkit::PsVariant array = toolkit::PsVariant::Array({{0, 9999}}, toolkit::varDouble);
  for (int i = 0; i < 10000; ++i)
    array.PutElement({i}, i * 0.5);
  return array;
}

void BM_VariantsEqualDoubleArrays(benchmark::State& state) {
  const toolkit::PsVariant a = Doubles();
  const toolkit::PsVariant b = Doubles();
  for (auto _ : state)
    benchmark::DoNotOptimize(toolkit::VariantsEqual(a, b, true));
}
BENCHMARK(BM_VariantsEqualDoubleArrays)->Unit(benchmark::kMicrosecond);

}  // namespace
