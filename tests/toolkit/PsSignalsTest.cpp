// Signals and slots: mirrored connection, activation, destruction orders, and
// walks that survive handlers changing the lists under them.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <numeric>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "toolkit/Debugs.h"
#include "toolkit/PsSignals.h"

namespace {

using toolkit::TPsSignal;
using toolkit::TPsSlot;

// A slot that records what it hears under its own name.
struct NamedSlot : TPsSlot {
  NamedSlot(std::string name, std::vector<std::string>* heard) {
    OnActivate = [=](TPsSignal*) { heard->push_back(name + " activate"); };
    OnDeactivate = [=](TPsSignal*) { heard->push_back(name + " deactivate"); };
    OnDisconnect = [=](TPsSignal*) { heard->push_back(name + " disconnect"); };
    OnSignal = [=](vcl::TObject*) { heard->push_back(name + " signal"); };
  }
};

void Emit(TPsSignal& signal) {
  signal.ForEachSlot([&](TPsSlot* slot) { slot->DoSignal(signal.Owner()); });
}

TEST(PsSignalsTest, ConnectionsAreMirroredOnceWhicheverSideActs) {
  std::vector<std::string> heard;
  TPsSignal signal(nullptr);
  NamedSlot slot("s", &heard);
  slot.Connect(&signal);
  signal.Connect(&slot);
  slot.Connect(&signal);
  slot.Connect(nullptr);
  signal.Connect(nullptr);
  EXPECT_EQ(signal.SlotCount(), 1);
  EXPECT_EQ(slot.SignalCount(), 1);
  EXPECT_TRUE(signal.IsConnected(&slot) && slot.IsConnected(&signal));

  // Either side disconnects; the handler runs once, after both lists changed.
  for (const bool fromSignal : {true, false}) {
    heard.clear();
    signal.Connect(&slot);
    slot.OnDisconnect = [&](TPsSignal* gone) {
      EXPECT_EQ(gone, &signal);
      EXPECT_FALSE(signal.IsConnected(&slot) || slot.IsConnected(&signal));
      heard.push_back("disconnect");
    };
    if (fromSignal)
      signal.Disconnect(&slot);
    else
      slot.Disconnect(&signal);
    signal.Disconnect(&slot);  // not connected: nothing
    slot.Disconnect(nullptr);
    EXPECT_EQ(heard, std::vector<std::string>{"disconnect"});
    EXPECT_EQ(signal.SlotCount() + slot.SignalCount(), 0);
  }
}

TEST(PsSignalsTest, ActivationTellsTheConnectedSlotsOfChangesOnly) {
  std::vector<std::string> heard;
  TPsSignal signal(nullptr);
  EXPECT_TRUE(signal.Active());
  signal.SetActive(false);  // nobody connected: nobody told
  NamedSlot a("a", &heard), b("b", &heard);
  a.Connect(&signal);
  b.Connect(&signal);
  b.SetActive(false);  // the slots' own flags are not consulted
  EXPECT_TRUE(heard.empty()) << "a slot connected later is not told the state";
  signal.SetActive(false);
  signal.SetActive(true);
  signal.SetActive(true);
  EXPECT_EQ(heard, (std::vector<std::string>{"a activate", "b activate"}));

  heard.clear();
  Emit(signal);
  EXPECT_EQ(heard, std::vector<std::string>{"a signal"}) << "an inactive slot hears no signal";
}

TEST(PsSignalsTest, FreeingDisconnectsTheLastFirst) {
  std::vector<std::string> heard;
  {
    NamedSlot first("first", &heard), second("second", &heard), third("third", &heard);
    auto signal = std::make_unique<TPsSignal>(nullptr);
    for (TPsSlot* slot : {&first, &second, &third})
      slot->Connect(signal.get());
    signal.reset();
    EXPECT_EQ(heard, (std::vector<std::string>{"third disconnect", "second disconnect",
                                               "first disconnect"}));
    EXPECT_EQ(first.SignalCount() + second.SignalCount() + third.SignalCount(), 0);
  }
  heard.clear();
  TPsSignal one(nullptr), two(nullptr);
  auto slot = std::make_unique<TPsSlot>();
  slot->Connect(&one);
  slot->Connect(&two);
  slot->OnDeactivate = [&](TPsSignal*) { heard.push_back("deactivate"); };
  slot->OnDisconnect = [&](TPsSignal* signal) { heard.push_back(signal == &two ? "two" : "one"); };
  TPsSlot* freed = slot.get();
  slot.reset();
  EXPECT_EQ(heard, (std::vector<std::string>{"two", "one"}));
  EXPECT_FALSE(one.IsConnected(freed) || two.IsConnected(freed));
}

// Many connections on one side (a variable feeding many items, a list
// following many variables) keep their order and stay mirrored as they come
// and go, whichever side ends them.
TEST(PsSignalsTest, LongListsKeepTheirOrderAsConnectionsComeAndGo) {
  constexpr int kCount = 30;
  std::vector<std::string> heard;
  std::vector<std::unique_ptr<NamedSlot>> slots;
  std::vector<std::unique_ptr<TPsSignal>> signals;
  auto signal = std::make_unique<TPsSignal>(nullptr);
  TPsSlot listener;
  for (int i = 0; i < kCount; ++i) {
    slots.push_back(std::make_unique<NamedSlot>(std::to_string(i), &heard));
    slots.back()->Connect(signal.get());
    signals.push_back(std::make_unique<TPsSignal>(nullptr));
    signals.back()->Connect(&listener);
  }
  std::vector<int> expected(kCount);
  std::iota(expected.begin(), expected.end(), 0);
  const auto check = [&] {
    ASSERT_EQ(signal->SlotCount(), static_cast<int>(expected.size()));
    ASSERT_EQ(listener.SignalCount(), static_cast<int>(expected.size()));
    std::vector<std::string> names;
    for (int i = 0; i < signal->SlotCount(); ++i) {
      EXPECT_EQ(signal->Slots(i), slots[expected[i]].get()) << i;
      EXPECT_EQ(listener.Signals(i), signals[expected[i]].get()) << i;
      names.push_back(std::to_string(expected[i]) + " signal");
    }
    for (int i = 0; i < kCount; ++i) {
      const bool listed = std::find(expected.begin(), expected.end(), i) != expected.end();
      EXPECT_EQ(signal->IsConnected(slots[i].get()), listed) << i;
      EXPECT_EQ(slots[i]->IsConnected(signal.get()), listed) << i;
      EXPECT_EQ(listener.IsConnected(signals[i].get()), listed) << i;
      EXPECT_EQ(signals[i]->IsConnected(&listener), listed) << i;
    }
    heard.clear();
    Emit(*signal);
    EXPECT_EQ(heard, names);
  };
  // Each step ends the connections of the numbers it names, from either
  // side, or makes them again (at the end of the lists).
  const auto step = [&](bool connect, const std::function<bool(int)>& which) {
    for (int i = 0; i < kCount; ++i) {
      if (!which(i))
        continue;
      if (connect) {
        signal->Connect(slots[i].get());
        listener.Connect(signals[i].get());
        expected.push_back(i);
      } else {
        (i % 3 ? signal->Disconnect(slots[i].get()) : slots[i]->Disconnect(signal.get()));
        (i % 3 ? listener.Disconnect(signals[i].get()) : signals[i]->Disconnect(&listener));
        std::erase(expected, i);
      }
    }
    check();
  };
  check();
  step(false, [](int i) { return i % 2 == 1; });
  step(false, [](int i) { return i % 4 == 2; });
  step(true, [](int i) { return i == 5 || i == 1; });
  step(false, [](int i) { return i < 12 && i != 5; });
  step(true, [](int i) { return i % 2 == 1 && i > 12; });
  EXPECT_EQ(expected,
            (std::vector<int>{12, 16, 20, 24, 28, 5, 13, 15, 17, 19, 21, 23, 25, 27, 29}));

  heard.clear();
  signal.reset();
  std::vector<std::string> lastFirst;
  for (auto i = expected.rbegin(); i != expected.rend(); ++i)
    lastFirst.push_back(std::to_string(*i) + " disconnect");
  EXPECT_EQ(heard, lastFirst);
}

TEST(PsSignalsTest, WalksSkipSlotsThatHandlersDisconnectOrFree) {
  std::vector<std::string> heard;
  TPsSignal signal(nullptr);
  NamedSlot a("a", &heard), c("c", &heard);
  auto b = std::make_unique<NamedSlot>("b", &heard);
  auto d = std::make_unique<NamedSlot>("d", &heard);
  for (TPsSlot* slot : {static_cast<TPsSlot*>(&a), static_cast<TPsSlot*>(b.get()),
                        static_cast<TPsSlot*>(&c), static_cast<TPsSlot*>(d.get())})
    slot->Connect(&signal);
  // a disconnects the next slot, c frees the next one.
  a.OnSignal = [&](vcl::TObject*) {
    heard.push_back("a signal");
    b->Disconnect(&signal);
  };
  c.OnSignal = [&](vcl::TObject*) {
    heard.push_back("c signal");
    d.reset();
  };
  Emit(signal);
  EXPECT_EQ(heard,
            (std::vector<std::string>{"a signal", "b disconnect", "c signal", "d disconnect"}));

  // Deactivation and disconnecting all walk the same way.
  heard.clear();
  b->Connect(&signal);
  a.OnDeactivate = [&](TPsSignal*) {
    heard.push_back("a deactivate");
    b.reset();
  };
  signal.SetActive(false);
  EXPECT_EQ(heard, (std::vector<std::string>{"a deactivate", "b disconnect", "c deactivate"}));

  heard.clear();
  auto e = std::make_unique<NamedSlot>("e", &heard);
  e->Connect(&signal);
  e->OnDisconnect = [&](TPsSignal*) {
    heard.push_back("e disconnect");
    a.Disconnect(&signal);
  };
  signal.DisconnectAll();
  EXPECT_EQ(heard, (std::vector<std::string>{"e disconnect", "a disconnect", "c disconnect"}));
  EXPECT_EQ(signal.SlotCount(), 0);
}

TEST(PsSignalsTest, AHandlerMayFreeTheSignalItIsToldBy) {
  std::vector<std::string> heard;
  auto signal = std::make_unique<TPsSignal>(nullptr);
  NamedSlot a("a", &heard), b("b", &heard);
  a.Connect(signal.get());
  b.Connect(signal.get());
  a.OnSignal = [&](vcl::TObject*) { signal.reset(); };
  Emit(*signal);
  EXPECT_EQ(heard, (std::vector<std::string>{"b disconnect", "a disconnect"}));
  EXPECT_EQ(a.SignalCount() + b.SignalCount(), 0);
}

// Records the errors handed to the trace hooks.
struct ErrorWriter : toolkit::DebugWriter {
  explicit ErrorWriter(std::vector<std::string>* errors) : errors(errors) {}
  void Exception(const std::exception& error) override { errors->push_back(error.what()); }
  std::vector<std::string>* errors;
};

TEST(PsSignalsTest, FreeingNeverThrowsAndFinishesEveryDisconnection) {
  std::vector<std::string> errors;
  toolkit::SetDebugWriter(std::make_unique<ErrorWriter>(&errors));
  std::vector<std::string> heard;
  {
    NamedSlot a("a", &heard), b("b", &heard), c("c", &heard);
    auto signal = std::make_unique<TPsSignal>(nullptr);
    for (TPsSlot* slot : {&a, &b, &c})
      slot->Connect(signal.get());
    b.OnDisconnect = [](TPsSignal*) { throw std::runtime_error("b refuses"); };
    EXPECT_NO_THROW(signal.reset());
    EXPECT_EQ(heard, (std::vector<std::string>{"c disconnect", "a disconnect"}));
    EXPECT_EQ(a.SignalCount() + b.SignalCount() + c.SignalCount(), 0);
  }
  {
    TPsSignal one(nullptr), two(nullptr);
    auto slot = std::make_unique<TPsSlot>();
    slot->Connect(&one);
    slot->Connect(&two);
    slot->OnDisconnect = [](TPsSignal*) { throw std::runtime_error("slot refuses"); };
    EXPECT_NO_THROW(slot.reset());
    EXPECT_EQ(one.SlotCount() + two.SlotCount(), 0);
  }
  toolkit::SetDebugWriter(nullptr);
  EXPECT_EQ(errors, (std::vector<std::string>{"b refuses", "slot refuses", "slot refuses"}));
}

TEST(PsSignalsTest, ConnectionsMadeOnSeveralThreadsStayMirrored) {
  // One signal, slots connected and disconnected from both sides on four
  // threads at once: the lists agree afterwards.
  TPsSignal signal(nullptr);
  std::vector<std::unique_ptr<TPsSlot>> slots;
  for (int i = 0; i < 8; ++i)
    slots.push_back(std::make_unique<TPsSlot>());
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&, t] {
      for (int round = 0; round < 500; ++round) {
        TPsSlot& slot = *slots[static_cast<size_t>((t + round) % 8)];
        if (round % 2 == 0)
          slot.Connect(&signal);
        else
          signal.Connect(&slot);
        if (round % 3 == 0)
          signal.Disconnect(&slot);
        else if (round % 3 == 1)
          slot.Disconnect(&signal);
      }
    });
  for (std::thread& thread : threads)
    thread.join();
  int connected = 0;
  for (const auto& slot : slots) {
    EXPECT_EQ(slot->IsConnected(&signal), signal.IsConnected(slot.get()));
    EXPECT_EQ(slot->SignalCount(), slot->IsConnected(&signal) ? 1 : 0);
    connected += slot->SignalCount();
  }
  EXPECT_EQ(signal.SlotCount(), connected);
}

}  // namespace
