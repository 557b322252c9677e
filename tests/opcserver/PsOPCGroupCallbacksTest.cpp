// A group's subscriptions, pass by pass on the virtual tick: when its data
// changes go out, what switches them off, the asynchronous reads, refreshes
// and writes of both interfaces and their answers, the DA 1.0 streams, one
// sink per group, and what is freed when a sink or the group goes first.
#include <gtest/gtest.h>

#include <cstring>
#include <thread>

#include "OPCSubscriptionTestSupport.h"
#include "opcserver/PsOPCProviderItems.h"

namespace {

using korva_test::AdviseCall;
using korva_test::AsyncAnswer;
using korva_test::CallbackCall;
using korva_test::ItemDefs;
using korva_test::RecordingAdviseSink;
using korva_test::RecordingCallback;
using opcserver::ComPtr;
using opcserver::OPCSTMFORMATDATA;
using opcserver::OPCSTMFORMATDATATIME;
using opcserver::OPCSTMFORMATWRITECOMPLETE;
using opcserver::TPsOPCCallbackRunner;

class PsOPCGroupCallbacksTest : public korva_test::OPCManualSubscriptionTest {
 protected:
  // A group of Korva/Status and Test/Setpoint (client handles 100, 101)
  // at `rate`, with the sink connected.
  ComPtr<IOPCItemMgt> Subscribed(DWORD rate = 1000) {
    ComPtr<IOPCItemMgt> group = AddGroup("G", TRUE, rate);
    handles = AddItemsOf(group.Get(), {"Korva/Status", "Test/Setpoint"});
    EXPECT_EQ(Advise(group.Get(), sink.Get(), &cookie), S_OK);
    return group;
  }

  std::vector<OPCHANDLE> handles;
  DWORD cookie = 0;
};

TEST_F(PsOPCGroupCallbacksTest, DataChangesGoOutAtTheUpdateRateWithTheLastValue) {
  struct Case {
    DWORD rate;
    uint32_t startTick;
    uint32_t changeAfter;  // ms after the first delivery
    uint32_t gap;          // between the first and the second delivery
  };
  const Case cases[] = {
      {1000, 1'000'000, 200, 1000},
      // A rate of 0 still waits 10 ms.
      {0, 1'000'000, 0, 10},
      // The first delivery falls just past the wrap of the 32-bit tick.
      {1000, 0xFFFFFFFFu - 50, 200, 1000},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.startTick);
    clock_.SetTick(c.startTick);
    toolkit::ResetTickState();
    sink = opcserver::MakeComObject<RecordingCallback>();
    sink->clock = [] { return toolkit::PsGetTickCount64(); };
    const uint64_t start = Now();
    ComPtr<IOPCItemMgt> group = Subscribed(c.rate);

    ASSERT_TRUE(Deliver(1));
    const CallbackCall first = sink->Calls()[0];
    EXPECT_EQ(first.kind, CallbackCall::DataChange);
    EXPECT_EQ(first.transactionID, 0u);
    EXPECT_EQ(first.group, 7u);
    EXPECT_EQ(first.tick, start + 100);
    EXPECT_EQ(first.clientHandles, (std::vector<OPCHANDLE>{100, 101}));

    // Nothing changes: nothing goes out, and the thread sleeps.
    runners.ClearWaits();
    Passes(3);
    EXPECT_EQ(sink->Count(), 1u);
    EXPECT_EQ(runners.Waits(), std::vector<uint32_t>(3, TPsOPCCallbackRunner::Infinite));

    Advance(c.changeAfter);
    for (int value = 11; value <= 13; ++value)
      setpoint->SetValue(value);
    ASSERT_TRUE(Deliver(2));
    const CallbackCall second = sink->Calls()[1];
    EXPECT_EQ(second.tick - first.tick, c.gap);
    EXPECT_EQ(second.clientHandles, (std::vector<OPCHANDLE>{101}));
    ASSERT_EQ(second.values.size(), 1u);
    EXPECT_EQ(second.values[0].AsInt32(), 13);
    Passes(3);
    EXPECT_EQ(sink->Count(), 2u);

    EXPECT_EQ(client->RemoveGroup(Impl(group.Get()).ServerHandle(), TRUE), S_OK);
  }
}

