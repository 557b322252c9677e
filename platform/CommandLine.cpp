#include "platform/CommandLine.h"

#include <mutex>

namespace platform {
namespace {

std::mutex slotMutex;
std::optional<std::vector<std::string>>& InstalledWords() {
  static std::optional<std::vector<std::string>> words;
  return words;
}

bool Separates(char c) {
  return static_cast<unsigned char>(c) <= ' ';
}

}  // namespace

std::vector<std::string> CommandLineWords() {
  {
    std::lock_guard lock(slotMutex);
    if (InstalledWords())
      return *InstalledWords();
  }
  return NativeCommandLineWords();
}

std::vector<std::string> SplitCommandLine(std::string_view line) {
  std::vector<std::string> words;
  size_t i = 0;
  for (;;) {
    while (i < line.size() && Separates(line[i]))
      ++i;
    if (i == line.size())
      return words;
    std::string word;
    bool grouped = false;
    for (; i < line.size() && (grouped || !Separates(line[i])); ++i) {
      if (line[i] == '"')
        grouped = !grouped;
      else
        word += line[i];
    }
    words.push_back(std::move(word));
  }
}

ScopedCommandLine::ScopedCommandLine(std::vector<std::string> words) {
  std::lock_guard lock(slotMutex);
  previous_ = std::move(InstalledWords());
  InstalledWords() = std::move(words);
}

ScopedCommandLine::~ScopedCommandLine() {
  std::lock_guard lock(slotMutex);
  InstalledWords() = std::move(previous_);
}

}  // namespace platform
