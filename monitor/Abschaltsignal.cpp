#include "monitor/Abschaltsignal.h"

#include <algorithm>

#include "monitor/Serial.h"

namespace monitor {
namespace {

// The lead-in wait looks for a stop this often.
constexpr uint32_t kLeadStepMs = 10;

uint32_t GapAfter(int edge) {
  return edge == 1 || edge == 2 || edge == 6 ? TAbschaltimpuls::kShortMs : TAbschaltimpuls::kLongMs;
}

}  // namespace

TAbschaltimpuls::TAbschaltimpuls(TSerial& port, platform::PulseClock& clock)
    : port_(port), clock_(clock) {}

TAbschaltimpuls::~TAbschaltimpuls() {
  Terminate();
  WaitFor();
}

void TAbschaltimpuls::Start() {
  thread_ = platform::WorkerThread([this] {
    platform::RaiseCurrentThreadPriority();
    Execute();
    finished_ = true;
  });
}

void TAbschaltimpuls::Report(const std::string& line) {
  if (OnLine)
    OnLine(line);
}

bool TAbschaltimpuls::Toggle() {
  const bool open = port_.Active();
  if (open && port_.ToggleRTS())
    return true;
  std::string line =
      "ShutdownPulse: COM" + std::to_string(port_.COMPort()) + " - module not signalled";
  if (open)
    line += ": " + port_.LastSystemErrorText();
  Report(line);
  return false;
}

void TAbschaltimpuls::WaitLead(uint32_t ms) {
  const uint64_t end = clock_.NowMs() + ms;
  for (uint64_t now = clock_.NowMs(); now < end && !terminated_; now = clock_.NowMs())
    clock_.Sleep(static_cast<uint32_t>(std::min<uint64_t>(end - now, kLeadStepMs)));
}

void TAbschaltimpuls::Execute() {
  // A port that fails ends the train at once; the shutdown goes on.
  auto failed = [this] {
    if (OnDone)
      OnDone(true);
  };
  if (port_.RTSActive && !Toggle())
    return failed();
  WaitLead(kLeadMs);

  uint64_t due = clock_.NowMs();
  uint64_t previous = due;
  int spins = 0;
  int edge = 0;
  while (!terminated_) {
    uint64_t now = clock_.NowMs();
    while (now <= due && !terminated_) {
      ++spins;
      clock_.YieldSlice();
      now = clock_.NowMs();
    }
    if (terminated_)
      return;
    edgeCount_ = ++edge;
    if (!Toggle())
      return failed();
    const std::string edgeText =
        EdgeLabel + (port_.RTSActive ? " L-H: " : " H-L: ") + std::to_string(edge);
    due = clock_.NowMs();
    if (LogEdges) {
      Report(edgeText + ", " + TimingLabel + ": " + std::to_string(now - previous) + "ms .. " +
             std::to_string(due - previous) + "ms, " + SpinLabel + ": " + std::to_string(spins));
    }
    previous = due;
    spins = 0;
    clock_.Sleep(0);
    if (edge == kEdges) {
      if (OnDone)
        OnDone(true);
      return;
    }
    due += GapAfter(edge);
  }
}

}  // namespace monitor