TEST_F(PsOPCGroupCallbacksTest, ASwitchedOffGroupSendsNothing) {
  struct Case {
    const char* name;
    std::function<void(IOPCItemMgt*)> off;
  };
  const Case cases[] = {
      {"disabled",
       [](IOPCItemMgt* group) {
         const auto io = opcserver::CheckedCast<IOPCAsyncIO2>(group);
         EXPECT_EQ(io->SetEnable(FALSE), S_OK);
         BOOL enabled = TRUE;
         EXPECT_EQ(io->GetEnable(&enabled), S_OK);
         EXPECT_EQ(enabled, FALSE);
       }},
      {"inactive",
       [](IOPCItemMgt* group) {
         BOOL active = FALSE;
         EXPECT_EQ(opcserver::CheckedCast<IOPCGroupStateMgt>(group)->SetState(
                       nullptr, nullptr, &active, nullptr, nullptr, nullptr, nullptr),
                   S_OK);
       }},
      {"items inactive",
       [](IOPCItemMgt* group) {
         std::vector<OPCHANDLE> all = {Impl(group).GetItems(0)->ServerHandle(),
                                       Impl(group).GetItems(1)->ServerHandle()};
         HRESULT* errors = nullptr;
         EXPECT_EQ(group->SetActiveState(2, all.data(), FALSE, &errors), S_OK);
         CoTaskMemFree(errors);
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    sink = opcserver::MakeComObject<RecordingCallback>();
    ComPtr<IOPCItemMgt> group = Subscribed();
    ASSERT_TRUE(Deliver(1));
    c.off(group.Get());
    for (int value = 1; value <= 3; ++value) {
      setpoint->SetValue(value);
      Advance(1000);
      Passes(3);
    }
    EXPECT_EQ(sink->Count(), 1u);
    EXPECT_EQ(client->RemoveGroup(Impl(group.Get()).ServerHandle(), TRUE), S_OK);
  }
}

TEST_F(PsOPCGroupCallbacksTest, RemovingAnItemTakesItsPendingEntryOut) {
  ComPtr<IOPCItemMgt> group = AddGroup("G");
  handles = AddItemsOf(group.Get(), {"Korva/Status", "Korva/BAT", "Test/Setpoint"});
  ASSERT_EQ(Advise(group.Get(), sink.Get()), S_OK);
  HRESULT* errors = nullptr;
  ASSERT_EQ(group->RemoveItems(1, &handles[0], &errors), S_OK);
  CoTaskMemFree(errors);
  ASSERT_TRUE(Deliver(1));
  // The last entry moved into the place of the first.
  EXPECT_EQ(sink->Calls()[0].clientHandles, (std::vector<OPCHANDLE>{102, 101}));
}

TEST_F(PsOPCGroupCallbacksTest, APendingChangeFollowsItsItemWhateverItsClientHandle) {
  // After a change of the setpoint (client handle 101) is pending: what the
  // next data change carries.
  struct Case {
    const char* what;
    std::function<void(IOPCItemMgt*, std::vector<OPCHANDLE>&)> then;
    std::vector<OPCHANDLE> delivered;  // none: no data change
  };
  const auto newHandle = [](IOPCItemMgt* group, OPCHANDLE item, OPCHANDLE client) {
    HRESULT* errors = nullptr;
    EXPECT_EQ(group->SetClientHandles(1, &item, &client, &errors), S_OK);
    CoTaskMemFree(errors);
  };
  const auto remove = [](IOPCItemMgt* group, OPCHANDLE item) {
    HRESULT* errors = nullptr;
    EXPECT_EQ(group->RemoveItems(1, &item, &errors), S_OK);
    CoTaskMemFree(errors);
  };
  const Case cases[] = {
      {"removed after a new handle",
       [&](IOPCItemMgt* group, std::vector<OPCHANDLE>& items) {
         newHandle(group, items[1], 201);
         remove(group, items[1]);
       },
       {}},
      {"removed after a new handle that another item had",
       [&](IOPCItemMgt* group, std::vector<OPCHANDLE>& items) {
         newHandle(group, items[1], 100);
         remove(group, items[1]);
       },
       {}},
      {"given a new handle",
       [&](IOPCItemMgt* group, std::vector<OPCHANDLE>& items) { newHandle(group, items[1], 201); },
       {201}},
      {"removed after it shared the entry and changed last",
       [&](IOPCItemMgt* group, std::vector<OPCHANDLE>& items) {
         newHandle(group, items[0], 101);
         status->SetValue(0x0422);
         remove(group, items[0]);
       },
       {}},
      {"another item removed that had the same handle",
       [&](IOPCItemMgt* group, std::vector<OPCHANDLE>& items) {
         newHandle(group, items[0], 101);
         remove(group, items[0]);
       },
       {101}},
  };
  int32_t value = 10;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    sink = opcserver::MakeComObject<RecordingCallback>();
    ComPtr<IOPCItemMgt> group = Subscribed();
    ASSERT_TRUE(Deliver(1));
    setpoint->SetValue(++value);
    c.then(group.Get(), handles);
    Advance(1000);
    Passes(3);
    if (c.delivered.empty()) {
      EXPECT_FALSE(Impl(group.Get()).DataChangePending());
      EXPECT_EQ(sink->Count(), 1u);
    } else {
      ASSERT_EQ(sink->Count(), 2u);
      const CallbackCall second = sink->Calls()[1];
      EXPECT_EQ(second.clientHandles, c.delivered);
      ASSERT_EQ(second.values.size(), 1u);
      EXPECT_EQ(second.values[0].AsInt32(), value);
    }
    EXPECT_EQ(client->RemoveGroup(Impl(group.Get()).ServerHandle(), TRUE), S_OK);
    Run();
  }
}

TEST_F(PsOPCGroupCallbacksTest, AnItemNoLongerListedNeverReachesADataChange) {
  ComPtr<IOPCItemMgt> group = Subscribed();
  ASSERT_TRUE(Deliver(1));
  opcserver::TPsOPCProviderItem* removed = Impl(group.Get()).GetItems(1);
  // Removed on another thread, the item waits for the main thread to free
  // it: a change that raced the removal may still arrive.
  std::thread([&] {
    HRESULT* errors = nullptr;
    EXPECT_EQ(group->RemoveItems(1, &handles[1], &errors), S_OK);
    CoTaskMemFree(errors);
  }).join();
  Impl(group.Get()).ItemChange(removed);
  EXPECT_FALSE(Impl(group.Get()).DataChangePending());
  Advance(1000);
  Passes(3);
  EXPECT_EQ(sink->Count(), 1u);
  Run();
}

// ---- Asynchronous calls -------------------------------------------------------------

TEST_F(PsOPCGroupCallbacksTest, WithoutASinkEveryAsynchronousCallIsRefused) {
  ComPtr<IOPCItemMgt> group = AddGroup("G");
  handles = AddItemsOf(group.Get(), {"Korva/Status"});
  EXPECT_EQ(Read2(group.Get(), handles, 7).result, CONNECT_E_NOCONNECTION);
  EXPECT_TRUE(Logged("G: IOPCAsyncIO2.Read: No callback!"));
  EXPECT_EQ(Write2(group.Get(), handles, {Int(1)}, 7).result, CONNECT_E_NOCONNECTION);
  EXPECT_EQ(Refresh2(group.Get(), 7).result, CONNECT_E_NOCONNECTION);
  EXPECT_EQ(Read1(group.Get(), handles).result, CONNECT_E_NOCONNECTION);
  BOOL enabled = FALSE;
  EXPECT_EQ(opcserver::CheckedCast<IOPCAsyncIO2>(group.Get())->GetEnable(&enabled),
            CONNECT_E_NOCONNECTION);
  EXPECT_EQ(opcserver::CheckedCast<IOPCAsyncIO2>(group.Get())->SetEnable(TRUE),
            CONNECT_E_NOCONNECTION);
}

TEST_F(PsOPCGroupCallbacksTest, AReadIsAnsweredWithTheClientsOwnTransactionID) {
  // Every 32-bit id, including those with the top bit set.
  for (const DWORD id : {7u, 0x80000000u, 0xFFFFFFFFu}) {
    SCOPED_TRACE(id);
    sink = opcserver::MakeComObject<RecordingCallback>();
    ComPtr<IOPCItemMgt> group = Subscribed();
    ASSERT_TRUE(Deliver(1));
    const AsyncAnswer answer = Read2(group.Get(), {handles[0], 999999, handles[1]}, id);
    EXPECT_EQ(answer.result, S_FALSE);
    EXPECT_EQ(answer.id, id);
    EXPECT_EQ(answer.errors, (std::vector<HRESULT>{S_OK, OPC_E_INVALIDHANDLE, S_OK}));
    ASSERT_TRUE(Deliver(2));
    const CallbackCall read = sink->Calls()[1];
    EXPECT_EQ(read.kind, CallbackCall::ReadComplete);
    EXPECT_EQ(read.transactionID, id);
    // Only the items found answer.
    EXPECT_EQ(read.clientHandles, (std::vector<OPCHANDLE>{100, 101}));
    EXPECT_EQ(read.values[1].AsInt32(), 50);
    EXPECT_EQ(client->RemoveGroup(Impl(group.Get()).ServerHandle(), TRUE), S_OK);
  }
}

// Reads from the device take the variable as it is now, also for an
// inactive item that heard none of its changes.
TEST_F(PsOPCGroupCallbacksTest, AReadFromTheDeviceReadsTheVariableNow) {
  ComPtr<IOPCItemMgt> group = AddGroup("G");
  handles = AddItemsOf(group.Get(), {"Korva/Status"}, FALSE);
  ASSERT_EQ(Advise(group.Get(), sink.Get()), S_OK);
  SetStatus(0x1234);
  EXPECT_EQ(Read2(group.Get(), handles, 9).result, S_OK);
  ASSERT_TRUE(Deliver(1));
  const CallbackCall read = sink->Calls()[0];
  EXPECT_EQ(read.kind, CallbackCall::ReadComplete);
  ASSERT_EQ(read.values.size(), 1u);
  EXPECT_EQ(read.values[0].AsInt32(), 0x1234);
  EXPECT_EQ(read.qualities, std::vector<WORD>{OPC_QUALITY_GOOD});
}

// A device read refreshes the item: a subscriber hears of it.
TEST_F(PsOPCGroupCallbacksTest, ADeviceReadRefreshesTheItemForItsSubscriber) {
  const ComPtr<IOPCItemMgt> group = Subscribed();
  ASSERT_TRUE(Deliver(1));
  Read(group.Get(), OPC_DS_CACHE, {handles[0]});
  Advance(2000);
  Passes(3);
  EXPECT_EQ(sink->Count(), 1u) << "a cache read refreshes nothing";
  Read(group.Get(), OPC_DS_DEVICE, {handles[0]});
  ASSERT_TRUE(Deliver(2));
  EXPECT_EQ(sink->Calls()[1].kind, CallbackCall::DataChange);
  EXPECT_EQ(sink->Calls()[1].clientHandles, std::vector<OPCHANDLE>{100});
}

TEST_F(PsOPCGroupCallbacksTest, ARefreshCarriesEveryActiveItemAndEmptiesThePendingChange) {
  ComPtr<IOPCItemMgt> group = AddGroup("G");
  handles = AddItemsOf(group.Get(), {"Korva/Status", "Korva/BAT", "Test/Setpoint"});
  ASSERT_EQ(Advise(group.Get(), sink.Get()), S_OK);
  const AsyncAnswer refresh = Refresh2(group.Get(), 0x80000001u);
  EXPECT_EQ(refresh.result, S_OK);
  EXPECT_EQ(refresh.id, 0x80000001u);
  ASSERT_TRUE(Deliver(1));
  const CallbackCall call = sink->Calls()[0];
  EXPECT_EQ(call.kind, CallbackCall::DataChange);
  EXPECT_EQ(call.transactionID, 0x80000001u);
  EXPECT_EQ(call.clientHandles, (std::vector<OPCHANDLE>{100, 101, 102}));
  // The first data change would have carried the same items: it is gone.
  Advance(1000);
  Passes(5);
  EXPECT_EQ(sink->Count(), 1u);
  EXPECT_EQ(opcserver::CheckedCast<IOPCAsyncIO2>(group.Get())->Cancel2(0x80000001u), E_FAIL);
}

TEST_F(PsOPCGroupCallbacksTest, ARefreshWithoutActiveItemsFails) {
  struct Case {
    const char* name;
    BOOL groupActive;
    std::vector<std::string> items;
    BOOL itemsActive;
  };
  const Case cases[] = {{"inactive group", FALSE, {"Korva/Status"}, TRUE},
                        {"no items", TRUE, {}, TRUE},
                        {"inactive items", TRUE, {"Korva/Status", "Korva/BAT"}, FALSE}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ComPtr<IOPCItemMgt> group = AddGroup(c.name, c.groupActive);
    if (!c.items.empty())
      AddItemsOf(group.Get(), c.items, c.itemsActive);
    ASSERT_EQ(Advise(group.Get(), sink.Get()), S_OK);
    EXPECT_EQ(Refresh2(group.Get(), 1).result, E_FAIL);
    EXPECT_EQ(client->RemoveGroup(Impl(group.Get()).ServerHandle(), TRUE), S_OK);
  }
}

TEST_F(PsOPCGroupCallbacksTest, AnAsynchronousWriteIsCommittedOnTheMainThreadThenAnswered) {
  ComPtr<IOPCItemMgt> group = Subscribed();
  ASSERT_TRUE(Deliver(1));

  // Refused at once: no answer follows.
  AsyncAnswer refused = Write2(group.Get(), {handles[0]}, {Int(1)}, 5);
  EXPECT_EQ(refused.result, S_FALSE);
  EXPECT_EQ(refused.errors, (std::vector<HRESULT>{OPC_E_BADRIGHTS}));
  refused = Write2(group.Get(), {handles[1]}, {VARIANT{}}, 5);
  EXPECT_EQ(refused.errors, (std::vector<HRESULT>{OPC_E_BADTYPE}));
  Run();
  Passes(3);
  EXPECT_EQ(sink->Count(), 1u);

  const AsyncAnswer accepted = Write2(group.Get(), {handles[1]}, {Int(42)}, 0xFFFFFFFFu);
  EXPECT_EQ(accepted.result, S_OK);
  EXPECT_EQ(accepted.id, 0xFFFFFFFFu);
  // Nothing is written before the main thread handles the message.
  EXPECT_EQ(setpoint->Value(), 50);
  Run();
  EXPECT_EQ(setpoint->Value(), 42);
  ASSERT_TRUE(Deliver(2));
  const CallbackCall write = sink->Calls()[1];
  EXPECT_EQ(write.kind, CallbackCall::WriteComplete);
  EXPECT_EQ(write.transactionID, 0xFFFFFFFFu);
  EXPECT_EQ(write.masterError, S_OK);
  EXPECT_EQ(write.clientHandles, (std::vector<OPCHANDLE>{101}));
  EXPECT_EQ(write.errors, (std::vector<HRESULT>{S_OK}));

  // The test float takes its value; one the variable refuses comes back in
  // the answer.
  const OPCHANDLE volts = AddItemsOf(group.Get(), {"Test/Voltage"})[0];
  struct Case {
    VARIANT value;
    DWORD id;
    HRESULT error;
  };
  for (const Case& c : {Case{Double(12.5), 6, S_OK}, Case{Double(500), 7, OPC_E_RANGE}}) {
    EXPECT_EQ(Write2(group.Get(), {volts}, {c.value}, c.id).result, S_OK);
    Run();
    CallbackCall answer;
    ASSERT_TRUE(runners.StepUntil([&] {
      for (const CallbackCall& call : sink->Calls())
        if (call.kind == CallbackCall::WriteComplete && call.transactionID == c.id)
          answer = call;
      return answer.transactionID == c.id;
    }));
    EXPECT_EQ(answer.masterError, c.error == S_OK ? S_OK : S_FALSE);
    EXPECT_EQ(answer.errors, (std::vector<HRESULT>{c.error}));
  }
  EXPECT_DOUBLE_EQ(voltage->Value(), 12.5);
}

// A value given by reference lies in the caller's memory, which is gone
// (over DCOM: the stub's buffer is freed) or changed by the time the main
// thread commits: the write takes the value the reference shows at the call.
TEST_F(PsOPCGroupCallbacksTest, AWriteTakesAValueGivenByReferenceAsItIsAtTheCall) {
  ComPtr<IOPCItemMgt> group = Subscribed();
  const OPCHANDLE volts = AddItemsOf(group.Get(), {"Test/Voltage"})[0];
  double number = 12.5;
  BSTR text = SysAllocString(OLESTR("17.25"));
  VARIANT inner = Double(3.5);
  VARIANT byNumber{};
  byNumber.vt = VT_BYREF | VT_R8;
  byNumber.pdblVal = &number;
  VARIANT byText{};
  byText.vt = VT_BYREF | VT_BSTR;
  byText.pbstrVal = &text;
  VARIANT byVariant{};
  byVariant.vt = VT_BYREF | VT_VARIANT;
  byVariant.pvarVal = &inner;

  EXPECT_EQ(Write2(group.Get(), {volts}, {byNumber}, 6).result, S_OK);
  number = 20;  // in range: a late read would take it
  Run();
  EXPECT_DOUBLE_EQ(voltage->Value(), 12.5);
  EXPECT_EQ(Write2(group.Get(), {volts}, {byText}, 7).result, S_OK);
  SysFreeString(text);
  text = nullptr;
  Run();
  EXPECT_DOUBLE_EQ(voltage->Value(), 17.25);
  EXPECT_EQ(Write(group.Get(), {volts}, {byVariant}), std::vector<HRESULT>{S_OK});
  EXPECT_DOUBLE_EQ(voltage->Value(), 3.5);

  // What cannot be taken whole at the call is refused at once.
  VARIANT toNothing{};
  toNothing.vt = VT_BYREF | VT_R8;
  VARIANT twice{};
  twice.vt = VT_BYREF | VT_VARIANT;
  twice.pvarVal = &byVariant;
  // An array of variants that holds a reference (each call frees its own).
  const auto inArray = [&] {
    VARIANT array{};
    array.vt = VT_ARRAY | VT_VARIANT;
    array.parray = SafeArrayCreateVector(VT_VARIANT, 0, 1);
    LONG first = 0;
    EXPECT_EQ(SafeArrayPutElement(array.parray, &first, &byNumber), S_OK);
    return array;
  };
  for (int i = 0; i < 3; ++i) {
    const VARIANT refused = i == 0 ? toNothing : i == 1 ? twice : VARIANT{};
    const AsyncAnswer answer = Write2(group.Get(), {volts}, {i == 2 ? inArray() : refused}, 8);
    EXPECT_EQ(answer.errors, std::vector<HRESULT>{OPC_E_BADTYPE}) << i;
    EXPECT_EQ(Write(group.Get(), {volts}, {i == 2 ? inArray() : refused}),
              std::vector<HRESULT>{OPC_E_BADTYPE})
        << i;
  }
  Run();
  EXPECT_DOUBLE_EQ(voltage->Value(), 3.5);
}

TEST_F(PsOPCGroupCallbacksTest, APostedWriteHoldsItsGroupAndIsFreedOnEveryPath) {
  struct Case {
    const char* name;
    // What happens between the write and the main thread's turn.
    std::function<void(ComPtr<IOPCItemMgt>&, DWORD cookie)> meanwhile;
    int64_t objectsBefore;  // live objects then, against those at the write
    int64_t objectsAfter;   // once the message was handled
    int32_t written;        // the setpoint's value then
  };
  const Case cases[] = {
      {"sink gone",
       [](ComPtr<IOPCItemMgt>& group, DWORD cookie) {
         EXPECT_EQ(Unadvise(group.Get(), cookie), S_OK);
       },
       0, 0, 60},
      // The message alone keeps the group.
      {"group removed and released",
       [this](ComPtr<IOPCItemMgt>& group, DWORD) {
         EXPECT_EQ(client->RemoveGroup(Impl(group.Get()).ServerHandle(), TRUE), S_OK);
         group.Reset();
       },
       0, -1, 50},
      {"client released",
       [this](ComPtr<IOPCItemMgt>& group, DWORD) {
         group.Reset();
         client.Reset();
       },
       -1, -2, 50},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    if (!client)
      client = Connect();
    sink = opcserver::MakeComObject<RecordingCallback>();
    ComPtr<IOPCItemMgt> group = Subscribed();
    const int64_t objects = opcserver::LiveComObjects();
    EXPECT_EQ(Write2(group.Get(), {handles[1]}, {Int(60)}, 9).result, S_OK);
    c.meanwhile(group, cookie);
    EXPECT_EQ(opcserver::LiveComObjects() - objects, c.objectsBefore);
    Run();
    EXPECT_EQ(opcserver::LiveComObjects() - objects, c.objectsAfter);
    EXPECT_EQ(setpoint->Value(), c.written);
    Passes(3);
    for (const CallbackCall& call : sink->Calls())
      EXPECT_NE(call.kind, CallbackCall::WriteComplete);
    if (group) {
      EXPECT_EQ(client->RemoveGroup(Impl(group.Get()).ServerHandle(), TRUE), S_OK);
    }
    setpoint->SetValue(50);
  }
}

TEST_F(PsOPCGroupCallbacksTest, AnswersQueuedForALeavingSinkAreDropped) {
  ComPtr<IOPCItemMgt> group = Subscribed();
  for (DWORD id = 1; id <= 3; ++id)
    EXPECT_EQ(Read2(group.Get(), handles, id).result, S_OK);
  EXPECT_EQ(Unadvise(group.Get(), cookie), S_OK);
  Passes(3);
  EXPECT_EQ(sink->Count(), 0u);
  EXPECT_EQ(Read2(group.Get(), handles, 4).result, CONNECT_E_NOCONNECTION);
}

// ---- One sink per group ------------------------------------------------------------------

TEST_F(PsOPCGroupCallbacksTest, AGroupServesOneSinkOfEitherKind) {
  ComPtr<IOPCItemMgt> group = AddGroup("G");
  handles = AddItemsOf(group.Get(), {"Korva/Status"});
  const auto advise = opcserver::MakeComObject<RecordingAdviseSink>();
  const auto other = opcserver::MakeComObject<RecordingAdviseSink>();

  // DA 1.0 first: a second sink of either kind is refused.
  DWORD connection = 0;
  EXPECT_EQ(DAdvise(group.Get(), advise.Get(), OPCSTMFORMATDATA, &connection), S_OK);
  EXPECT_EQ(connection, 1u);
  EXPECT_EQ(DAdvise(group.Get(), other.Get(), OPCSTMFORMATDATA), CONNECT_E_ADVISELIMIT);
  EXPECT_EQ(Advise(group.Get(), sink.Get()), CONNECT_E_ADVISELIMIT);
  EXPECT_EQ(DUnadvise(group.Get(), 2), OLE_E_NOCONNECTION);
  EXPECT_EQ(DUnadvise(group.Get(), 1), S_OK);
  // The leaving sink's thread ended with it.
  EXPECT_EQ(runners.Count(), 0u);
  EXPECT_EQ(DUnadvise(group.Get(), 1), OLE_E_NOCONNECTION);

  // DA 2.0 next: DAdvise is refused, DUnadvise leaves it alone.
  DWORD cookie2 = 0;
  EXPECT_EQ(Advise(group.Get(), sink.Get(), &cookie2), S_OK);
  EXPECT_EQ(DAdvise(group.Get(), advise.Get(), OPCSTMFORMATDATA), CONNECT_E_ADVISELIMIT);
  EXPECT_EQ(DUnadvise(group.Get(), 1), OLE_E_NOCONNECTION);
  EXPECT_TRUE(Impl(group.Get()).CallbackConnected());
  ASSERT_TRUE(Deliver(1));
  EXPECT_EQ(Unadvise(group.Get(), cookie2), S_OK);
  EXPECT_FALSE(Impl(group.Get()).CallbackConnected());
  EXPECT_EQ(runners.Count(), 0u);

  // After both left a DA 1.0 sink is welcome again.
  EXPECT_EQ(DAdvise(group.Get(), other.Get(), OPCSTMFORMATDATA), S_OK);
  EXPECT_EQ(DUnadvise(group.Get(), 1), S_OK);
  EXPECT_EQ(advise->Count(), 0u);
}

// Answers QueryInterface for IOPCDataCallback once, the connection
// point's own question, and never again.
class FickleCallback : public RecordingCallback {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    if (IsEqualIID(riid, IID_IOPCDataCallback) && asked_++ > 0) {
      *ppv = nullptr;
      return E_NOINTERFACE;
    }
    return RecordingCallback::QueryInterface(riid, ppv);
  }

 private:
  int asked_ = 0;
};

