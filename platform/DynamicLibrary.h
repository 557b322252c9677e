// A library loaded by name at run time, with symbols looked up by name.
#pragma once

#include <string>

namespace platform {

// Why a library was not loaded: none was found, or the one found is built
// for another processor (a 32-bit library for a 64-bit program, or the other
// way round), or anything else.
enum class LoadFailure { None, NotFound, WrongArchitecture, Other };

class DynamicLibrary {
 public:
  DynamicLibrary() = default;
  // Loads `name` ("ftd2xx.dll"); an empty object, which tells why, when it
  // cannot be loaded. A name without a folder is looked for where the system
  // looks for a program's libraries safely: on Windows the program's folder
  // and the system's folders, never the current folder or PATH.
  static DynamicLibrary Open(const std::string& name);

  ~DynamicLibrary() { Close(); }
  DynamicLibrary(DynamicLibrary&& other) noexcept
      : handle_(other.handle_), failure_(other.failure_) {
    other.handle_ = nullptr;
  }
  DynamicLibrary& operator=(DynamicLibrary&& other) noexcept;
  DynamicLibrary(const DynamicLibrary&) = delete;
  DynamicLibrary& operator=(const DynamicLibrary&) = delete;

  explicit operator bool() const { return handle_ != nullptr; }
  LoadFailure Failure() const { return failure_; }
  // nullptr when the library is not loaded or has no such symbol.
  void* Symbol(const char* name) const;
  void Close();

 private:
  DynamicLibrary(void* handle, LoadFailure failure) : handle_(handle), failure_(failure) {}
  void* handle_ = nullptr;
  LoadFailure failure_ = LoadFailure::NotFound;
};

}  // namespace platform
