// What a group's whole-group calls cost, each for 1,000 and 10,000 items, all
// of which must grow linearly with the items: adding them (one variable
// each), reading all of them from the cache, removing every second one with
// a data change pending for each, and clearing the group. Then the same
// variable feeding every item of a group: adding the items (each link joins
// the variable's change signal), one change of the variable reaching all of
// them, and removing them again. Then what a subscription costs: one item
// change taken into the pending data change (found by client handle through
// an index, so the same for any count), and 1,000 items changing every 100 ms
// delivered by a real callback thread.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "opcserver/PsOPC.h"
#include "opcserver/PsOPCCallbackThreads.h"
#include "opcserver/PsOPCProvider.h"
#include "opcserver/PsOPCProviderClients.h"
#include "opcserver/PsOPCProviderGroups.h"
#include "opcserver/PsOPCProviderItems.h"
#include "platform/EventLoop.h"
#include "toolkit/Clock.h"
#include "toolkit/PsVarsBasic.h"
#include "toolkit/Toolkit.h"

namespace {

using opcserver::ComPtr;

// A running server whose address space holds `count` integer variables, a
// client and one active group; the items are one per variable, or with
// `oneVariable` all of the first variable.
class Space {
 public:
  explicit Space(int count, bool oneVariable = false) {
    toolkit::Initialize();
    server_ = std::make_unique<opcserver::TPsOPCProvider>();
    server_->SetCLSID("{926B1231-E7E1-4241-863C-7AA5C5ABFCDF}");
    server_->SetServerName("KORVA_UPS.OPC");
    server_->Initialize();
    server_->Run();
    owner_ = new vcl::TComponent(nullptr);
    owner_->SetName("Korva");
    opcserver::TPsOPCProviderAddressSpace& space = server_->AddressSpace();
    space.SetPathSeparator('/');
    const int root = space.AddChildObject(-1, "Korva", owner_);
    // Variables without an owner: an owner's bookkeeping grows with the
    // square of its components.
    for (int i = 0; i < count; ++i) {
      auto* variable =
          variables_.emplace_back(std::make_unique<toolkit::TPsInteger>(nullptr)).get();
      variable->SetName(std::string("V").append(std::to_string(i)));
      variable->SetValue(i);
      space.AddChildObject(root, variable->Name(), variable);
      ids_.push_back(platform::com::Utf8ToWide("Korva/" + variable->Name()));
    }
    for (size_t i = 0; i < ids_.size(); ++i) {
      OPCITEMDEF definition{};
      definition.szItemID = ids_[oneVariable ? 0 : i].data();
      definition.bActive = TRUE;
      definition.hClient = static_cast<OPCHANDLE>(i);
      definitions_.push_back(definition);
    }
    server_->Factory().CreateInstance(nullptr, IID_IOPCServer, client_.ReceiveVoid());
    OPCHANDLE handle = 0;
    DWORD rate = 0;
    client_->AddGroup(OLESTR("G"), TRUE, 1000, 0, nullptr, nullptr, 0, &handle, &rate,
                      IID_IOPCItemMgt, reinterpret_cast<LPUNKNOWN*>(group_.Receive()));
  }
  ~Space() {
    group_.Reset();
    client_.Reset();
    platform::MainLoop().ProcessMessages();
    server_.reset();
    variables_.clear();
    delete owner_;
    toolkit::Finalize();
  }

  // Adds every item; their server handles.
  std::vector<OPCHANDLE> AddAll() {
    OPCITEMRESULT* results = nullptr;
    HRESULT* errors = nullptr;
    group_->AddItems(static_cast<DWORD>(definitions_.size()), definitions_.data(), &results,
                     &errors);
    std::vector<OPCHANDLE> handles;
    for (size_t i = 0; i < definitions_.size(); ++i)
      handles.push_back(results[i].hServer);
    CoTaskMemFree(results);
    CoTaskMemFree(errors);
    return handles;
  }
  void RemoveAll(std::vector<OPCHANDLE>& handles) {
    HRESULT* errors = nullptr;
    group_->RemoveItems(static_cast<DWORD>(handles.size()), handles.data(), &errors);
    CoTaskMemFree(errors);
    platform::MainLoop().ProcessMessages();
  }
  IOPCItemMgt* Group() { return group_.Get(); }
  opcserver::TPsOPCProviderGroup& Impl() {
    return *static_cast<opcserver::TPsOPCProviderGroup*>(group_.Get());
  }
  // Connects `sink` through the group's connection point.
  void Subscribe(IUnknown* sink) {
    const auto container = opcserver::CheckedCast<IConnectionPointContainer>(group_.Get());
    ComPtr<IConnectionPoint> point;
    container->FindConnectionPoint(IID_IOPCDataCallback, point.Receive());
    DWORD cookie = 0;
    point->Advise(sink, &cookie);
  }
  void SetAll(int value) {
    for (auto& variable : variables_)
      variable->SetValue(value);
  }
  toolkit::TPsInteger& Variable(int index) { return *variables_[static_cast<size_t>(index)]; }