TEST_F(PsOPCGroupCallbacksTest, ARefusedSinkLeavesTheGroupWithoutOne) {
  ComPtr<IOPCItemMgt> group = AddGroup("G");
  handles = AddItemsOf(group.Get(), {"Korva/Status"});
  // Without the interface the point refuses it.
  const auto plain = opcserver::MakeComObject<RecordingAdviseSink>();
  EXPECT_EQ(Advise(group.Get(), plain.Get()), CONNECT_E_CANNOTCONNECT);
  // The group asks once more and is refused.
  const auto fickle = opcserver::MakeComObject<FickleCallback>();
  EXPECT_TRUE(FAILED(Advise(group.Get(), fickle.Get())));
  EXPECT_TRUE(Logged("G: Callback connection failed"));
  EXPECT_FALSE(Impl(group.Get()).CallbackConnected());
  EXPECT_EQ(runners.Count(), 0u);
  EXPECT_EQ(Read2(group.Get(), handles, 1).result, CONNECT_E_NOCONNECTION);
  const auto advise = opcserver::MakeComObject<RecordingAdviseSink>();
  EXPECT_EQ(DAdvise(group.Get(), advise.Get(), OPCSTMFORMATDATA), S_OK);
  EXPECT_EQ(DUnadvise(group.Get(), 1), S_OK);
}

