// What a group's whole-group calls cost: adding 1,000 and 10,000 items (one
// variable each) and reading all of them from the cache. Items are found by
// their server handle through an index, so both grow linearly.
#include <benchmark/benchmark.h>

#include <memory>
#include <string>
#include <vector>

#include "opcserver/PsOPC.h"
#include "opcserver/PsOPCProvider.h"
#include "opcserver/PsOPCProviderClients.h"
#include "platform/EventLoop.h"
#include "toolkit/PsVarsBasic.h"
#include "toolkit/Toolkit.h"

namespace {

using opcserver::ComPtr;

// A running server whose address space holds `count` integer variables, a
// client and one active group.
class Space {
 public:
  explicit Space(int count) {
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
      variable->SetName("V" + std::to_string(i));
      variable->SetValue(i);
      space.AddChildObject(root, variable->Name(), variable);
      ids_.push_back(platform::com::Utf8ToWide("Korva/" + variable->Name()));
    }
    for (size_t i = 0; i < ids_.size(); ++i) {
      OPCITEMDEF definition{};
      definition.szItemID = ids_[i].data();
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

}  // namespace
