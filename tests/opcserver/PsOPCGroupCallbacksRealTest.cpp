// A group's subscriptions on real callback threads: sinks that call back
// into their group from inside a delivery, groups and clients that go while
// deliveries run, and the provider window's ten items following a monitor
// that changes every 50 ms.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "OPCSubscriptionTestSupport.h"

namespace {

using korva_test::CallbackCall;
using korva_test::RecordingCallback;
using opcserver::ComPtr;
using namespace std::chrono_literals;

class PsOPCGroupCallbacksRealTest : public korva_test::OPCSubscriptionTest {
 protected:
  // Handles the main thread's messages until `done` or 10 s passed.
  bool RunUntil(const std::function<bool()>& done) {
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (!done()) {
      if (std::chrono::steady_clock::now() > deadline)
        return false;
      Run();
      std::this_thread::sleep_for(1ms);
    }
    Run();
    return true;
  }
};

TEST_F(PsOPCGroupCallbacksRealTest, ASinkMayCallIntoItsGroupAndRemoveItFromInsideADelivery) {
  for (const bool keepGroup : {true, false}) {
    SCOPED_TRACE(keepGroup);
    sink = opcserver::MakeComObject<RecordingCallback>();
    ComPtr<IOPCItemMgt> group = AddGroup("G", TRUE, 10);
    std::vector<OPCHANDLE> handles = AddItemsOf(group.Get(), {"Korva/Status", "Test/Setpoint"});
    const OPCHANDLE serverHandle = Impl(group.Get()).ServerHandle();
    // References the sink lets go of inside its call, before it removes
    // the group: a group the test released ends there, on the thread.
    IOPCSyncIO* sync = nullptr;
    IOPCGroupStateMgt* state = nullptr;
    ASSERT_EQ(group->QueryInterface(IID_IOPCSyncIO, reinterpret_cast<void**>(&sync)), S_OK);
    ASSERT_EQ(group->QueryInterface(IID_IOPCGroupStateMgt, reinterpret_cast<void**>(&state)), S_OK);
    IOPCServer* owner = client.Get();
    std::atomic<bool> ready{false}, done{false};
    HRESULT read = E_UNEXPECTED, setState = E_UNEXPECTED, removed = E_UNEXPECTED;
    sink->action = [&](const CallbackCall& call) {
      if (call.kind != CallbackCall::DataChange || !ready || done)
        return;
      OPCITEMSTATE* states = nullptr;
      HRESULT* errors = nullptr;
      read = sync->Read(OPC_DS_CACHE, 2, handles.data(), &states, &errors);
      opcserver::TPsOPCAlloc::FreeItemStateList(states, 2);
      CoTaskMemFree(errors);
      DWORD rate = 20, revised = 0;
      setState = state->SetState(&rate, &revised, nullptr, nullptr, nullptr, nullptr, nullptr);
      sync->Release();
      state->Release();
      removed = owner->RemoveGroup(serverHandle, FALSE);
      done = true;
    };
    ASSERT_EQ(Advise(group.Get(), sink.Get()), S_OK);
    if (!keepGroup)
      group.Reset();
    ready = true;
    setpoint->SetValue(setpoint->Value() + 1);
    ASSERT_TRUE(RunUntil([&] { return done.load(); }));
    EXPECT_EQ(read, S_OK);
    EXPECT_EQ(setState, S_OK);
    EXPECT_EQ(removed, keepGroup ? OPC_S_INUSE : S_OK);
    // Ended with the group at the latest: nothing more arrives.
    group.Reset();
    const size_t calls = sink->Count();
    setpoint->SetValue(setpoint->Value() + 1);
    std::this_thread::sleep_for(50ms);
    Run();
    EXPECT_EQ(sink->Count(), calls);
  }
}

TEST_F(PsOPCGroupCallbacksRealTest, GroupsAndClientsGoWhileDeliveriesRun) {
  struct Subscriber {
    ComPtr<IOPCServer> owner;
    std::vector<ComPtr<IOPCItemMgt>> groups;
    std::vector<ComPtr<RecordingCallback>> sinks;
  };
  std::vector<Subscriber> subscribers(3);
  for (Subscriber& subscriber : subscribers) {
    subscriber.owner = Connect();
    for (int i = 0; i < 2; ++i) {
      ComPtr<IOPCItemMgt> group = AddGroup("", TRUE, 10, nullptr, nullptr, subscriber.owner.Get());
      AddItemsOf(group.Get(), {"Korva/Status", "Test/Setpoint"});
      auto callback = opcserver::MakeComObject<RecordingCallback>();
      ASSERT_EQ(Advise(group.Get(), callback.Get()), S_OK);
      subscriber.groups.push_back(group);
      subscriber.sinks.push_back(callback);
    }
  }
  ASSERT_TRUE(RunUntil([&] { return subscribers[0].sinks[0]->Count() > 0; }));
  for (int round = 0; round < 30; ++round) {
    setpoint->SetValue(round);
    SetStatus(round);
    Run();
    std::this_thread::sleep_for(3ms);
    switch (round) {
      case 10:  // removed while still held, then let go
        subscribers[0].owner->RemoveGroup(Impl(subscribers[0].groups[0].Get()).ServerHandle(),
                                          FALSE);
        subscribers[0].groups[0].Reset();
        break;
      case 15:  // let go, then removed
        subscribers[1].groups[0].Reset();
        subscribers[1].owner->RemoveGroup(Impl(subscribers[1].groups[1].Get()).ServerHandle(),
                                          TRUE);
        break;
      case 20:  // the client goes with its groups held
        subscribers[2].owner.Reset();
        break;
      default:
        break;
    }
  }
  for (Subscriber& subscriber : subscribers) {
    subscriber.groups.clear();
    subscriber.owner.Reset();
  }
  Run();
  // The groups left untouched until the end saw the changes.
  EXPECT_GT(subscribers[0].sinks[1]->Count(), 1u);
}

TEST_F(PsOPCGroupCallbacksRealTest, TheProviderItemsFollowAMonitorThatChangesEvery50ms) {
  const std::vector<std::string> ids = {
      "Korva/Device", "Korva/last_Message", "Korva/Received", "Korva/Status", "Korva/Connection",
      "Korva/DC_OK",  "Korva/BAT",          "Korva/BAT85",    "Korva/ALARM",  "Korva/AKKU"};
  ComPtr<IOPCItemMgt> group = AddGroup("G", TRUE, 100);
  AddItemsOf(group.Get(), ids);
  ASSERT_EQ(Advise(group.Get(), sink.Get()), S_OK);
  const auto start = std::chrono::steady_clock::now();
  int32_t step = 0;
  while (std::chrono::steady_clock::now() - start < 5s) {
    ++step;
    SetStatus(step);
    bat->SetValue(step % 2 == 0);
    device->SetValue("UPS " + std::to_string(step));
    Run();
    std::this_thread::sleep_for(50ms);
  }
  // The last value of each changed item arrives.
  auto last = [&](OPCHANDLE handle) {
    std::string value;
    for (const CallbackCall& call : sink->Calls())
      for (size_t i = 0; i < call.clientHandles.size(); ++i)
        if (call.clientHandles[i] == handle)
          value = call.values[i].AsText();
    return value;
  };
  EXPECT_TRUE(RunUntil([&]() -> bool {
    return last(103) == std::to_string(step) && last(106) == (step % 2 == 0 ? "True" : "False") &&
           last(100) == "UPS " + std::to_string(step);
  }));
  // Changes 50 ms apart at a rate of 100 ms: at most one call per period.
  EXPECT_LE(sink->Count(), static_cast<size_t>(5000 / 100 + 5));
  EXPECT_GE(sink->Count(), 10u);
}

}  // namespace
