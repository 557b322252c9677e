#include "monitor/Settings.h"

#include <algorithm>
#include <array>
#include <limits>

#include "monitor/Globfunc.h"
#include "vcl/SysUtils.h"

namespace monitor {
namespace {

constexpr const char* kCom = "COM";
constexpr const char* kCheck = "CHECK";
constexpr const char* kStart = "START";
constexpr const char* kAction = "ACTION";

struct ProgramKeys {
  const char* switchKey;   // [CHECK]
  const char* commandKey;  // [START]
};

constexpr std::array<ProgramKeys, 6> kProgramKeys = {{
    {"DC_LOW_Start", "DC_LOW"},
    {"AlarmStart", "ALARM"},
    {"NoConnect", "NOCONNECT"},
    {"Akku", "AKKU"},
    {"Over85", "OVER85"},
    {"Under85", "UNDER85"},
}};

// A missing key and a value that is not a number give the same number on
// every side, so each reader's default is kept as that number alone.
struct DelayKeys {
  const char* minutes;
  const char* seconds;
  DelayPair main;    // the main window's reactions
  DelayPair dialog;  // the settings dialog, until it saves
};

// clang-format off
constexpr std::array<DelayKeys, 7> kDelayKeys = {{
    {"StartMinutes",      "StartSeconds",      {5, 5},  {0, 0}},
    {"ShutDownMinutes",   "ShutDownSeconds",   {5, 5},  {10, 5}},
    {"AlarmMinutes",      "AlarmSeconds",      {0, 0},  {0, 0}},
    {"VerbindungMinutes", "VerbindungSeconds", {0, 30}, {0, 0}},
    {"AkkuMinutes",       "AkkuSeconds",       {0, 0},  {0, 0}},
    {"Over85Minutes",     "Over85Seconds",     {0, 0},  {0, 0}},
    {"Under85Minutes",    "Under85Seconds",    {0, 0},  {0, 0}},
}};
// clang-format on

struct OpenKeys {
  const char* minutes;
  const char* seconds;
  const char* window;
};

constexpr std::array<OpenKeys, 5> kOpenKeys = {{
    {"OpenMin_Batt", "OpenSec_Batt", "OpenWindow_Batt"},
    {"OpenMin_Alarm", "OpenSec_Alarm", "OpenWindow_Alarm"},
    {"OpenMin_Akku", "OpenSec_Akku", "OpenWindow_Akku"},
    {"OpenMin_NoConn", "OpenSec_NoConn", "OpenWindow_NoConn"},
    {"OpenMin_Full", "OpenSec_Full", "OpenWindow_Full"},
}};

template <class Table, class Enum>
const auto& Row(const Table& table, Enum value) {
  return table.at(static_cast<std::size_t>(value));
}

}  // namespace

uint32_t DelayPairMs(int64_t minutes, int64_t seconds) {
  constexpr int64_t kCap = std::numeric_limits<int32_t>::max();
  // Each part is at most 2^31, so the sum stays far inside 64 bits.
  const int64_t total = (std::max<int64_t>(minutes, 0) * 60 + std::max<int64_t>(seconds, 0)) * 1000;
  return static_cast<uint32_t>(std::min(total, kCap));
}

Settings Settings::Current() {
  return Settings(common::IniFile(SettingsFilePath()));
}

std::string Settings::Read(const char* section, const char* key, const char* defaultValue) const {
  return file_.ReadString(section, key, defaultValue);
}

// Every number reader's default converts to its own "not a number" value, so
// a missing key needs no default text of its own.
int32_t Settings::ReadInteger(const char* section, const char* key, int32_t notANumber) const {
  return IntegerOr(Read(section, key, ""), notANumber);
}

bool Settings::UsbPort() const {
  return Read(kCom, "USBPORT", "0") == "1";
}

int32_t Settings::ComPort() const {
  return ReadInteger(kCom, "COMPORT", 0);
}

std::string Settings::DialogComPortEntry() const {
  const std::string text = Read(kCom, "COMPORT", "0");
  return IntegerOr(text, 0) > 0 ? "COM" + text : std::string();
}

int32_t Settings::ReadWaitTimeSeconds() const {
  const int32_t seconds = ReadInteger(kCom, "WAIT_TIME", 0);
  return (seconds < 0 || seconds > 60) ? 60 : seconds;
}

std::string Settings::Language() const {
  return Read(kCheck, "Language", "");
}

GuardLanguage Settings::InstanceQuestionLanguage() const {
  const std::string language = vcl::UpperCase(Language());
  if (language == "G")
    return GuardLanguage::German;
  if (language == "F")
    return GuardLanguage::French;
  return GuardLanguage::English;
}

std::string Settings::HistoryPath() const {
  return Read(kCheck, "HistoryPath", "");
}

std::string Settings::LogFilePath(const std::string& appDir) const {
  std::string path = HistoryPath();
  return path.empty() ? appDir + "korva_usv.log" : path;
}

Settings::HistoryPathResult Settings::EnsureHistoryPath(const std::string& appDir) const {
  HistoryPathResult result{HistoryPath(), {}};
  if (!result.path.empty())
    return result;
  result.path = appDir + "korvamon.log";
  try {
    file_.WriteString(kCheck, "HistoryPath", result.path);
  } catch (const common::EIniFileException& error) {
    result.write.error = error.what();
  }
  return result;
}

bool Settings::LogLimit8k() const {
  return Read(kCheck, "History8k", "0") == "1";
}

bool Settings::DialogStartSwitch(ProgramEvent event) const {
  return ReadInteger(kCheck, Row(kProgramKeys, event).switchKey, 0) == 1;
}

bool Settings::DialogShutdownSwitch() const {
  return ReadInteger(kCheck, "DC_LOW_ShutDown", 1) == 1;
}

bool Settings::ShutdownAfterBattery() const {
  return Read(kCheck, "DC_LOW_ShutDown", "1") == "1";
}

bool Settings::ShutdownSignalEnabled() const {
  return Read(kAction, "ShutdownSignal", "1") == "1" && ShutdownAfterBattery();
}

int32_t Settings::DialogRepeatAbschaltung() const {
  return ReadInteger(kCheck, "RepeatAbschaltung", 0);
}

HotKeyChoice Settings::SelectedHotKey() const {
  switch (ReadInteger(kCheck, "SelectHotKey", 1)) {
    case 1:
      return HotKeyChoice::AltO;
    case 2:
      return HotKeyChoice::AltM;
    default:
      return HotKeyChoice::None;
  }
}

int32_t Settings::ShutDownFlag() const {
  return ReadInteger(kCheck, "ShutDownFlag", 1);
}

int32_t Settings::ExtShutdownPosition() const {
  return ReadInteger(kCheck, "ExtShutdownPosition", 0);
}

std::string Settings::ProgramCommand(ProgramEvent event) const {
  return Read(kStart, Row(kProgramKeys, event).commandKey, "");
}

DelayPair Settings::ReadDelay(const char* section, const char* minutesKey, const char* secondsKey,
                              DelayPair fallback) const {
  return {ReadInteger(section, minutesKey, fallback.minutes),
          ReadInteger(section, secondsKey, fallback.seconds)};
}

uint32_t Settings::ReactionDelayMs(ReactionDelay delay) const {
  const DelayKeys& keys = Row(kDelayKeys, delay);
  const DelayPair pair = ReadDelay(kStart, keys.minutes, keys.seconds, keys.main);
  return DelayPairMs(pair.minutes, pair.seconds);
}

DelayPair Settings::DialogReactionDelay(ReactionDelay delay) const {
  const DelayKeys& keys = Row(kDelayKeys, delay);
  return ReadDelay(kStart, keys.minutes, keys.seconds, keys.dialog);
}

DelayPair Settings::OpenDelay(OpenEvent event) const {
  const OpenKeys& keys = Row(kOpenKeys, event);
  return ReadDelay(kAction, keys.minutes, keys.seconds, {0, 0});
}

uint32_t Settings::OpenDelayMs(OpenEvent event) const {
  const DelayPair pair = OpenDelay(event);
  return DelayPairMs(pair.minutes, pair.seconds);
}

bool Settings::DialogOpenWindowSwitch(OpenEvent event) const {
  return Read(kAction, Row(kOpenKeys, event).window, "") == "1";
}

bool Settings::DialogPlaySound() const {
  return Read(kAction, "PlaySound", "") == "1";
}

bool Settings::DialogShutdownSignal() const {
  return Read(kAction, "ShutdownSignal", "1") == "1";
}

bool Settings::DialogWindowsShutdownSignal() const {
  return Read(kAction, "WINDOWSSDSIGNAL", "0") == "1";
}

SettingsWriteResult Settings::MigrateLegacyOpenKeys() const {
  if (!file_.ValueExists(kAction, "OpenWindow"))
    return {};
  try {
    const std::string minutes = Read(kAction, "OpenMinutes", "0");
    for (const OpenKeys& keys : kOpenKeys)
      file_.WriteString(kAction, keys.minutes, minutes);
    const std::string seconds = Read(kAction, "OpenSeconds", "0");
    for (const OpenKeys& keys : kOpenKeys)
      file_.WriteString(kAction, keys.seconds, seconds);
    const std::string window = Read(kAction, "OpenWindow", "0");
    for (const OpenKeys& keys : kOpenKeys)
      file_.WriteString(kAction, keys.window, window);
    file_.DeleteKey(kAction, "OpenWindow");
    file_.DeleteKey(kAction, "OpenSeconds");
    file_.DeleteKey(kAction, "OpenMinutes");
  } catch (const common::EIniFileException& error) {
    return {error.what()};
  }
  return {};
}

}  // namespace monitor
