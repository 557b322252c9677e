// What letting go of many things at once costs: freeing an owner with n
// components, and one component removal told to a keyed list of n items
// that refer to components. Both should grow with n, not faster; each
// benchmark reports the complexity it fits.
#include <benchmark/benchmark.h>

#include <vector>

#include "toolkit/PsClasses.h"
#include "toolkit/PsVars.h"
#include "toolkit/Toolkit.h"
#include "vcl/Classes.h"

namespace {

// n plain components; only the freeing of their owner is timed.
void BM_FreeOwner(benchmark::State& state) {
  const auto count = static_cast<int>(state.range(0));
  for (auto _ : state) {
    state.PauseTiming();
    auto* owner = new vcl::TComponent(nullptr);
    for (int i = 0; i < count; ++i)
      new vcl::TComponent(owner);
    state.ResumeTiming();
    vcl::Free(owner);
  }
  state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_FreeOwner)
    ->Arg(1000)
    ->Arg(2000)
    ->Arg(4000)
    ->Arg(8000)
    ->Arg(16000)
    ->Unit(benchmark::kMillisecond)
    // Filling the owner costs far more than freeing it (each new component is
    // told to the others), so a few rounds.
    ->Iterations(5)
    ->Complexity();

// n variable links, every tenth following one variable; one removal of that
// variable is told to the list, which clears those links.
class LinkList {
 public:
  explicit LinkList(int count) {
    toolkit::Initialize();
    for (int i = 0; i < count; ++i)
      static_cast<toolkit::TPsVarLink*>(list_.Add())
          ->SetVariable(i % 10 == 0 ? &variable_ : nullptr);
  }
  ~LinkList() {
    list_.Clear();
    toolkit::Finalize();
  }
  LinkList(const LinkList&) = delete;
  LinkList& operator=(const LinkList&) = delete;

  void Remove() { list_.Notification(&variable_, vcl::TOperation::opRemove); }

 private:
  toolkit::TPsInteger variable_{nullptr};
  toolkit::TPsPersistentList list_{nullptr, &toolkit::TPsVarLink::ClassMeta(), true};
};

void BM_PersistentListNotification(benchmark::State& state) {
  LinkList links(static_cast<int>(state.range(0)));
  for (auto _ : state)
    links.Remove();
  state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_PersistentListNotification)
    ->Arg(5000)
    ->Arg(10000)
    ->Arg(20000)
    ->Unit(benchmark::kMillisecond)
    ->Complexity();

}  // namespace
