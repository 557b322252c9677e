#include "platform/DynamicLibrary.h"

#include "platform/Native.h"

namespace platform {

DynamicLibrary DynamicLibrary::Open(const std::string& name) {
  LoadFailure failure = LoadFailure::None;
  void* handle = native::OpenLibrary(name, failure);
  return DynamicLibrary(handle, handle ? LoadFailure::None : failure);
}

DynamicLibrary& DynamicLibrary::operator=(DynamicLibrary&& other) noexcept {
  if (this != &other) {
    Close();
    handle_ = other.handle_;
    failure_ = other.failure_;
    other.handle_ = nullptr;
  }
  return *this;
}

void* DynamicLibrary::Symbol(const char* name) const {
  return handle_ ? native::LibrarySymbol(handle_, name) : nullptr;
}

void DynamicLibrary::Close() {
  if (handle_)
    native::CloseLibrary(handle_);
  handle_ = nullptr;
}

}  // namespace platform
