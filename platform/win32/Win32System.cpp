// Facts about the system on Windows: its version, the program's own version
// and string resources, the ANSI code page's text, the user's short date format, and
// console close requests.
#include <windows.h>

#include "platform/EventLoop.h"
#include "platform/System.h"
#include "platform/TerminationRequest.h"
#include "platform/Text.h"
#include "platform/win32/Win32FileTime.h"

namespace platform {
namespace {

// Runs on a thread the system starts for the event.
BOOL WINAPI OnConsoleControl(DWORD event) {
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && event != CTRL_CLOSE_EVENT)
    return FALSE;
  PostTerminationRequest();
  return TRUE;
}

std::string LocaleText(LCTYPE type) {
  char text[128];
  const int size = GetLocaleInfoA(LOCALE_USER_DEFAULT, type, text, sizeof text);
  return size > 1 ? std::string(text, static_cast<size_t>(size) - 1) : std::string();
}

// Windows date pictures ("dd.MM.yyyy", "M/d/yyyy") in the class library's
// letters: months are 'm', a year is "yy" or "yyyy"; eras are dropped.
std::string DatePicture(const std::string& picture) {
  std::string out;
  for (size_t i = 0; i < picture.size();) {
    const char c = picture[i];
    size_t run = 1;
    while (i + run < picture.size() && picture[i + run] == c)
      ++run;
    if (c == '\'') {
      const size_t close = picture.find('\'', i + 1);
      const size_t next = close == std::string::npos ? picture.size() : close + 1;
      out.append(picture, i, next - i);
      i = next;
      continue;
    }
    if (c == 'M')
      out.append(run, 'm');
    else if (c == 'y')
      out += run <= 2 ? "yy" : "yyyy";
    else if (c != 'g')
      out.append(run, c);
    i += run;
  }
  return out;
}

// Windows time pictures ("HH:mm:ss", "h:mm:ss tt") in the class library's
// letters: hours on the 24-hour clock, minutes as 'n', no AM/PM marker.
std::string TimePicture(const std::string& picture) {
  std::string out;
  for (char c : picture) {
    if (c == 'H')
      out += 'h';
    else if (c == 'm')
      out += 'n';
    else if (c != 't')
      out += c;
  }
  while (!out.empty() && out.back() == ' ')
    out.pop_back();
  return out;
}

}  // namespace

OsVersion GetOsVersion() {
  OSVERSIONINFOA info{};
  info.dwOSVersionInfoSize = sizeof info;
  // Deprecated, and without a manifest newer systems report 6.2: the program
  // asks for exactly this.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
  const BOOL ok = GetVersionExA(&info);
#pragma GCC diagnostic pop
  if (!ok)
    return {0, 0, 0};
  return {info.dwPlatformId, info.dwMajorVersion, info.dwMinorVersion};
}

std::optional<std::string> OwnVersionResource() {
  HRSRC found = FindResourceA(nullptr, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(16));
  HGLOBAL loaded = found ? LoadResource(nullptr, found) : nullptr;
  const void* bytes = loaded ? LockResource(loaded) : nullptr;
  if (!bytes)
    return std::nullopt;
  return std::string(static_cast<const char*>(bytes), SizeofResource(nullptr, found));
}

std::optional<std::string> OwnStringResource(uint32_t id) {
  if (id > 0xFFFF)
    return std::nullopt;
  // With no buffer the function hands out the resource's own UTF-16 text,
  // whatever its length.
  const wchar_t* text = nullptr;
  const int units = LoadStringW(GetModuleHandleW(nullptr), id, reinterpret_cast<LPWSTR>(&text), 0);
  if (units <= 0 || text == nullptr)
    return std::nullopt;
  return Utf16ToNarrow(
      std::u16string_view(reinterpret_cast<const char16_t*>(text), static_cast<size_t>(units)));
}

std::optional<std::string> UserMessagesLocale() {
  return std::nullopt;
}

std::optional<std::string> FileVersionResource(const std::string& path) {
  DWORD handle = 0;
  const DWORD size = GetFileVersionInfoSizeA(path.c_str(), &handle);
  if (size == 0)
    return std::nullopt;
  std::string block(size, '\0');
  if (!GetFileVersionInfoA(path.c_str(), 0, size, block.data()))
    return std::nullopt;
  return block;
}

LocaleFormats UserLocaleFormats() {
  LocaleFormats formats;
  if (auto list = LocaleText(LOCALE_SLIST); list.size() == 1)
    formats.listSeparator = list[0];
  if (auto decimal = LocaleText(LOCALE_SDECIMAL); decimal.size() == 1)
    formats.decimalSeparator = decimal[0];
  if (auto date = LocaleText(LOCALE_SDATE); date.size() == 1)
    formats.dateSeparator = date[0];
  if (auto time = LocaleText(LOCALE_STIME); time.size() == 1)
    formats.timeSeparator = time[0];
  if (auto shortDate = LocaleText(LOCALE_SSHORTDATE); !shortDate.empty())
    formats.shortDateFormat = DatePicture(shortDate);
  if (auto longTime = LocaleText(LOCALE_STIMEFORMAT); !longTime.empty())
    formats.longTimeFormat = TimePicture(longTime);
  return formats;
}

std::string NarrowFromUtf8(std::string_view utf8) {
  if (utf8.empty())
    return {};
  const int size = static_cast<int>(utf8.size());
  const int wideLength = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, nullptr, 0);
  std::wstring wide(static_cast<size_t>(wideLength), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, wide.data(), wideLength);
  const int length =
      WideCharToMultiByte(CP_ACP, 0, wide.data(), wideLength, nullptr, 0, nullptr, nullptr);
  std::string narrow(static_cast<size_t>(length), '\0');
  WideCharToMultiByte(CP_ACP, 0, wide.data(), wideLength, narrow.data(), length, nullptr, nullptr);
  return narrow;
}

std::string FormatShortDate(std::chrono::system_clock::time_point when) {
  const std::optional<FILETIME> utcFile = win32::ToFileTime(when);
  SYSTEMTIME utc{}, local{};
  if (!utcFile || !FileTimeToSystemTime(&*utcFile, &utc) ||
      !SystemTimeToTzSpecificLocalTime(nullptr, &utc, &local))
    return {};
  const int size = GetDateFormatA(LOCALE_USER_DEFAULT, DATE_SHORTDATE, &local, nullptr, nullptr, 0);
  if (size <= 0)
    return {};
  std::string text(static_cast<size_t>(size), '\0');
  if (GetDateFormatA(LOCALE_USER_DEFAULT, DATE_SHORTDATE, &local, nullptr, text.data(), size) <= 0)
    return {};
  text.resize(static_cast<size_t>(size) - 1);
  return text;
}

void OnTerminationRequest(std::function<void()> request) {
  termination::SetRequest(std::move(request));
  // A GUI program has no console; the handler then simply never runs.
  static const bool installed = SetConsoleCtrlHandler(OnConsoleControl, TRUE);
  (void)installed;
}

void OnSessionEndRequest(std::function<void()> request) {
  // The session's end reaches the windows as messages; kept for symmetry only.
  termination::SetSessionEndRequest(std::move(request));
}

std::ostream* DefaultEcho() {
  return nullptr;
}

}  // namespace platform
