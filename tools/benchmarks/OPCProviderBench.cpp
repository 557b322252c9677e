// What the OPC provider window's scan costs when the module's state has not
// changed since the last one: ten reads of the main window, ten unchanged
// values, no announcement.
#include <benchmark/benchmark.h>

#include <memory>

#include "BenchFolder.h"
#include "monitor/Globfunc.h"
#include "monitor/Startup.h"
#include "monitor/main.h"
#include "opcserver/opc_provider.h"
#include "platform/EventLoop.h"
#include "platform/MessageBoxes.h"
#include "platform/Services.h"
#include "platform/VirtualClock.h"
#include "vcl/Forms.h"

namespace {

void BM_CopyMonitorStateUnchanged(benchmark::State& state) {
  korva_bench::BenchFolder folder("korva-opc-");
  monitor::ScopedSettingsFilePath settings(folder.Ini());
  platform::ScriptedMessageBoxes boxes;
  platform::ScopedService<platform::MessageBoxes> boxesGuard(boxes);
  std::unique_ptr<platform::EventLoop> nativeLoop = platform::ReplaceMainLoop(
      std::make_unique<platform::EventLoop>(std::make_unique<platform::VirtualWaiter>()));
  {
    vcl::ScopedApplication application;
    monitor::CreateProgramWindows();
    monitor::TfrmKorvamon& main = *monitor::frmKorvamon;
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
    monitor::EndProgram();
  }
  platform::ReplaceMainLoop(std::move(nativeLoop));
}
BENCHMARK(BM_CopyMonitorStateUnchanged);

}  // namespace
