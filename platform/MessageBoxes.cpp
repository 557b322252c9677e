#include "platform/MessageBoxes.h"

namespace platform {

uint32_t NativeBoxStyle(uint32_t flags) {
  return flags | kMbSetForeground;
}

int ScriptedMessageBoxes::DefaultAnswer(uint32_t flags) {
  const bool second = (flags & 0xF00) == kMbDefButton2;
  switch (flags & 0xF) {
    case kMbYesNo:
      return second ? kIdNo : kIdYes;
    case kMbOkCancel:
      return second ? kIdCancel : kIdOk;
    default:
      return kIdOk;
  }
}

int ScriptedMessageBoxes::Show(const std::string& text, const std::string& caption,
                               uint32_t flags) {
  std::lock_guard lock(mutex_);
  int answer = DefaultAnswer(flags);
  if (!answers_.empty()) {
    answer = answers_.front();
    answers_.pop_front();
  }
  shown_.push_back({text, caption, flags, answer});
  return answer;
}

void ScriptedMessageBoxes::QueueAnswer(int answer) {
  std::lock_guard lock(mutex_);
  answers_.push_back(answer);
}

std::vector<ScriptedMessageBoxes::Shown> ScriptedMessageBoxes::shown() const {
  std::lock_guard lock(mutex_);
  return shown_;
}

void ScriptedMessageBoxes::Clear() {
  std::lock_guard lock(mutex_);
  answers_.clear();
  shown_.clear();
}

}  // namespace platform
