// What a float variable's value write costs with everything it derives:
// statistics, alarms and warnings, one listening link; directly and with
// an explicit quality and time stamp.
#include <benchmark/benchmark.h>

#include <cstdint>

#include "toolkit/PsVars.h"
#include "toolkit/Toolkit.h"

namespace {

using namespace toolkit;

struct LinkedFloat {
  LinkedFloat() {
    toolkit::Initialize();
    variable.SetStatsMode(smSimple);
    variable.SetAlarmMode(amAlarmsAndWarnings);
    variable.SetAlarmLow(-900);
    variable.SetAlarmHigh(900);
    variable.SetWarnLow(-500);
    variable.SetWarnHigh(500);
    link.SetVariable(&variable);
    link.OnChange = [this](vcl::TObject*) { ++changes; };
  }
  ~LinkedFloat() { toolkit::Finalize(); }
  TPsFloat variable{nullptr};
  TPsVarLink link;
  int64_t changes = 0;
};

void BM_FloatSetValue(benchmark::State& state) {
  LinkedFloat linked;
  double value = 0;
  for (auto _ : state) {
    // Through normal, warning and alarm states in turn.
    value = value > 1000 ? -1000 : value + 7.25;
    linked.variable.SetValue(value);
  }
  benchmark::DoNotOptimize(linked.changes);
}
BENCHMARK(BM_FloatSetValue);

// The same through SetPropValueAt, which keeps what its store may have to
// undo while a handler or a slot may reject the change.
void BM_FloatSetPropValueAt(benchmark::State& state) {
  LinkedFloat linked;
  double value = 0;
  double stamp = 45000;
  for (auto _ : state) {
    value = value > 1000 ? -1000 : value + 7.25;
    linked.variable.SetPropValueAt(vpValue, value, vpqGood, stamp += 0.001);
  }
  benchmark::DoNotOptimize(linked.changes);
}
BENCHMARK(BM_FloatSetPropValueAt);

}  // namespace