 private:
  std::unique_ptr<opcserver::TPsOPCProvider> server_;
  vcl::TComponent* owner_ = nullptr;
  std::vector<std::unique_ptr<toolkit::TPsInteger>> variables_;
  std::vector<platform::com::WideString> ids_;
  std::vector<OPCITEMDEF> definitions_;
  ComPtr<IOPCServer> client_;
  ComPtr<IOPCItemMgt> group_;
};

void BM_GroupAddItems(benchmark::State& state) {
  Space space(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    std::vector<OPCHANDLE> handles = space.AddAll();
    state.PauseTiming();
    space.RemoveAll(handles);
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_GroupAddItems)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);

void BM_GroupCacheRead(benchmark::State& state) {
  Space space(static_cast<int>(state.range(0)));
  std::vector<OPCHANDLE> handles = space.AddAll();
  const ComPtr<IOPCSyncIO> io = opcserver::CheckedCast<IOPCSyncIO>(space.Group());
  for (auto _ : state) {
    OPCITEMSTATE* states = nullptr;
    HRESULT* errors = nullptr;
    io->Read(OPC_DS_CACHE, static_cast<DWORD>(handles.size()), handles.data(), &states, &errors);
    opcserver::TPsOPCAlloc::FreeItemStateList(states, static_cast<int64_t>(handles.size()));
    CoTaskMemFree(errors);
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_GroupCacheRead)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);

// A sink for subscriptions whose deliveries never run, or are not looked at.
class IdleSink : public opcserver::ComObject<IOPCDataCallback> {
 public:
  HRESULT STDMETHODCALLTYPE OnDataChange(DWORD, OPCHANDLE, HRESULT, HRESULT, DWORD, OPCHANDLE*,
                                         VARIANT*, WORD*, FILETIME*, HRESULT*) override {
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE OnReadComplete(DWORD, OPCHANDLE, HRESULT, HRESULT, DWORD, OPCHANDLE*,
                                           VARIANT*, WORD*, FILETIME*, HRESULT*) override {
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE OnWriteComplete(DWORD, OPCHANDLE, HRESULT, DWORD, OPCHANDLE*,
                                            HRESULT*) override {
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE OnCancelComplete(DWORD, OPCHANDLE) override { return S_OK; }
};

// Every second item removed in one call, each with its entry in the pending
// data change (a subscribed group whose thread never runs).
void BM_GroupRemoveHalf(benchmark::State& state) {
  Space space(static_cast<int>(state.range(0)));
  toolkit::ManualClock clock;
  opcserver::TPsOPCManualRunners runners(clock);
  const platform::ScopedService<opcserver::TPsOPCCallbackRunners> installed(runners);
  const auto sink = opcserver::MakeComObject<IdleSink>();
  space.Subscribe(sink.Get());
  for (auto _ : state) {
    state.PauseTiming();
    std::vector<OPCHANDLE> handles = space.AddAll();
    std::vector<OPCHANDLE> half;
    std::vector<OPCHANDLE> rest;
    for (size_t i = 0; i < handles.size(); ++i)
      (i % 2 ? rest : half).push_back(handles[i]);
    state.ResumeTiming();
    space.RemoveAll(half);
    state.PauseTiming();
    space.RemoveAll(rest);
    space.Impl().GetDataChangeTransaction();
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * state.range(0) / 2);
}
BENCHMARK(BM_GroupRemoveHalf)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);

// Every item removed at once, as the group's end does.
void BM_GroupClear(benchmark::State& state) {
  Space space(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    state.PauseTiming();
    space.AddAll();
    state.ResumeTiming();
    space.Impl().Clear();
    platform::MainLoop().ProcessMessages();
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_GroupClear)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);

// Every item of the group on the same variable: adding them and removing
// them again (each link joins and leaves the variable's change signal).
void BM_OneVariableAddRemove(benchmark::State& state) {
  Space space(static_cast<int>(state.range(0)), true);
  for (auto _ : state) {
    std::vector<OPCHANDLE> handles = space.AddAll();
    space.RemoveAll(handles);
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_OneVariableAddRemove)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);

// One change of that variable, told to every item.
void BM_OneVariableChange(benchmark::State& state) {
  Space space(static_cast<int>(state.range(0)), true);
  space.AddAll();
  int value = 0;
  for (auto _ : state)
    space.Variable(0).SetValue(++value);
  state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_OneVariableChange)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);

// A sink that counts its data changes, their items and when each came.
class CountingSink : public IdleSink {
 public:
  HRESULT STDMETHODCALLTYPE OnDataChange(DWORD, OPCHANDLE, HRESULT, HRESULT, DWORD dwCount,
                                         OPCHANDLE*, VARIANT*, WORD*, FILETIME*,
                                         HRESULT*) override {
    const std::lock_guard lock(mutex);
    calls.push_back({std::chrono::steady_clock::now(), dwCount});
    return S_OK;
  }