TEST_F(PsOPCGroupCallbacksTest, DataObjectMethodsOtherThanTheAdvisesAreNotImplemented) {
  ComPtr<IOPCItemMgt> group = AddGroup("G");
  const auto data = opcserver::CheckedCast<IDataObject>(group.Get());
  FORMATETC format{};
  STGMEDIUM medium;
  std::memset(&medium, 0xAB, sizeof medium);
  EXPECT_EQ(data->GetData(&format, &medium), E_NOTIMPL);
  EXPECT_EQ(medium.hGlobal, nullptr);
  EXPECT_EQ(data->GetDataHere(&format, &medium), E_NOTIMPL);
  EXPECT_EQ(data->QueryGetData(&format), E_NOTIMPL);
  FORMATETC out;
  std::memset(&out, 0xAB, sizeof out);
  EXPECT_EQ(data->GetCanonicalFormatEtc(&format, &out), E_NOTIMPL);
  EXPECT_EQ(out.ptd, nullptr);
  EXPECT_EQ(data->SetData(&format, &medium, FALSE), E_NOTIMPL);
  IEnumFORMATETC* formats = reinterpret_cast<IEnumFORMATETC*>(1);
  EXPECT_EQ(data->EnumFormatEtc(1, &formats), E_NOTIMPL);
  EXPECT_EQ(formats, nullptr);
  IEnumSTATDATA* advises = reinterpret_cast<IEnumSTATDATA*>(1);
  EXPECT_EQ(data->EnumDAdvise(&advises), E_NOTIMPL);
  EXPECT_EQ(advises, nullptr);
}

