// What a process variable's hot paths cost: an integer value that changes
// and is announced to one link with an OnChange handler, one that is set to
// what it holds already, and a link's snapshot as COM threads read it.
#include <benchmark/benchmark.h>

#include <cstdint>

#include "toolkit/PsVars.h"
#include "toolkit/Toolkit.h"

namespace {

using namespace toolkit;

// An integer variable with a value and one listening link.
struct LinkedInteger {
  LinkedInteger() {
    toolkit::Initialize();
    variable.SetValue(5);
    link.SetVariable(&variable);
    link.OnChange = [this](vcl::TObject*) { ++changes; };
  }
  ~LinkedInteger() { toolkit::Finalize(); }
  TPsInteger variable{nullptr};
  TPsVarLink link;
  int64_t changes = 0;
};

void BM_IntegerSetValueChanging(benchmark::State& state) {
  LinkedInteger linked;
  int32_t value = 0;
  for (auto _ : state)
    linked.variable.SetValue(++value);
  benchmark::DoNotOptimize(linked.changes);
}
BENCHMARK(BM_IntegerSetValueChanging);

void BM_IntegerSetValueUnchanged(benchmark::State& state) {
  LinkedInteger linked;
  for (auto _ : state)
    linked.variable.SetValue(5);
  benchmark::DoNotOptimize(linked.changes);
}
BENCHMARK(BM_IntegerSetValueUnchanged);

void BM_LinkGetSnapshot(benchmark::State& state) {
  LinkedInteger linked;
  for (auto _ : state) {
    TPsVarSnapshot snapshot = linked.link.GetSnapshot(vdtDefault, false);
    benchmark::DoNotOptimize(snapshot);
  }
}
BENCHMARK(BM_LinkGetSnapshot);

}  // namespace
