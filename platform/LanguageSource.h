// String tables of the language libraries, read by number as LoadStringA
// does. On Windows the libraries are resource-only DLLs mapped as data; on
// POSIX the stand-in reads the same tables from the build's language folder.
#pragma once

#include <cstdint>
#include <string>

namespace platform {

class LanguageSource {
 public:
  using Handle = void*;

  virtual ~LanguageSource() = default;

  // Loads a library by the path the program names ("ENG\\english.dll"); a
  // relative path is looked up in the program's folder. Nothing in the
  // library runs. nullptr when it cannot be loaded.
  virtual Handle Load(const std::string& path) = 0;
  // Copies string `id` into `buffer`, at most bufferSize - 1 characters and a
  // terminating NUL, and returns the count copied; 0 when there is none.
  virtual int LoadString(Handle library, uint32_t id, char* buffer, int bufferSize) = 0;
  virtual void Free(Handle library) = 0;
};

// Owns one loaded language library.
class LanguageLibrary {
 public:
  LanguageLibrary() = default;
  explicit LanguageLibrary(const std::string& path);
  ~LanguageLibrary() { Free(); }
  LanguageLibrary(LanguageLibrary&& other) noexcept : handle_(other.handle_) {
    other.handle_ = nullptr;
  }
  LanguageLibrary& operator=(LanguageLibrary&& other) noexcept;
  LanguageLibrary(const LanguageLibrary&) = delete;
  LanguageLibrary& operator=(const LanguageLibrary&) = delete;

  explicit operator bool() const { return handle_ != nullptr; }
  LanguageSource::Handle handle() const { return handle_; }
  void Free();

 private:
  LanguageSource::Handle handle_ = nullptr;
};

}  // namespace platform
