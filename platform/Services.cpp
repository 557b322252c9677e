#include "platform/Services.h"

#include "platform/Files.h"
#include "platform/LanguageSource.h"
#include "platform/MessageBoxes.h"
#include "platform/Sound.h"

namespace platform {

template <class Service>
Service*& ScopedService<Service>::Slot() {
  static Service* installed = nullptr;
  return installed;
}

template class ScopedService<Files>;
template class ScopedService<MessageBoxes>;
template class ScopedService<Sound>;
template class ScopedService<LanguageSource>;

namespace {
template <class Service>
Service& Installed(Service& (*native)()) {
  Service* service = ScopedService<Service>::Slot();
  return service ? *service : native();
}
}  // namespace

Files& files() {
  return Installed(&NativeFiles);
}
MessageBoxes& messageBoxes() {
  return Installed(&NativeMessageBoxes);
}
Sound& sound() {
  return Installed(&NativeSound);
}
LanguageSource& languageSource() {
  return Installed(&NativeLanguageSource);
}

}  // namespace platform
