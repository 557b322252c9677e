// Placeholder until the string-table reader lands.
#include "platform/LanguageSource.h"
#include "platform/Services.h"

namespace platform {
namespace {
class NoLanguages final : public LanguageSource {
 public:
  Handle Load(const std::string&) override { return nullptr; }
  int LoadString(Handle, uint32_t, char* buffer, int bufferSize) override {
    if (bufferSize > 0) buffer[0] = '\0';
    return 0;
  }
  void Free(Handle) override {}
};
}  // namespace
LanguageSource& NativeLanguageSource() {
  static NoLanguages source;
  return source;
}
}  // namespace platform
