// Language libraries on POSIX: the file at the library's path holds the
// string table in the resource script it is built from, and is read whole on
// loading. A relative path is taken from the program's folder, as the
// Windows library search finds the libraries beside the program.
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "platform/Files.h"
#include "platform/LanguageSource.h"
#include "platform/Services.h"
#include "platform/StringTable.h"

namespace platform {
namespace {

bool IsAbsolute(const std::string& path) {
  return !path.empty() && (path[0] == '/' || path[0] == '\\');
}

class PosixLanguages final : public LanguageSource {
 public:
  Handle Load(const std::string& path) override {
    if (path.empty())
      return nullptr;
    const std::string full = IsAbsolute(path) ? path : ProgramFolder() + path;
    const std::optional<std::string> script = files().ReadAll(full);
    if (!script)
      return nullptr;
    StringTableParse parsed = ParseStringTable(*script);
    if (!parsed.table)
      return nullptr;
    auto table = std::make_unique<StringTable>(std::move(*parsed.table));
    Handle handle = table.get();
    std::lock_guard lock(mutex_);
    loaded_.emplace(handle, std::move(table));
    return handle;
  }

  // Texts are read from any thread while the main thread may free a table;
  // a handle that is not (or no longer) ours finds nothing.
  int LoadString(Handle library, uint32_t id, char* buffer, int bufferSize) override {
    std::lock_guard lock(mutex_);
    const auto it = loaded_.find(library);
    const std::string* text = it == loaded_.end() ? nullptr : it->second->Find(id);
    if (text == nullptr)
      return CopyTableText({}, buffer, bufferSize);
    return CopyTableText(*text, buffer, bufferSize);
  }

  void Free(Handle library) override {
    std::lock_guard lock(mutex_);
    loaded_.erase(library);
  }

 private:
  std::mutex mutex_;
  std::map<Handle, std::unique_ptr<StringTable>> loaded_;
};

}  // namespace

LanguageSource& NativeLanguageSource() {
  static PosixLanguages source;
  return source;
}

}  // namespace platform
