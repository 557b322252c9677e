// A named mutex that tells whether it existed already: how a program finds
// that another instance of it runs. Held until the object is destroyed.
#pragma once

#include <cstdint>
#include <string>

namespace platform {

class NamedMutex {
 public:
  NamedMutex() = default;
  // Creates (or opens) the mutex and takes ownership when it is new.
  static NamedMutex Create(const std::string& name);

  ~NamedMutex() { Close(); }
  NamedMutex(NamedMutex&& other) noexcept
      : handle_(other.handle_), alreadyExisted_(other.alreadyExisted_) {
    other.handle_ = kNone;
  }
  NamedMutex& operator=(NamedMutex&& other) noexcept;
  NamedMutex(const NamedMutex&) = delete;
  NamedMutex& operator=(const NamedMutex&) = delete;

  bool valid() const { return handle_ != kNone; }
  // Another holder created it first (ERROR_ALREADY_EXISTS).
  bool alreadyExisted() const { return alreadyExisted_; }
  void Close();

 private:
  static constexpr intptr_t kNone = -1;
  NamedMutex(intptr_t handle, bool alreadyExisted)
      : handle_(handle), alreadyExisted_(alreadyExisted) {}

  intptr_t handle_ = kNone;
  bool alreadyExisted_ = false;
};

}  // namespace platform
