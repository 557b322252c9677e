// Signals and slots: mirrored connection, activation, destruction orders, and
// walks that survive handlers changing the lists under them.
#include <gtest/gtest.h>

#include <memory>
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
