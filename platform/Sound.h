// The PC speaker tone and the system's message sounds.
#pragma once

#include <cstdint>
#include <mutex>
#include <vector>

namespace platform {

class Sound {
 public:
  virtual ~Sound() = default;
  // Sounds a tone; returns when it has ended.
  virtual void Beep(uint32_t frequencyHz, uint32_t durationMs) = 0;
  // Plays the system sound of a message-box type (0, 0x10, 0x30, ...); does not block.
  virtual void MessageBeep(uint32_t type) = 0;
};

// Records what would sound. A tone takes its time on the loop's clock, so
// under a virtual clock a tune moves time exactly as long as it lasts.
class RecordingSound : public Sound {
 public:
  struct Tone {
    uint32_t frequencyHz;
    uint32_t durationMs;
  };

  void Beep(uint32_t frequencyHz, uint32_t durationMs) override;
  void MessageBeep(uint32_t type) override;

  std::vector<Tone> tones() const;
  std::vector<uint32_t> messageBeeps() const;
  void Clear();

 private:
  mutable std::mutex mutex_;
  std::vector<Tone> tones_;
  std::vector<uint32_t> messageBeeps_;
};

}  // namespace platform
