// Unit Abschaltsignal: TAbschaltimpuls, the thread that tells a module on the
// serial link that the PC goes down: seven edges on the RTS line, timed by
// spinning on the pulse clock. RTS is brought low, 290 ms later edge 1 raises
// it; each later edge follows the completion of the one before by 36 ms
// (after edges 1, 2 and 6) or 220 ms (after edges 3, 4 and 5); RTS ends high.
//
// The thread does I/O only. It hands its history lines and its end to the
// owner's callbacks, which must not wait for the main thread (a busy main
// thread must not stretch the pulses, and the owner joins the thread there).
// The owner sets every field before Start; the thread reads them from then on.
#pragma once

#include <atomic>
#include <functional>
#include <string>

#include "platform/PulseClock.h"
#include "platform/Thread.h"

namespace monitor {

class TSerial;

class TAbschaltimpuls {
 public:
  // The edges of a whole train, and the waits after each.
  static constexpr int kEdges = 7;
  static constexpr uint32_t kLeadMs = 290;
  static constexpr uint32_t kShortMs = 36;
  static constexpr uint32_t kLongMs = 220;

  TAbschaltimpuls(TSerial& port, platform::PulseClock& clock);
  // Asks the thread to stop and joins it.
  ~TAbschaltimpuls();
  TAbschaltimpuls(const TAbschaltimpuls&) = delete;
  TAbschaltimpuls& operator=(const TAbschaltimpuls&) = delete;

  // Write a history line per edge.
  bool LogEdges = false;
  // Language texts 112, 114 and 116: the edge, its timing and the spins.
  std::string EdgeLabel;
  std::string TimingLabel;
  std::string SpinLabel;
  // Called on the pulse thread with each history line: the edge lines when
  // LogEdges, and the line that the module was not signalled.
  std::function<void(const std::string&)> OnLine;
  // Called on the pulse thread when the train is over: True after the
  // seventh edge, and also when the port was closed or refused RTS (the
  // shutdown must follow all the same). Not called when told to stop.
  std::function<void(bool)> OnDone;

  // Starts the thread, at the highest priority the system gives it.
  void Start();
  // Makes the thread stop at its next edge or wait; safe from any thread.
  void Terminate() { terminated_ = true; }
  // Joins the thread (main thread).
  void WaitFor() { thread_.Join(); }
  bool Finished() const { return finished_; }
  int EdgeCount() const { return edgeCount_; }

 private:
  void Execute();
  // Waits `ms` on the pulse clock in small steps, so a stop is seen soon.
  void WaitLead(uint32_t ms);
  // One RTS change; false (after reporting it) when the port is closed or refused it.
  bool Toggle();
  void Report(const std::string& line);

  TSerial& port_;
  platform::PulseClock& clock_;
  std::atomic<bool> terminated_{false};
  std::atomic<bool> finished_{false};
  std::atomic<int> edgeCount_{0};
  platform::WorkerThread thread_;
};

}  // namespace monitor
