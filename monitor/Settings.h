// The keys of the settings file, each with the default its reader passes and
// the number conversion it applies. Where the main window and the settings
// dialog read one key differently, each side has its own reader (the dialog's
// are named Dialog...). Also the migration of the keys of older versions and
// the writes the start-up makes.
#pragma once

#include <cstdint>
#include <string>

#include "common/IniFile.h"

namespace monitor {

// The six events that can start a program: [CHECK] switch and [START] command line.
enum class ProgramEvent { DcLow, Alarm, NoConnect, Akku, Over85, Under85 };
// The delays of [START], minutes and seconds.
enum class ReactionDelay { Start, ShutDown, Alarm, Verbindung, Akku, Over85, Under85 };
// The five window-open rows of [ACTION]: switch and delay.
enum class OpenEvent { Batt, Alarm, Akku, NoConn, Full };

enum class HotKeyChoice { None, AltO, AltM };
// The language of the question a second instance asks.
enum class GuardLanguage { German, English, French };

struct DelayPair {
  int32_t minutes;
  int32_t seconds;
};

// (minutes x 60 + seconds) x 1000 in 64 bits; a negative part counts as 0 and
// the result stops at 2^31 - 1 ms.
uint32_t DelayPairMs(int64_t minutes, int64_t seconds);

// What a settings write during the start left behind. The start goes on
// either way; a failure carries the message to report.
struct SettingsWriteResult {
  std::string error;
  bool ok() const { return error.empty(); }
};

class Settings {
 public:
  explicit Settings(common::IniFile file) : file_(std::move(file)) {}
  // The settings file as the program finds it now.
  static Settings Current();

  const common::IniFile& file() const { return file_; }

  // [COM]
  bool UsbPort() const;
  int32_t ComPort() const;
  // The dialog's port entry: "COM" and the value text as read when the value
  // is above 0, else empty (no entry).
  std::string DialogComPortEntry() const;
  // Start delay: not a number 0; negative or above 60 waits 60.
  int32_t ReadWaitTimeSeconds() const;

  // [CHECK]
  std::string Language() const;
  GuardLanguage InstanceQuestionLanguage() const;
  std::string HistoryPath() const;
  // The log file: HistoryPath, or `appDir` + "korva_usv.log" when it is empty.
  std::string LogFilePath(const std::string& appDir) const;
  struct HistoryPathResult {
    std::string path;  // the value to go on with, written or not
    SettingsWriteResult write;
  };
  // When HistoryPath is empty, writes `appDir` + "korvamon.log" to it.
  HistoryPathResult EnsureHistoryPath(const std::string& appDir) const;
  bool LogLimit8k() const;
  // The dialog's start switches: on when the value is the number 1.
  bool DialogStartSwitch(ProgramEvent event) const;
  // The dialog's shutdown switch: a value that is not a number (also a
  // missing one) counts as 1.
  bool DialogShutdownSwitch() const;
  // DC_LOW_ShutDown = "1" as the main window and the dialog's save read it.
  bool ShutdownAfterBattery() const;
  // ShutdownSignal = "1" and DC_LOW_ShutDown = "1", as the main window reads them.
  bool ShutdownSignalEnabled() const;
  int32_t DialogRepeatAbschaltung() const;
  HotKeyChoice SelectedHotKey() const;
  int32_t ShutDownFlag() const;
  // Not a number counts as 0.
  int32_t ExtShutdownPosition() const;

  // [START]
  std::string ProgramCommand(ProgramEvent event) const;
  // The main window's delay in ms.
  uint32_t ReactionDelayMs(ReactionDelay delay) const;
  uint32_t StartDelayMs() const { return ReactionDelayMs(ReactionDelay::Start); }
  uint32_t ShutDownDelayMs() const { return ReactionDelayMs(ReactionDelay::ShutDown); }
  // The pair as the dialog loads it into its fields.
  DelayPair DialogReactionDelay(ReactionDelay delay) const;

  // [ACTION]
  DelayPair OpenDelay(OpenEvent event) const;
  uint32_t OpenDelayMs(OpenEvent event) const;
  bool DialogOpenWindowSwitch(OpenEvent event) const;
  bool DialogPlaySound() const;
  bool DialogShutdownSignal() const;
  bool DialogWindowsShutdownSignal() const;

  // Copies the one window-open switch and delay of older versions into the
  // five rows and deletes the old keys, when [ACTION] OpenWindow exists.
  // Stops at the first write that fails; the old keys then stay, so the next
  // start tries again.
  SettingsWriteResult MigrateLegacyOpenKeys() const;

 private:
  std::string Read(const char* section, const char* key, const char* defaultValue) const;
  int32_t ReadInteger(const char* section, const char* key, int32_t notANumber) const;
  DelayPair ReadDelay(const char* section, const char* minutesKey, const char* secondsKey,
                      DelayPair fallback) const;

  common::IniFile file_;
};

}  // namespace monitor
