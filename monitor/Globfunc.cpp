#include "monitor/Globfunc.h"

#include <array>
#include <limits>
#include <mutex>
#include <utility>

#include "platform/EventLoop.h"
#include "platform/Files.h"
#include "platform/Services.h"
#include "platform/Sound.h"
#include "vcl/SysUtils.h"

namespace monitor {
namespace {

std::mutex& OverrideLock() {
  static std::mutex lock;
  return lock;
}

std::optional<std::string>& OverridePath() {
  static std::optional<std::string> path;
  return path;
}

common::IniFile SettingsFile() {
  return common::IniFile(SettingsFilePath());
}

bool IsBlankOrControl(char c) {
  return static_cast<unsigned char>(c) <= ' ';
}

// The tune's generator: a 32-bit linear congruence whose value below n is the
// upper half of the 64-bit product of the advanced state and n.
class TuneGenerator {
 public:
  explicit TuneGenerator(int32_t seed) : state_(static_cast<uint32_t>(seed) * 9u) {}

  uint32_t Below(uint32_t n) {
    state_ = state_ * 134775813u + 1u;
    return static_cast<uint32_t>((static_cast<uint64_t>(state_) * n) >> 32);
  }

 private:
  uint32_t state_;
};

uint32_t NextToneHz(TuneGenerator& generator) {
  return 450 + 75 * generator.Below(5);
}

}  // namespace

std::string SettingsFilePathFor(std::string_view executablePath) {
  const std::size_t folderEnd = executablePath.find_last_of("\\/:");
  const std::size_t nameStart = folderEnd == std::string_view::npos ? 0 : folderEnd + 1;
  const std::size_t dot = executablePath.rfind('.');
  const std::size_t stemEnd =
      (dot == std::string_view::npos || dot < nameStart) ? executablePath.size() : dot;
  return std::string(executablePath.substr(0, stemEnd)) + ".INI";
}

std::string SettingsFilePath() {
  {
    std::lock_guard lock(OverrideLock());
    if (OverridePath())
      return *OverridePath();
  }
  return SettingsFilePathFor(platform::files().ExecutablePath());
}

ScopedSettingsFilePath::ScopedSettingsFilePath(std::string path) {
  std::lock_guard lock(OverrideLock());
  previous_ = std::exchange(OverridePath(), std::move(path));
}

ScopedSettingsFilePath::~ScopedSettingsFilePath() {
  std::lock_guard lock(OverrideLock());
  OverridePath() = std::move(previous_);
}

std::string ReadIniString(std::string_view section, std::string_view key,
                          std::string_view defaultValue) {
  return SettingsFile().ReadString(section, key, defaultValue);
}

void WriteIniString(std::string_view section, std::string_view key, std::string_view value) {
  SettingsFile().WriteString(section, key, value);
}

bool IniValueExists(std::string_view section, std::string_view key) {
  return SettingsFile().ValueExists(section, key);
}

void IniDeleteKey(std::string_view section, std::string_view key) {
  SettingsFile().DeleteKey(section, key);
}

std::optional<int32_t> ParseInteger(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
    text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
    text.remove_suffix(1);
  bool negative = false;
  if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
    negative = text.front() == '-';
    text.remove_prefix(1);
  }
  if (text.empty())
    return std::nullopt;
  const int64_t limit = negative ? -int64_t{std::numeric_limits<int32_t>::min()}
                                 : int64_t{std::numeric_limits<int32_t>::max()};
  int64_t magnitude = 0;
  for (const char c : text) {
    if (c < '0' || c > '9')
      return std::nullopt;
    magnitude = magnitude * 10 + (c - '0');
    if (magnitude > limit)
      return std::nullopt;
  }
  return static_cast<int32_t>(negative ? -magnitude : magnitude);
}

int32_t IntegerOr(std::string_view text, int32_t notANumber) {
  return ParseInteger(text).value_or(notANumber);
}

std::optional<std::string> ProgramFileName(std::string_view commandLine) {
  while (!commandLine.empty() && IsBlankOrControl(commandLine.front()))
    commandLine.remove_prefix(1);
  while (!commandLine.empty() && IsBlankOrControl(commandLine.back()))
    commandLine.remove_suffix(1);
  const std::string upper = vcl::UpperCase(commandLine);
  static constexpr std::array<std::string_view, 7> kExtensions = {".EXE", ".COM", ".BAT", ".PIF",
                                                                  ".HLP", ".VBS", ".JS"};
  // An extension counts only where the file name ends: at the end of the
  // text or before a blank. "C:\MY.COMPANY\RUN.BAT" is no ".COM", "X.JSON" no ".JS".
  for (const std::string_view extension : kExtensions) {
    for (std::size_t at = upper.find(extension); at != std::string::npos;
         at = upper.find(extension, at + 1)) {
      const std::size_t end = at + extension.size();
      if (end == upper.size() || upper[end] == ' ' || upper[end] == '\t')
        return upper.substr(0, end);
    }
  }
  // Where a program file is known by its permission, the shortest part of
  // the text up to a blank that names one.
  for (std::size_t end = 1; end <= upper.size(); ++end) {
    const bool nameEnd = end == upper.size() || upper[end] == ' ' || upper[end] == '\t';
    if (nameEnd && platform::files().IsProgramFile(upper.substr(0, end)))
      return upper.substr(0, end);
  }
  return std::nullopt;
}

bool IsExecutablePath(std::string_view commandLine) {
  const auto file = ProgramFileName(commandLine);
  if (!file)
    return false;
  const uint32_t attributes = platform::files().GetAttributes(*file);
  return attributes != platform::kInvalidFileAttributes &&
         (attributes & platform::kFileAttributeDirectory) == 0;
}

void DelayMs(uint16_t ms) {
  auto& loop = platform::MainLoop();
  const uint32_t start = loop.TickCount();
  for (;;) {
    const uint32_t elapsed = loop.TickCount() - start;
    if (elapsed >= ms)
      return;
    if (loop.Terminated()) {
      // An ending program handles no more messages, but the wait still holds.
      loop.Sleep(ms - elapsed);
      return;
    }
    loop.RunFor(ms - elapsed);
  }
}

void PlayBeepPattern(int32_t seed, int32_t count) {
  auto& sound = platform::sound();
  TuneGenerator generator(seed);
  for (int32_t i = 0; i < count; ++i) {
    sound.Beep(NextToneHz(generator), 150);
    platform::MainLoop().ProcessMessages();
  }
  sound.Beep(NextToneHz(generator), 350);
}

}  // namespace monitor
