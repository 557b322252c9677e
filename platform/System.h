// Facts about the system the program runs on, and requests from it.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <iosfwd>
#include <optional>
#include <string>
#include <string_view>

namespace platform {

// The operating system's version as GetVersionExA reports it.
struct OsVersion {
  uint32_t platformId;  // 1 Windows 9x, 2 NT
  uint32_t major;
  uint32_t minor;
};
inline constexpr uint32_t kPlatformWin9x = 1;
inline constexpr uint32_t kPlatformNt = 2;
// POSIX: reports NT 6.1 (the stand-in for a current Windows).
OsVersion GetOsVersion();

// The raw bytes of the program's own version resource (type 16, id 1): a
// version block whose strings are UTF-16. POSIX: a block of the same shape
// built from the strings embedded at build time. Nothing when there is none.
std::optional<std::string> OwnVersionResource();

// The program's own string resource `id` in the narrow encoding, as
// LoadStringA reads it; nothing when the program has no (or an empty) text of
// that number. POSIX: always nothing, as programs carry no string table
// there (their users keep a compiled table of the same texts).
std::optional<std::string> OwnStringResource(uint32_t id);

// The locale the user's session names for its messages, when the platform
// answers the first start's language question from it instead of asking.
// POSIX: LC_ALL, else LC_MESSAGES, else LANG, the first that is set and not
// empty (empty when none is). Windows: nothing; the program asks.
std::optional<std::string> UserMessagesLocale();

// The version block of a file's version resource, as GetFileVersionInfoA
// gives it. POSIX: the program's own block (OwnVersionResource) when `path`
// names the running program, else nothing.
std::optional<std::string> FileVersionResource(const std::string& path);

// The user's conventions for numbers and dates, in the class library's
// format letters (yyyy mm dd, hh nn ss). Windows: the user locale; POSIX:
// ';' '.' "dd.mm.yyyy" ':' "hh:nn:ss".
struct LocaleFormats {
  char listSeparator = ';';
  char decimalSeparator = '.';
  char dateSeparator = '.';
  char timeSeparator = ':';
  std::string shortDateFormat = "dd.mm.yyyy";
  std::string longTimeFormat = "hh:nn:ss";
};
LocaleFormats UserLocaleFormats();

// A text written in UTF-8 (a literal of the program) in the platform's narrow
// text: the ANSI code page on Windows, where a letter the code page lacks
// becomes its nearest or '?'; unchanged elsewhere.
std::string NarrowFromUtf8(std::string_view utf8);

// A date as the system's short date format writes it (local time).
std::string FormatShortDate(std::chrono::system_clock::time_point when);

// Calls `request` on the main loop's thread when the system asks the program
// to end (POSIX: SIGINT, and SIGTERM while no session-end request is
// installed). Installed once, at start.
void OnTerminationRequest(std::function<void()> request);
// Calls `request` instead when the system ends the whole session: POSIX
// SIGTERM, what a system shutdown sends. Windows tells the program's windows
// itself (WM_QUERYENDSESSION, WM_ENDSESSION); there this is never called.
void OnSessionEndRequest(std::function<void()> request);
// Posts the installed request to the main loop, as the system's own request
// to end the program would (the POSIX shutdown stand-in ends korvamon so).
void PostTerminationRequest();

// Where a program echoes the lines a user would otherwise only see on its
// windows (history lines, tray tips): standard output on POSIX, where the
// stand-in shows no window; nowhere (null) on Windows.
std::ostream* DefaultEcho();

}  // namespace platform