// ---- DA 1.0 -------------------------------------------------------------------------------

class PsOPCGroupStreamTest : public PsOPCGroupCallbacksTest {
 protected:
  PsOPCGroupStreamTest() { advise = opcserver::MakeComObject<RecordingAdviseSink>(); }
  bool DeliverStreams(size_t count) {
    return runners.StepUntil([&] { return advise->Count() >= count; });
  }
  ComPtr<RecordingAdviseSink> advise;
};

TEST_F(PsOPCGroupStreamTest, TheFirstStreamCarriesEveryActiveItemInTheAdvisedFormat) {
  device->SetValue("abc");
  struct Case {
    CLIPFORMAT format;
    std::vector<std::string> items;
    size_t headerSize;
    DWORD size;
  };
  const Case cases[] = {
      {OPCSTMFORMATDATA, {"Korva/Status", "Test/Setpoint"}, 12, 20 + 2 * 12 + 2 * 16},
      {OPCSTMFORMATDATATIME, {"Korva/Status", "Test/Setpoint"}, 20, 20 + 2 * 20 + 2 * 16},
      // The text's length in bytes, its characters and a zero follow.
      {OPCSTMFORMATDATA, {"Korva/Device"}, 12, 20 + 12 + 16 + 12},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.size);
    advise = opcserver::MakeComObject<RecordingAdviseSink>();
    ComPtr<IOPCItemMgt> group = AddGroup("G");
    handles = AddItemsOf(group.Get(), c.items);
    ASSERT_EQ(DAdvise(group.Get(), advise.Get(), c.format), S_OK);
    ASSERT_TRUE(DeliverStreams(1));
    const AdviseCall stream = advise->Calls()[0];
    EXPECT_EQ(stream.format.cfFormat, c.format);
    EXPECT_EQ(stream.format.tymed, TYMED_HGLOBAL);
    EXPECT_EQ(stream.At<DWORD>(0), c.size);
    EXPECT_EQ(stream.At<DWORD>(4), c.items.size());
    EXPECT_EQ(stream.At<DWORD>(8), 7u);
    EXPECT_EQ(stream.At<DWORD>(12), 0u);
    const std::vector<korva_test::ReadValue> read = Read(group.Get(), OPC_DS_CACHE, handles);
    for (size_t i = 0; i < c.items.size(); ++i) {
      const size_t header = 20 + i * c.headerSize;
      EXPECT_EQ(stream.At<DWORD>(header), 100 + i);
      EXPECT_EQ(stream.At<WORD>(header + 8), read[i].quality);
      if (c.headerSize == 20) {
        const uint64_t fileTime = stream.At<uint64_t>(header + 12);
        EXPECT_NE(fileTime, 0u);
        EXPECT_DOUBLE_EQ(toolkit::FileTimeToDateTime(fileTime), read[i].time);
      }
    }
    if (c.items[0] == "Korva/Device") {
      const DWORD valueOffset = stream.At<DWORD>(24);
      EXPECT_EQ(stream.At<VARTYPE>(valueOffset), VT_BSTR);
      EXPECT_EQ(stream.At<DWORD>(valueOffset + 16), 6u);
      EXPECT_EQ(stream.At<char16_t>(valueOffset + 20), u'a');
    }
    EXPECT_EQ(DUnadvise(group.Get(), 1), S_OK);
    EXPECT_EQ(client->RemoveGroup(Impl(group.Get()).ServerHandle(), TRUE), S_OK);
  }
}

