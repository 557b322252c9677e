// Modal message boxes. The real one on Windows; elsewhere, and in tests, a
// stand-in that records each box and answers from a script.
#pragma once

#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

namespace platform {

// Button sets, icons and answers as the Windows message box numbers them.
inline constexpr uint32_t kMbOk = 0x0;
inline constexpr uint32_t kMbOkCancel = 0x1;
inline constexpr uint32_t kMbYesNo = 0x4;
inline constexpr uint32_t kMbIconError = 0x10;
inline constexpr uint32_t kMbIconQuestion = 0x20;
inline constexpr uint32_t kMbIconWarning = 0x30;
inline constexpr uint32_t kMbIconInformation = 0x40;
inline constexpr uint32_t kMbDefButton2 = 0x100;
inline constexpr uint32_t kMbSetForeground = 0x10000;

inline constexpr int kIdOk = 1;
inline constexpr int kIdCancel = 2;
inline constexpr int kIdYes = 6;
inline constexpr int kIdNo = 7;

class MessageBoxes {
 public:
  virtual ~MessageBoxes() = default;
  // Shows the box and returns the button pressed (kIdOk, kIdYes, ...).
  virtual int Show(const std::string& text, const std::string& caption, uint32_t flags) = 0;
};

// The style the system's box is shown with: the caller's, always brought to
// the foreground. A box raised while the program hides behind its tray icon
// (no active window of ours) would otherwise open behind other windows.
uint32_t NativeBoxStyle(uint32_t flags);

// Records every box; answers with the next scripted answer, or with the
// box's default button when the script is empty.
class ScriptedMessageBoxes : public MessageBoxes {
 public:
  struct Shown {
    std::string text;
    std::string caption;
    uint32_t flags;
    int answer;
  };

  int Show(const std::string& text, const std::string& caption, uint32_t flags) override;

  void QueueAnswer(int answer);
  std::vector<Shown> shown() const;
  void Clear();

  static int DefaultAnswer(uint32_t flags);

 private:
  mutable std::mutex mutex_;
  std::deque<int> answers_;
  std::vector<Shown> shown_;
};

}  // namespace platform
