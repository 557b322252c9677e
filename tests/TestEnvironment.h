// What every test stands on: the process-wide loop runs on a virtual clock,
// message boxes answer from a script and tones are recorded, on every platform.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/EventLoop.h"
#include "platform/MessageBoxes.h"
#include "platform/Services.h"
#include "platform/Sound.h"
#include "platform/VirtualClock.h"

namespace korva_test {

class VirtualTimeTest : public testing::Test {
 protected:
  VirtualTimeTest() {
    auto waiter = std::make_unique<platform::VirtualWaiter>();
    clock_ = waiter.get();
    previousLoop_ =
        platform::ReplaceMainLoop(std::make_unique<platform::EventLoop>(std::move(waiter)));
  }
  ~VirtualTimeTest() override { platform::ReplaceMainLoop(std::move(previousLoop_)); }

  platform::EventLoop& loop() { return platform::MainLoop(); }
  platform::VirtualWaiter& clock() { return *clock_; }
  // Lets virtual time pass while the loop handles what falls due.
  void Advance(uint32_t ms) { loop().RunFor(ms); }
  // The tones played so far: frequency and duration.
  std::vector<std::pair<uint32_t, uint32_t>> Tones() const {
    std::vector<std::pair<uint32_t, uint32_t>> tones;
    for (const auto& tone : sound_.tones())
      tones.emplace_back(tone.frequencyHz, tone.durationMs);
    return tones;
  }

  platform::ScriptedMessageBoxes boxes_;
  platform::RecordingSound sound_;

 private:
  platform::VirtualWaiter* clock_;
  std::unique_ptr<platform::EventLoop> previousLoop_;
  platform::ScopedService<platform::MessageBoxes> boxesGuard_{boxes_};
  platform::ScopedService<platform::Sound> soundGuard_{sound_};
};

#ifndef _WIN32
// An environment variable set (or, with nothing, unset) while it lives.
class ScopedVariable {
 public:
  ScopedVariable(const char* name, const std::optional<std::string>& value) : name_(name) {
    if (const char* previous = std::getenv(name))
      previous_ = previous;
    Set(value);
  }
  ~ScopedVariable() { Set(previous_); }
  ScopedVariable(const ScopedVariable&) = delete;
  ScopedVariable& operator=(const ScopedVariable&) = delete;

 private:
  void Set(const std::optional<std::string>& value) {
    if (value)
      setenv(name_, value->c_str(), 1);
    else
      unsetenv(name_);
  }
  const char* name_;
  std::optional<std::string> previous_;
};
#endif

}  // namespace korva_test
