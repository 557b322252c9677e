// Where the core finds the platform's services. Each accessor returns the
// native implementation unless a test (or a stand-in) installed another one.
#pragma once

#include <utility>

namespace platform {

class Files;
class MessageBoxes;
class Sound;
class LanguageSource;

Files& files();
MessageBoxes& messageBoxes();
Sound& sound();
LanguageSource& languageSource();

// The native implementations, one per platform backend.
Files& NativeFiles();
MessageBoxes& NativeMessageBoxes();
Sound& NativeSound();
LanguageSource& NativeLanguageSource();

// Installs `service` for the lifetime of the guard, then restores the previous one.
template <class Service>
class ScopedService {
 public:
  explicit ScopedService(Service& service) : previous_(Slot()) { Slot() = &service; }
  ~ScopedService() { Slot() = previous_; }
  ScopedService(const ScopedService&) = delete;
  ScopedService& operator=(const ScopedService&) = delete;

  static Service*& Slot();

 private:
  Service* previous_;
};

}  // namespace platform
