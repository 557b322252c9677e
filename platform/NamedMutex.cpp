#include "platform/NamedMutex.h"

#include "platform/Native.h"

namespace platform {

NamedMutex NamedMutex::Create(const std::string& name) {
  bool existed = false;
  const intptr_t handle = native::CreateNamedMutex(name, existed);
  return NamedMutex(handle, existed);
}

NamedMutex& NamedMutex::operator=(NamedMutex&& other) noexcept {
  if (this != &other) {
    Close();
    handle_ = other.handle_;
    alreadyExisted_ = other.alreadyExisted_;
    other.handle_ = kNone;
  }
  return *this;
}

void NamedMutex::Close() {
  if (handle_ != kNone)
    native::CloseNamedMutex(handle_);
  handle_ = kNone;
}

}  // namespace platform
