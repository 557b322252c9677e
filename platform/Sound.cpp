#include "platform/Sound.h"

#include "platform/EventLoop.h"

namespace platform {

void RecordingSound::Beep(uint32_t frequencyHz, uint32_t durationMs) {
  {
    std::lock_guard lock(mutex_);
    tones_.push_back({frequencyHz, durationMs});
  }
  MainLoop().Sleep(durationMs);
}

void RecordingSound::MessageBeep(uint32_t type) {
  std::lock_guard lock(mutex_);
  messageBeeps_.push_back(type);
}

std::vector<RecordingSound::Tone> RecordingSound::tones() const {
  std::lock_guard lock(mutex_);
  return tones_;
}

std::vector<uint32_t> RecordingSound::messageBeeps() const {
  std::lock_guard lock(mutex_);
  return messageBeeps_;
}

void RecordingSound::Clear() {
  std::lock_guard lock(mutex_);
  tones_.clear();
  messageBeeps_.clear();
}

}  // namespace platform
