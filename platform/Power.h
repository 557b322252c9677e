// The system's power and process controls the shutdown sequence needs: the
// process's priority class, the shutdown privilege, the process's place in
// the system's shutdown order, the request to end the session or power off
// (ExitWindowsEx), and the processor load. Numbers are the ones Windows uses.
//
// Windows: the real calls. POSIX: a stand-in that keeps what it is told and
// never powers off, reboots or logs out the machine; asked to shut down, it
// says so on standard error and closes the program as the system's own close
// request would. Tests install RecordingPower: a real ExitWindowsEx under Wine
// would end the Wine session.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "platform/Services.h"

namespace platform {

inline constexpr uint32_t kNormalPriorityClass = 0x20;
inline constexpr uint32_t kHighPriorityClass = 0x80;

// ExitWindowsEx flags.
inline constexpr uint32_t kEwxLogoff = 0;
inline constexpr uint32_t kEwxShutdown = 1;
inline constexpr uint32_t kEwxForce = 4;

// SetProcessShutdownParameters: no retry dialog when the process holds up the end.
inline constexpr uint32_t kShutdownNoRetry = 1;
// The level every process has until it sets its own.
inline constexpr uint32_t kDefaultShutdownLevel = 0x280;

class Power {
 public:
  virtual ~Power() = default;

  virtual bool SetPriorityClass(uint32_t priorityClass) = 0;
  virtual uint32_t PriorityClass() = 0;

  // The privilege that lets a process shut the system down, by its name.
  static constexpr const char* kShutdownPrivilege = "SeShutdownPrivilege";
  // How asking for the shutdown privilege went.
  enum class Privilege {
    Enabled,  // the token holds it, and it is on
    NotHeld,  // the token was adjusted, but it does not hold the privilege
    Failed,   // the token could not be opened or adjusted
  };
  // Opens the process's token, looks up kShutdownPrivilege and enables it.
  // Unless Enabled, `error` says why, as the system does.
  virtual Privilege EnableShutdownPrivilege(std::string& error) = 0;
  // The process's place in the shutdown order (0x100..0x3FF: the higher, the
  // earlier it is told) and its flags.
  virtual bool SetShutdownParameters(uint32_t level, uint32_t flags) = 0;
  virtual bool ShutdownParameters(uint32_t& level, uint32_t& flags) = 0;

  // ExitWindowsEx(flags, 0). False when the system refused; `error` then
  // holds its message.
  virtual bool ExitSession(uint32_t flags, std::string& error) = 0;

  // Binds the processor-load counters (Windows: pdh.dll by name); true when
  // they can be used. Binding again changes nothing.
  virtual bool BindProcessorLoad() = 0;
  // The load of processor 0 in percent over 300 ms (the call takes that
  // long), or -1 when it cannot be measured.
  virtual double ProcessorLoad() = 0;
};

Power& NativePower();

template <>
inline Power*& ScopedService<Power>::Slot() {
  static Power* installed = nullptr;
  return installed;
}

// The installed stand-in (a test's) or the system's.
inline Power& power() {
  Power* installed = ScopedService<Power>::Slot();
  return installed ? *installed : NativePower();
}

// Keeps the priority class and the shutdown parameters it is told, and
// reports them back: what a process that may not change them can do.
class KeptPower : public Power {
 public:
  bool SetPriorityClass(uint32_t priorityClass) override {
    std::lock_guard lock(keptMutex_);
    priorityClass_ = priorityClass;
    return true;
  }
  uint32_t PriorityClass() override {
    std::lock_guard lock(keptMutex_);
    return priorityClass_;
  }
  bool SetShutdownParameters(uint32_t level, uint32_t flags) override {
    std::lock_guard lock(keptMutex_);
    level_ = level;
    levelFlags_ = flags;
    return true;
  }
  bool ShutdownParameters(uint32_t& level, uint32_t& flags) override {
    std::lock_guard lock(keptMutex_);
    level = level_;
    flags = levelFlags_;
    return true;
  }

 private:
  std::mutex keptMutex_;
  uint32_t priorityClass_ = kNormalPriorityClass;
  uint32_t level_ = kDefaultShutdownLevel;
  uint32_t levelFlags_ = 0;
};

// Changes nothing on the system: keeps what it is told, answers as scripted
// and records every shutdown request.
class RecordingPower final : public KeptPower {
 public:
  Privilege EnableShutdownPrivilege(std::string& error) override {
    std::lock_guard lock(mutex_);
    ++privilegeRequests_;
    if (privilege_ != Privilege::Enabled)
      error = privilegeError_;
    return privilege_;
  }
  bool ExitSession(uint32_t flags, std::string& error) override {
    std::lock_guard lock(mutex_);
    exitRequests_.push_back(flags);
    error = refusal_;
    return refusal_.empty();
  }
  bool BindProcessorLoad() override { return true; }
  double ProcessorLoad() override {
    std::lock_guard lock(mutex_);
    return load_;
  }

  // ---- the script
  void SetLoad(double load) {
    std::lock_guard lock(mutex_);
    load_ = load;
  }
  void GrantPrivilege(bool granted) {
    AnswerPrivilege(granted ? Privilege::Enabled : Privilege::Failed, "refused");
  }
  void AnswerPrivilege(Privilege answer, std::string error) {
    std::lock_guard lock(mutex_);
    privilege_ = answer;
    privilegeError_ = std::move(error);
  }
  // Every later ExitWindows fails with this message (empty: succeeds).
  void RefuseExit(std::string error) {
    std::lock_guard lock(mutex_);
    refusal_ = std::move(error);
  }

  // ---- what happened
  std::vector<uint32_t> exitRequests() const {
    std::lock_guard lock(mutex_);
    return exitRequests_;
  }
  int privilegeRequests() const {
    std::lock_guard lock(mutex_);
    return privilegeRequests_;
  }
  void ClearRequests() {
    std::lock_guard lock(mutex_);
    exitRequests_.clear();
    privilegeRequests_ = 0;
  }

 private:
  mutable std::mutex mutex_;
  Privilege privilege_ = Privilege::Enabled;
  std::string privilegeError_;
  int privilegeRequests_ = 0;
  std::vector<uint32_t> exitRequests_;
  std::string refusal_;
  double load_ = -1.0;
};

}  // namespace platform
