// A library loaded by name at run time, with symbols looked up by name.
#pragma once

#include <string>

namespace platform {

class DynamicLibrary {
 public:
  DynamicLibrary() = default;
  // Loads `name` ("ftd2xx.dll"); an empty object when it cannot be loaded.
  static DynamicLibrary Open(const std::string& name);

  ~DynamicLibrary() { Close(); }
  DynamicLibrary(DynamicLibrary&& other) noexcept : handle_(other.handle_) {
    other.handle_ = nullptr;
  }
  DynamicLibrary& operator=(DynamicLibrary&& other) noexcept;
  DynamicLibrary(const DynamicLibrary&) = delete;
  DynamicLibrary& operator=(const DynamicLibrary&) = delete;

  explicit operator bool() const { return handle_ != nullptr; }
  // nullptr when the library is not loaded or has no such symbol.
  void* Symbol(const char* name) const;
  void Close();

 private:
  explicit DynamicLibrary(void* handle) : handle_(handle) {}
  void* handle_ = nullptr;
};

}  // namespace platform
