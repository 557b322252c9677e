// Facts about the system on POSIX, as a Windows program would find them: a
// current NT version, a version resource built from the strings the build
// embeds (the only file with one is the program itself), and the day-first
// date conventions.
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <iostream>
#include <string_view>
#include <vector>

#include "platform/Files.h"
#include "platform/Services.h"
#include "platform/System.h"

#if !defined(KORVA_FILE_VERSION) || !defined(KORVA_COMMENTS)
#error "the build defines KORVA_FILE_VERSION and KORVA_COMMENTS"
#endif

namespace platform {
namespace {

void PutWord(std::string& out, uint32_t value) {
  out += static_cast<char>(value & 0xFF);
  out += static_cast<char>((value >> 8) & 0xFF);
}

void PutDword(std::string& out, uint32_t value) {
  PutWord(out, value & 0xFFFF);
  PutWord(out, value >> 16);
}

void SetWord(std::string& out, size_t at, size_t value) {
  out[at] = static_cast<char>(value & 0xFF);
  out[at + 1] = static_cast<char>((value >> 8) & 0xFF);
}

void PadToDword(std::string& out) {
  while (out.size() % 4 != 0)
    out += '\0';
}

// UTF-8 to UTF-16LE with a terminating zero; a malformed byte becomes U+FFFD.
std::string Utf16(std::string_view text) {
  std::string out;
  for (size_t i = 0; i < text.size();) {
    const auto lead = static_cast<unsigned char>(text[i]);
    const size_t length = lead < 0x80       ? 1
                          : lead >> 5 == 6  ? 2
                          : lead >> 4 == 14 ? 3
                          : lead >> 3 == 30 ? 4
                                            : 0;
    uint32_t code = length == 1 ? lead : lead & (0x7F >> length);
    bool valid = length != 0 && i + length <= text.size();
    for (size_t k = 1; valid && k < length; ++k) {
      const auto next = static_cast<unsigned char>(text[i + k]);
      valid = next >> 6 == 2;
      code = code << 6 | (next & 0x3F);
    }
    if (!valid || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) {
      code = 0xFFFD;
      i += 1;
    } else {
      i += length;
    }
    if (code >= 0x10000) {
      PutWord(out, 0xD800 + ((code - 0x10000) >> 10));
      PutWord(out, 0xDC00 + ((code - 0x10000) & 0x3FF));
    } else {
      PutWord(out, code);
    }
  }
  PutWord(out, 0);
  return out;
}

// One node of a version block as the resource compiler lays it out: its
// length, the length of its value, its type (1 text, 0 binary), its key,
// padding, the value, then each child after padding. A text value's length
// counts UTF-16 units with the terminator; a binary one's counts bytes.
std::string VersionNode(std::string_view key, bool text, const std::string& value,
                        const std::vector<std::string>& children = {}) {
  std::string out(6, '\0');
  out += Utf16(key);
  PadToDword(out);
  out += value;
  for (const std::string& child : children) {
    PadToDword(out);
    out += child;
  }
  SetWord(out, 0, out.size());
  SetWord(out, 2, text ? value.size() / 2 : value.size());
  SetWord(out, 4, text ? 1 : 0);
  return out;
}

std::string TextEntry(std::string_view key, std::string_view value) {
  return VersionNode(key, true, Utf16(value));
}

// "a.b.c.d" as the fixed part's two 32-bit halves; missing parts count 0.
std::pair<uint32_t, uint32_t> VersionNumbers(std::string_view version) {
  uint32_t parts[4] = {0, 0, 0, 0};
  size_t part = 0;
  for (char c : version) {
    if (c == '.') {
      if (++part == 4)
        break;
    } else if (c >= '0' && c <= '9') {
      parts[part] = std::min<uint32_t>(parts[part] * 10 + static_cast<uint32_t>(c - '0'), 0xFFFF);
    }
  }
  return {parts[0] << 16 | parts[1], parts[2] << 16 | parts[3]};
}

std::string FixedFileInfo(std::string_view version) {
  const auto [high, low] = VersionNumbers(version);
  std::string out;
  for (uint32_t value :
       {0xFEEF04BDu, 0x00010000u, high, low, high, low, 0x3Fu, 0u, 0x40004u, 1u, 0u, 0u, 0u})
    PutDword(out, value);
  return out;
}

}  // namespace

OsVersion GetOsVersion() {
  return {kPlatformNt, 6, 1};
}

std::optional<std::string> OwnStringResource(uint32_t /*id*/) {
  return std::nullopt;
}

std::optional<std::string> OwnVersionResource() {
  const std::string_view version = KORVA_FILE_VERSION;
  std::string translation;
  PutWord(translation, 0x0409);
  PutWord(translation, 1252);
  return VersionNode(
      "VS_VERSION_INFO", false, FixedFileInfo(version),
      {VersionNode("StringFileInfo", true, "",
                   {VersionNode("040904E4", true, "",
                                {TextEntry("FileVersion", version),
                                 TextEntry("Comments", KORVA_COMMENTS)})}),
       VersionNode("VarFileInfo", true, "", {VersionNode("Translation", false, translation)})});
}

std::optional<std::string> UserMessagesLocale() {
  for (const char* variable : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    const char* value = std::getenv(variable);
    if (value && *value)
      return std::string(value);
  }
  return std::string();
}

std::optional<std::string> FileVersionResource(const std::string& path) {
  struct stat file {};
  struct stat program {};
  Files& native = NativeFiles();
  if (stat(native.Resolve(path).c_str(), &file) != 0 ||
      stat(native.ExecutablePath().c_str(), &program) != 0 || file.st_dev != program.st_dev ||
      file.st_ino != program.st_ino)
    return std::nullopt;
  return OwnVersionResource();
}

LocaleFormats UserLocaleFormats() {
  return LocaleFormats{};
}

std::string NarrowFromUtf8(std::string_view utf8) {
  return std::string(utf8);
}

std::string FormatShortDate(std::chrono::system_clock::time_point when) {
  const std::time_t seconds = std::chrono::system_clock::to_time_t(when);
  std::tm local{};
  if (!localtime_r(&seconds, &local))
    return {};
  char text[48];
  std::snprintf(text, sizeof text, "%02d.%02d.%04lld", local.tm_mday, local.tm_mon + 1,
                local.tm_year + 1900LL);
  return text;
}

std::ostream* DefaultEcho() {
  return &std::cout;
}

}  // namespace platform