TEST_F(PsOPCGroupStreamTest, DA1CallsCountTheirIDsAndAnswerInStreams) {
  ComPtr<IOPCItemMgt> group = AddGroup("G");
  handles = AddItemsOf(group.Get(), {"Korva/Status", "Test/Setpoint"});
  ASSERT_EQ(DAdvise(group.Get(), advise.Get(), OPCSTMFORMATDATA), S_OK);
  ASSERT_TRUE(DeliverStreams(1));

  // Another connection is refused before an id is taken, and so is a source
  // other than the cache and the device.
  EXPECT_EQ(Read1(group.Get(), handles, 2).result, CONNECT_E_NOCONNECTION);
  EXPECT_EQ(Refresh1(group.Get(), 2).result, CONNECT_E_NOCONNECTION);
  EXPECT_EQ(Write1(group.Get(), {handles[1]}, {Int(1)}, 2).result, CONNECT_E_NOCONNECTION);
  const ComPtr<IOPCAsyncIO> io = opcserver::CheckedCast<IOPCAsyncIO>(group.Get());
  DWORD id = 0;
  HRESULT* errors = nullptr;
  for (const OPCDATASOURCE source : {OPCDATASOURCE(0), OPCDATASOURCE(3)}) {
    EXPECT_EQ(io->Read(1, source, 2, handles.data(), &id, &errors), E_INVALIDARG);
    EXPECT_EQ(errors, nullptr);
    EXPECT_EQ(io->Refresh(1, source, &id), E_INVALIDARG);
    EXPECT_EQ(Refresh2(group.Get(), 5, source).result, E_INVALIDARG);
  }
  const AsyncAnswer first = Read1(group.Get(), handles);
  EXPECT_EQ(first.result, S_OK);
  EXPECT_EQ(first.id, 101u);
  const AsyncAnswer second = Read1(group.Get(), {handles[0]});
  EXPECT_EQ(second.id, 102u);
  const AsyncAnswer write = Write1(group.Get(), {handles[0], handles[1]}, {Int(1), Int(70)});
  EXPECT_EQ(write.result, S_FALSE);
  EXPECT_EQ(write.id, 103u);
  Run();
  const AsyncAnswer refresh = Refresh1(group.Get());
  EXPECT_EQ(refresh.id, 104u);
  EXPECT_EQ(opcserver::CheckedCast<IOPCAsyncIO>(group.Get())->Cancel(101), E_FAIL);

  ASSERT_TRUE(DeliverStreams(5));
  const auto calls = advise->Calls();
  EXPECT_EQ(calls[1].At<DWORD>(12), 101u);
  EXPECT_EQ(calls[1].At<DWORD>(4), 2u);
  EXPECT_EQ(calls[2].At<DWORD>(12), 102u);
  EXPECT_EQ(calls[2].At<DWORD>(4), 1u);
  // The write answers in its own format: 16 bytes and 8 per accepted item.
  const AdviseCall& written = calls[3];
  EXPECT_EQ(written.format.cfFormat, OPCSTMFORMATWRITECOMPLETE);
  EXPECT_EQ(written.bytes.size(), 16u + 8u);
  EXPECT_EQ(written.At<DWORD>(0), 1u);
  EXPECT_EQ(written.At<DWORD>(8), 103u);
  EXPECT_EQ(written.At<DWORD>(16), 101u);
  EXPECT_EQ(written.At<HRESULT>(20), S_OK);
  EXPECT_EQ(setpoint->Value(), 70);
  EXPECT_EQ(calls[4].format.cfFormat, OPCSTMFORMATDATA);
  EXPECT_EQ(calls[4].At<DWORD>(12), 104u);
  EXPECT_EQ(calls[4].At<DWORD>(4), 2u);
}

