// Unit USB_Status: TUSB_Status, the thread that polls the module over USB.
// Every 501 ms it asks how many bytes wait; with at least 84 it reads one
// block of 84, hands it over, and throws the rest away, so each cycle looks
// at fresh frames. It does I/O only: the texts it read and its status lines
// go to the owner's callbacks, which must not wait for the main thread. Its
// one write to shared state is ReplySeen, set when a block holds a frame, so
// that the main thread's shutdown command sees replies while it waits.
#pragma once

#include <atomic>
#include <functional>
#include <string>

#include "platform/Thread.h"

namespace monitor {

class TUSB_Status {
 public:
  // A block and the pauses of one cycle.
  static constexpr uint32_t kBlockBytes = 84;
  static constexpr uint32_t kFirstPauseMs = 1;
  static constexpr uint32_t kCyclePauseMs = 500;

  struct Handlers {
    // A status text for the status bar and the history.
    std::function<void(const std::string&)> ShowStatus;
    // The text read in a cycle.
    std::function<void(const std::string&)> Received;
  };

  // Sets the device up on the calling thread (each failure shown, none
  // stopping the rest), then starts polling.
  TUSB_Status(Handlers handlers, std::atomic<bool>& replySeen);
  // Asks the thread to stop and joins it.
  ~TUSB_Status();
  TUSB_Status(const TUSB_Status&) = delete;
  TUSB_Status& operator=(const TUSB_Status&) = delete;

  // Ends its pause at once and the thread at its next look; any thread.
  void Terminate();
  // Joins the thread (main thread).
  void WaitFor() { thread_.Join(); }

 private:
  void Execute();
  void Show(const std::string& text);
  // Throws away what else waits, unless told to stop.
  void PurgeUsbRx();

  Handlers handlers_;
  std::atomic<bool>& replySeen_;
  std::atomic<bool> terminated_{false};
  platform::WorkerThread thread_;
};

}  // namespace monitor
