// A language library for tests: text n reads "Tn", unless the test gave it
// other words (a format with "%s", say). Installed for the guard's lifetime;
// the monitor's library loads from it as from a real one.
#pragma once

#include <algorithm>
#include <cstring>
#include <map>
#include <string>

#include "platform/LanguageSource.h"
#include "platform/Services.h"

namespace korva_test {

class TestLanguage final : public platform::LanguageSource {
 public:
  TestLanguage() = default;
  TestLanguage(const TestLanguage&) = delete;
  TestLanguage& operator=(const TestLanguage&) = delete;

  void Set(uint32_t number, std::string text) { texts_[number] = std::move(text); }
  // False: every library is missing.
  bool loadable = true;

  Handle Load(const std::string&) override { return loadable ? this : nullptr; }
  int LoadString(Handle, uint32_t id, char* buffer, int bufferSize) override {
    const auto found = texts_.find(id);
    const std::string text =
        found != texts_.end() ? found->second : std::string("T").append(std::to_string(id));
    if (bufferSize <= 0)
      return 0;
    const int n = std::min(static_cast<int>(text.size()), bufferSize - 1);
    std::memcpy(buffer, text.data(), static_cast<size_t>(n));
    buffer[n] = '\0';
    return n;
  }
  void Free(Handle) override {}

 private:
  std::map<uint32_t, std::string> texts_;
  platform::ScopedService<platform::LanguageSource> guard_{*this};
};

}  // namespace korva_test
