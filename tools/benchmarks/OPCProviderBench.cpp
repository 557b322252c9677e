// What the OPC provider window's scan costs when the module's state has not
// changed since the last one: ten reads of the main window, ten unchanged
// values, no announcement.
#include <benchmark/benchmark.h>

#include "HeadlessKorvamon.h"
#include "opcserver/opc_provider.h"

namespace {

void BM_CopyMonitorStateUnchanged(benchmark::State& state) {
  korva_bench::HeadlessKorvamon korvamon("korva-opc-");
  monitor::TfrmKorvamon& main = korvamon.Main();
  main.StatusWord = 0x0422;
  main.ConnectionWord = 0x0888;
  main.DeviceName = "DI-ZOD 24V";
  main.LastMessage = "Battery mode";
  main.ReceivedText = "*BAT*";
  opcserver::TOPCProvider& window = *opcserver::OPCProvider;
  window.CopyMonitorState();
  for (auto _ : state)
    window.CopyMonitorState();
  benchmark::DoNotOptimize(window.PsStatus->Value());
}
BENCHMARK(BM_CopyMonitorStateUnchanged);

}  // namespace