// A DA 1.0 read from the device reads the variable now; one from the cache
// tells that an inactive item is out of service.
TEST_F(PsOPCGroupStreamTest, ADA1ReadFromTheDeviceReadsTheVariable) {
  ComPtr<IOPCItemMgt> group = AddGroup("G");
  handles = AddItemsOf(group.Get(), {"Korva/Status"}, FALSE);
  ASSERT_EQ(DAdvise(group.Get(), advise.Get(), OPCSTMFORMATDATA), S_OK);
  SetStatus(0x1234);
  const ComPtr<IOPCAsyncIO> io = opcserver::CheckedCast<IOPCAsyncIO>(group.Get());
  for (const OPCDATASOURCE source : {OPC_DS_DEVICE, OPC_DS_CACHE}) {
    DWORD id = 0;
    HRESULT* errors = nullptr;
    ASSERT_EQ(io->Read(1, source, 1, handles.data(), &id, &errors), S_OK);
    CoTaskMemFree(errors);
  }
  ASSERT_TRUE(DeliverStreams(2));
  const auto calls = advise->Calls();
  // One item: its header at 20, its value where the header says.
  const AdviseCall& device = calls[0];
  EXPECT_EQ(device.At<WORD>(28), OPC_QUALITY_GOOD);
  const DWORD value = device.At<DWORD>(24);
  EXPECT_EQ(device.At<VARTYPE>(value), VT_I4);
  EXPECT_EQ(device.At<LONG>(value + 8), 0x1234);
  EXPECT_EQ(calls[1].At<WORD>(28), OPC_QUALITY_OUT_OF_SERVICE);
}

TEST_F(PsOPCGroupStreamTest, ManyLongTextsArriveWhole) {
  device->SetValue(std::string(20, 'x'));
  ComPtr<IOPCItemMgt> group = AddGroup("G");
  const std::vector<std::string> ids(5000, "Korva/Device");
  ItemDefs definitions;
  for (const std::string& id : ids)
    definitions.Add(id);
  ASSERT_EQ(AddItems(group.Get(), definitions).result, S_OK);
  ASSERT_EQ(DAdvise(group.Get(), advise.Get(), OPCSTMFORMATDATA), S_OK);
  ASSERT_TRUE(DeliverStreams(1));
  const AdviseCall stream = advise->Calls()[0];
  const size_t size = 20 + 5000 * (12 + 16 + 4 + 2 * 20 + 2);
  EXPECT_EQ(stream.At<DWORD>(0), size);
  EXPECT_EQ(stream.At<DWORD>(4), 5000u);
  EXPECT_EQ(stream.bytes.size(), size);
  EXPECT_EQ(DUnadvise(group.Get(), 1), S_OK);
}

}  // namespace
