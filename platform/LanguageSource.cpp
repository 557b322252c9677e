#include "platform/LanguageSource.h"

#include "platform/Services.h"

namespace platform {

LanguageLibrary::LanguageLibrary(const std::string& path) : handle_(languageSource().Load(path)) {}

LanguageLibrary& LanguageLibrary::operator=(LanguageLibrary&& other) noexcept {
  if (this != &other) {
    Free();
    handle_ = other.handle_;
    other.handle_ = nullptr;
  }
  return *this;
}

void LanguageLibrary::Free() {
  if (handle_)
    languageSource().Free(handle_);
  handle_ = nullptr;
}

}  // namespace platform
