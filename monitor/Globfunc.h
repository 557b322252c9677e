// Unit Globfunc: helpers every unit of the monitor shares. One value of the
// settings file per call (the file is opened, parsed and closed each time),
// the conversion of settings texts to numbers, the program-path check, the
// delay that keeps the main thread's messages flowing, and the beep tune.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "common/IniFile.h"

namespace monitor {

// The running program's path with its extension replaced by ".INI", computed
// anew on every call (or the path a test installed).
std::string SettingsFilePath();
// `executablePath` with the extension of its last component replaced by
// ".INI" ("korvamon.exe" gives "korvamon.INI"; "korvamon" gives "korvamon.INI").
std::string SettingsFilePathFor(std::string_view executablePath);

// Points the settings file elsewhere while it lives. Only tests use it; the
// program always finds its file beside its executable.
class ScopedSettingsFilePath {
 public:
  explicit ScopedSettingsFilePath(std::string path);
  ~ScopedSettingsFilePath();
  ScopedSettingsFilePath(const ScopedSettingsFilePath&) = delete;
  ScopedSettingsFilePath& operator=(const ScopedSettingsFilePath&) = delete;

 private:
  std::optional<std::string> previous_;
};

std::string ReadIniString(std::string_view section, std::string_view key,
                          std::string_view defaultValue);
// Throws EIniFileException when the value cannot be written; the file is then unchanged.
void WriteIniString(std::string_view section, std::string_view key, std::string_view value);
bool IniValueExists(std::string_view section, std::string_view key);
// Throws EIniFileException when the key is there but cannot be removed.
void IniDeleteKey(std::string_view section, std::string_view key);

// A settings number: blanks and tabs around it, an optional sign and decimal
// digits, within 32 bits. Anything else (an empty text too) is not a number.
std::optional<int32_t> ParseInteger(std::string_view text);
int32_t IntegerOr(std::string_view text, int32_t notANumber);

// The program file of a command line: the text upper-cased and trimmed of
// blanks and control characters, cut after the first of ".EXE", ".COM",
// ".BAT", ".PIF", ".HLP", ".VBS", ".JS" that ends a name in it, that is, is
// followed by the end of the text or a blank (the table's order decides, not
// the position). Without one, on POSIX, the shortest part up to a blank (or
// the end) that names a program file by its permission (Files::IsProgramFile).
// Nothing when none does.
std::optional<std::string> ProgramFileName(std::string_view commandLine);
// True when the command line names a program file that exists.
bool IsExecutablePath(std::string_view commandLine);

// Sets a flag while its owner runs and clears it however that ends.
class ScopedFlag {
 public:
  explicit ScopedFlag(bool& flag) : flag_(flag) { flag_ = true; }
  ~ScopedFlag() { flag_ = false; }
  ScopedFlag(const ScopedFlag&) = delete;
  ScopedFlag& operator=(const ScopedFlag&) = delete;

 private:
  bool& flag_;
};

// Waits `ms` on the main loop while handling its messages and timers.
void DelayMs(uint16_t ms);

// Plays the tune that `seed` fixes: `count` short tones, then a long one.
void PlayBeepPattern(int32_t seed, int32_t count);

}  // namespace monitor
