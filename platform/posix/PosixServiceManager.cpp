// The service state on POSIX: a file a stand-in for the service writes.
#include <charconv>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

#include "platform/Files.h"
#include "platform/ServiceManager.h"

namespace platform {
namespace {

// Longer than any number a state can be, with blanks around it.
constexpr size_t kMostBytes = 64;

std::string StateFolder() {
  for (const char* variable : {"KORVA_SERVICE_DIR", "XDG_RUNTIME_DIR"}) {
    const char* folder = std::getenv(variable);
    if (folder && *folder)
      return folder;
  }
  return "/tmp";
}

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// A decimal number with blanks around it and an optional '+', within the
// states' 32 bits; anything else is no answer.
uint32_t StateOf(std::string_view text) {
  while (!text.empty() && IsBlank(text.front()))
    text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back()))
    text.remove_suffix(1);
  if (text.starts_with('+'))
    text.remove_prefix(1);
  uint32_t state = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), state);
  if (text.empty() || error != std::errc() || end != text.data() + text.size())
    return 0;
  return state;
}

class PosixServiceManager final : public ServiceManager {
 public:
  uint32_t QueryServiceState(const std::string&, const std::string& service) override {
    const std::optional<std::string> text =
        files().ReadRange(StateFolder() + "/" + service + ".state", 0, kMostBytes + 1);
    if (!text || text->size() > kMostBytes)
      return 0;
    return StateOf(*text);
  }
};

}  // namespace

ServiceManager& NativeServiceManager() {
  static PosixServiceManager manager;
  return manager;
}

}  // namespace platform