  struct Call {
    std::chrono::steady_clock::time_point at;
    DWORD count;
  };
  std::mutex mutex;
  std::vector<Call> calls;
};

void BM_GroupItemChange(benchmark::State& state) {
  Space space(static_cast<int>(state.range(0)));
  // Passes that never run: the pending data change only collects.
  toolkit::ManualClock clock;
  opcserver::TPsOPCManualRunners runners(clock);
  const platform::ScopedService<opcserver::TPsOPCCallbackRunners> installed(runners);
  space.AddAll();
  const auto sink = opcserver::MakeComObject<CountingSink>();
  space.Subscribe(sink.Get());
  opcserver::TPsOPCProviderGroup& group = space.Impl();
  std::vector<opcserver::TPsOPCProviderItem*> items;
  for (int i = 0; i < group.GetItemCount(); ++i)
    items.push_back(group.GetItems(i));
  for (auto _ : state) {
    // Each item once into a fresh pending change, as in one period.
    for (opcserver::TPsOPCProviderItem* item : items)
      group.ItemChange(item);
    state.PauseTiming();
    group.GetDataChangeTransaction();
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_GroupItemChange)->Arg(1000)->Arg(10000)->Unit(benchmark::kMicrosecond);

// Counts the waits of the system's runners: the thread's wake-ups.
class CountingRunners final : public opcserver::TPsOPCCallbackRunners {
 public:
  explicit CountingRunners(opcserver::TPsOPCCallbackRunners& system) : system_(system) {}
  std::unique_ptr<opcserver::TPsOPCCallbackRunner> NewRunner() override {
    return std::make_unique<Runner>(system_.NewRunner(), waits);
  }
  std::atomic<int64_t> waits{0};

 private:
  class Runner final : public opcserver::TPsOPCCallbackRunner {
   public:
    Runner(std::unique_ptr<opcserver::TPsOPCCallbackRunner> inner, std::atomic<int64_t>& waits)
        : inner_(std::move(inner)), waits_(waits) {}
    void SetEvent() override { inner_->SetEvent(); }
    void ResetEvent() override { inner_->ResetEvent(); }
    bool Wait(uint32_t ms) override {
      ++waits_;
      return inner_->Wait(ms);
    }
    void Start(opcserver::TPsOPCProviderDataCallbackThread& thread) override {
      inner_->Start(thread);
    }
    bool InPass() const override { return inner_->InPass(); }
    void Join() override { inner_->Join(); }
    void Detach() override { inner_->Detach(); }

   private:
    std::unique_ptr<opcserver::TPsOPCCallbackRunner> inner_;
    std::atomic<int64_t>& waits_;
  };
  opcserver::TPsOPCCallbackRunners& system_;
};

// 1,000 items all changing once per 100 ms period for 10 s on a real
// callback thread: the calls per period, the items per call, the longest
// time from a round of changes to its delivery, and the thread's wake-ups
// per period.
void BM_GroupSubscription(benchmark::State& state) {
  constexpr int kItems = 1000;
  constexpr auto kPeriod = std::chrono::milliseconds(100);
  const int rounds = static_cast<int>(state.range(0));
  Space space(kItems);
  CountingRunners runners(opcserver::CallbackRunners());
  const platform::ScopedService<opcserver::TPsOPCCallbackRunners> installed(runners);
  space.AddAll();
  DWORD rate = 100;
  DWORD revised = 0;
  opcserver::CheckedCast<IOPCGroupStateMgt>(space.Group())
      ->SetState(&rate, &revised, nullptr, nullptr, nullptr, nullptr, nullptr);
  const auto sink = opcserver::MakeComObject<CountingSink>();
  for (auto _ : state) {
    space.Subscribe(sink.Get());
    std::vector<std::chrono::steady_clock::time_point> changed;
    const auto start = std::chrono::steady_clock::now();
    for (int round = 0; round < rounds; ++round) {
      std::this_thread::sleep_until(start + round * kPeriod);
      space.SetAll(round + 1);
      changed.push_back(std::chrono::steady_clock::now());
    }
    std::this_thread::sleep_for(2 * kPeriod);
    state.PauseTiming();
    const std::lock_guard lock(sink->mutex);
    // From the end of each round of changes to the first call after it.
    double worst = 0;
    size_t full = 0;
    for (const auto& round : changed) {
      const auto delivered =
          std::find_if(sink->calls.begin(), sink->calls.end(),
                       [&](const CountingSink::Call& call) { return call.at > round; });
      if (delivered != sink->calls.end())
        worst = std::max(worst,
                         std::chrono::duration<double, std::milli>(delivered->at - round).count());
    }
    for (const auto& call : sink->calls)
      if (call.count == kItems)
        ++full;
    state.counters["calls_per_period"] =
        static_cast<double>(sink->calls.size()) / static_cast<double>(rounds);
    state.counters["full_calls"] = static_cast<double>(full);
    state.counters["max_latency_ms"] = worst;
    state.counters["wakeups_per_period"] =
        static_cast<double>(runners.waits.load()) / static_cast<double>(rounds);
    state.ResumeTiming();
  }
}
BENCHMARK(BM_GroupSubscription)->Arg(100)->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace
