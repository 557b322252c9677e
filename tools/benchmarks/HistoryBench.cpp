// What one history line costs on its way to the memo and the log file, with
// a small log file and with a large one that is never trimmed: appending
// must not cost more as the log grows.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include "monitor/Globfunc.h"
#include "monitor/History.h"
#include "vcl/Forms.h"

namespace {

namespace fs = std::filesystem;

// A private folder with a settings file that names the log and keeps it untrimmed.
class BenchFolder {
 public:
  BenchFolder() {
    path_ = fs::temp_directory_path() / ("korva-bench-" + std::to_string(std::random_device{}()));
    fs::create_directories(path_);
    std::ofstream(path_ / "korvamon.INI")
        << "[CHECK]\r\nHistoryPath=" << Log() << "\r\nHistory8k=0\r\n";
  }
  ~BenchFolder() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
  }
  std::string Ini() const { return (path_ / "korvamon.INI").string(); }
  std::string Log() const { return (path_ / "history.log").string(); }

 private:
  fs::path path_;
};

void BM_HistoryLine(benchmark::State& state) {
  BenchFolder folder;
  monitor::ScopedSettingsFilePath settings(folder.Ini());
  std::ostream* echo = monitor::SetHistoryEcho(nullptr);
  {
    std::ofstream log(folder.Log(), std::ios::binary);
    const std::string line = "[08.12.2026 14:05:09]\tan earlier line of the history, as it was\r\n";
    for (int64_t size = 0; size < state.range(0); size += static_cast<int64_t>(line.size()))
      log << line;
  }
  vcl::ScopedApplication application;
  auto* history = vcl::Application().CreateForm<monitor::TfrmHist>();
  for (auto _ : state)
    history->AddHistoryLine("DC_LO / on battery");
  state.SetLabel(std::to_string(state.range(0) >> 10) + " KiB log");
  monitor::SetHistoryEcho(echo);
}
BENCHMARK(BM_HistoryLine)->Arg(0)->Arg(8 << 20);

}  // namespace
