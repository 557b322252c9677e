#include "common/IniFile.h"

#include <chrono>
#include <mutex>
#include <thread>
#include <type_traits>
#include <vector>

#include "platform/Files.h"
#include "platform/Services.h"
#include "platform/Text.h"
#include "vcl/SysUtils.h"

namespace common {
namespace {

// The engine works on the file's own code units, bytes or UTF-16 units, so
// that what a change leaves alone stays unit for unit as it was.
template <class Char>
struct Ini {
  using View = std::basic_string_view<Char>;
  using String = std::basic_string<Char>;

  static constexpr Char kLineEndUnits[] = {Char('\r'), Char('\n')};
  static constexpr View kLineEnd{kLineEndUnits, 2};
  static constexpr Char kBreakUnits[] = {Char('\r'), Char('\n')};
  static constexpr View kBreaks{kBreakUnits, 2};

  static bool IsBlank(Char c) { return c == Char(' ') || c == Char('\t'); }

  static View Trim(View text) {
    while (!text.empty() && IsBlank(text.front()))
      text.remove_prefix(1);
    while (!text.empty() && IsBlank(text.back()))
      text.remove_suffix(1);
    return text;
  }

  static bool SameName(View a, View b) {
    if (a.size() != b.size())
      return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
      if (vcl::UpperCase(a[i]) != vcl::UpperCase(b[i]))
        return false;
    }
    return true;
  }

  struct Line {
    enum class Kind { Other, Section, Key };
    std::size_t begin;  // first unit of the line
    std::size_t end;    // first unit of its line break (or the end of the text)
    std::size_t next;   // first unit after its line break
    Kind kind = Kind::Other;
    View name;
    View value;  // the raw text after '=', trimmed
  };

  static Line ClassifyLine(View text, std::size_t begin, std::size_t end, std::size_t next) {
    Line line{begin, end, next, Line::Kind::Other, {}, {}};
    const View content = Trim(text.substr(begin, end - begin));
    if (content.empty() || content.front() == Char(';'))
      return line;
    if (content.front() == Char('[')) {
      View name = content.substr(1);
      name = name.substr(0, name.find(Char(']')));
      line.kind = Line::Kind::Section;
      line.name = Trim(name);
      return line;
    }
    const std::size_t equals = content.find(Char('='));
    if (equals == View::npos)
      return line;
    const View name = Trim(content.substr(0, equals));
    if (name.empty())
      return line;
    line.kind = Line::Kind::Key;
    line.name = name;
    line.value = Trim(content.substr(equals + 1));
    return line;
  }

  // An 8-bit file may start with the UTF-8 mark; it is no part of the first line.
  static std::size_t MarkLength(View text) {
    if constexpr (std::is_same_v<Char, char>) {
      constexpr View kMark = "\xEF\xBB\xBF";
      return text.starts_with(kMark) ? kMark.size() : 0;
    }
    return 0;
  }

  static std::vector<Line> SplitLines(View text) {
    std::vector<Line> lines;
    std::size_t pos = MarkLength(text);
    while (pos < text.size()) {
      const std::size_t end = text.find_first_of(kBreaks, pos);
      if (end == View::npos) {
        lines.push_back(ClassifyLine(text, pos, text.size(), text.size()));
        break;
      }
      std::size_t next = end + 1;
      if (text[end] == Char('\r') && next < text.size() && text[next] == Char('\n'))
        ++next;
      lines.push_back(ClassifyLine(text, pos, end, next));
      pos = next;
    }
    return lines;
  }

  // The first section named `section`: its header line and the index just
  // past its last line.
  struct SectionRange {
    std::size_t header;
    std::size_t last;
  };

  static std::optional<SectionRange> FindSection(const std::vector<Line>& lines, View section) {
    const View wanted = Trim(section);
    for (std::size_t i = 0; i < lines.size(); ++i) {
      if (lines[i].kind != Line::Kind::Section || !SameName(lines[i].name, wanted))
        continue;
      std::size_t last = i + 1;
      while (last < lines.size() && lines[last].kind != Line::Kind::Section)
        ++last;
      return SectionRange{i, last};
    }
    return std::nullopt;
  }

  static std::optional<std::size_t> FindKey(const std::vector<Line>& lines, SectionRange range,
                                            View key) {
    const View wanted = Trim(key);
    for (std::size_t i = range.header + 1; i < range.last; ++i) {
      if (lines[i].kind == Line::Kind::Key && SameName(lines[i].name, wanted))
        return i;
    }
    return std::nullopt;
  }

  static String Unquoted(View value) {
    if (value.size() >= 2 && (value.front() == Char('"') || value.front() == Char('\'')) &&
        value.back() == value.front()) {
      value = value.substr(1, value.size() - 2);
    }
    return String(value.substr(0, kIniMaxValueLength));
  }

  // Where a new line can start after `line`, adding the line break that the
  // last line of a file may lack.
  static std::size_t EnsureLineEnd(String& out, const Line& line) {
    if (line.end == line.next) {
      out.insert(line.end, kLineEnd);
      return line.end + kLineEnd.size();
    }
    return line.next;
  }

  static std::optional<String> Lookup(View text, View section, View key) {
    const std::vector<Line> lines = SplitLines(text);
    const auto range = FindSection(lines, section);
    if (!range)
      return std::nullopt;
    const auto index = FindKey(lines, *range, key);
    if (!index)
      return std::nullopt;
    return Unquoted(lines[*index].value);
  }

  static String Assign(View text, View section, View key, View value) {
    const std::vector<Line> lines = SplitLines(text);
    String out(text);
    const auto range = FindSection(lines, section);
    if (!range) {
      const bool onlyMark = !text.empty() && MarkLength(text) == text.size();
      if (!text.empty() && !onlyMark && text.back() != Char('\n') && text.back() != Char('\r'))
        out += kLineEnd;
      out += Char('[');
      out += Trim(section);
      out += Char(']');
      out += kLineEnd;
      out += Trim(key);
      out += Char('=');
      out += value;
      out += kLineEnd;
      return out;
    }
    if (const auto index = FindKey(lines, *range, key)) {
      const Line& line = lines[*index];
      String replacement(line.name);
      replacement += Char('=');
      replacement += value;
      out.replace(line.begin, line.end - line.begin, replacement);
      return out;
    }
    std::size_t after = range->header;
    for (std::size_t i = range->header + 1; i < range->last; ++i) {
      if (lines[i].kind == Line::Kind::Key)
        after = i;
    }
    const std::size_t at = EnsureLineEnd(out, lines[after]);
    String added(Trim(key));
    added += Char('=');
    added += value;
    added += kLineEnd;
    out.insert(at, added);
    return out;
  }

  static std::optional<String> Remove(View text, View section, View key) {
    const std::vector<Line> lines = SplitLines(text);
    const auto range = FindSection(lines, section);
    if (!range)
      return std::nullopt;
    const View wanted = Trim(key);
    String out;
    std::size_t copied = 0;
    bool removed = false;
    for (std::size_t i = range->header + 1; i < range->last; ++i) {
      if (lines[i].kind != Line::Kind::Key || !SameName(lines[i].name, wanted))
        continue;
      out += text.substr(copied, lines[i].begin - copied);
      copied = lines[i].next;
      removed = true;
    }
    if (!removed)
      return std::nullopt;
    out += text.substr(copied);
    return out;
  }
};

// A file that starts with the mark FF FE is UTF-16LE, as Windows' editors
// save "Unicode" and Windows' own profile functions read and write it.
constexpr std::string_view kUtf16Mark = "\xFF\xFE";

bool IsUtf16(std::string_view file) {
  return file.starts_with(kUtf16Mark);
}

// The UTF-16 units after the mark; an odd last byte is no unit and is kept
// aside so that writing the file back keeps it.
struct Utf16Text {
  std::u16string units;
  std::string oddByte;
};

Utf16Text DecodeUtf16(std::string_view file) {
  file.remove_prefix(kUtf16Mark.size());
  Utf16Text text;
  text.units.reserve(file.size() / 2);
  for (std::size_t i = 0; i + 1 < file.size(); i += 2) {
    text.units += static_cast<char16_t>(static_cast<unsigned char>(file[i]) |
                                        static_cast<unsigned char>(file[i + 1]) << 8);
  }
  if (file.size() % 2 != 0)
    text.oddByte.assign(1, file.back());
  return text;
}

std::string EncodeUtf16(std::u16string_view units, std::string_view oddByte) {
  std::string file(kUtf16Mark);
  file.reserve(kUtf16Mark.size() + units.size() * 2 + oddByte.size());
  for (const char16_t unit : units) {
    file += static_cast<char>(unit & 0xFF);
    file += static_cast<char>(unit >> 8);
  }
  file += oddByte;
  return file;
}

std::u16string Wide(std::string_view narrow) {
  return platform::NarrowToUtf16(narrow);
}

std::mutex& SettingsLock() {
  static std::mutex lock;
  return lock;
}

}  // namespace

std::optional<std::string> IniLookup(std::string_view text, std::string_view section,
                                     std::string_view key) {
  if (!IsUtf16(text))
    return Ini<char>::Lookup(text, section, key);
  const auto value = Ini<char16_t>::Lookup(DecodeUtf16(text).units, Wide(section), Wide(key));
  if (!value)
    return std::nullopt;
  return platform::Utf16ToNarrow(*value);
}

std::optional<std::string> IniWriteProblem(std::string_view section, std::string_view key,
                                           std::string_view value) {
  const std::string_view sectionName = Ini<char>::Trim(section);
  const std::string_view keyName = Ini<char>::Trim(key);
  const auto hasLineBreak = [](std::string_view text) {
    return text.find_first_of("\r\n") != text.npos;
  };
  if (sectionName.empty())
    return "the section name is empty";
  if (hasLineBreak(section) || section.find(']') != section.npos)
    return "the section name holds a line break or ']'";
  if (keyName.empty())
    return "the key name is empty";
  if (hasLineBreak(key) || key.find('=') != key.npos || keyName.front() == '[' ||
      keyName.front() == ';')
    return "the key name holds a line break or '=', or starts with '[' or ';'";
  if (hasLineBreak(value))
    return "the value holds a line break";
  return std::nullopt;
}

std::string IniAssign(std::string_view text, std::string_view section, std::string_view key,
                      std::string_view value) {
  if (!IsUtf16(text))
    return Ini<char>::Assign(text, section, key, value);
  const Utf16Text file = DecodeUtf16(text);
  return EncodeUtf16(Ini<char16_t>::Assign(file.units, Wide(section), Wide(key), Wide(value)),
                     file.oddByte);
}

std::optional<std::string> IniRemove(std::string_view text, std::string_view section,
                                     std::string_view key) {
  if (!IsUtf16(text))
    return Ini<char>::Remove(text, section, key);
  const Utf16Text file = DecodeUtf16(text);
  const auto removed = Ini<char16_t>::Remove(file.units, Wide(section), Wide(key));
  if (!removed)
    return std::nullopt;
  return EncodeUtf16(*removed, file.oddByte);
}

std::string IniFile::ReadString(std::string_view section, std::string_view key,
                                std::string_view defaultValue) const {
  std::optional<std::string> text;
  {
    std::lock_guard lock(SettingsLock());
    text = platform::files().ReadAll(path_);
  }
  if (!text)
    return std::string(defaultValue);
  auto value = IniLookup(*text, section, key);
  return value ? std::move(*value) : std::string(defaultValue);
}

bool IniFile::ValueExists(std::string_view section, std::string_view key) const {
  std::optional<std::string> text;
  {
    std::lock_guard lock(SettingsLock());
    text = platform::files().ReadAll(path_);
  }
  return text && IniLookup(*text, section, key).has_value();
}

void IniFile::WriteString(std::string_view section, std::string_view key,
                          std::string_view value) const {
  const std::string what = Change("write", section, key);
  if (const auto problem = IniWriteProblem(section, key, value))
    Fail(what, *problem);
  std::lock_guard lock(SettingsLock());
  const auto text = ReadForChange(what);
  Replace(what, IniAssign(text.value_or(std::string()), section, key, value));
}

void IniFile::WriteStrings(const std::vector<IniValue>& values) const {
  if (values.empty())
    return;
  for (const IniValue& one : values) {
    if (const auto problem = IniWriteProblem(one.section, one.key, one.value))
      Fail(Change("write", one.section, one.key), *problem);
  }
  const IniValue& first = values.front();
  const std::string what = values.size() == 1
                               ? Change("write", first.section, first.key)
                               : "write " + std::to_string(values.size()) + " keys (the first \"" +
                                     first.key + "\" in section [" + first.section + "])";
  std::lock_guard lock(SettingsLock());
  std::string text = ReadForChange(what).value_or(std::string());
  for (const IniValue& one : values)
    text = IniAssign(text, one.section, one.key, one.value);
  Replace(what, text);
}

void IniFile::DeleteKey(std::string_view section, std::string_view key) const {
  const std::string what = Change("delete", section, key);
  std::lock_guard lock(SettingsLock());
  const auto text = ReadForChange(what);
  if (!text)
    return;
  if (const auto changed = IniRemove(*text, section, key))
    Replace(what, *changed);
}

std::string IniFile::Change(std::string_view action, std::string_view section,
                            std::string_view key) {
  std::string what(action);
  what.append(" key \"").append(key).append("\" in section [").append(section).append("]");
  return what;
}

// The file's text, or nothing when the file does not exist yet. Caller holds the lock.
std::optional<std::string> IniFile::ReadForChange(const std::string& what) const {
  auto& files = platform::files();
  const uint32_t attributes = files.GetAttributes(path_);
  if (attributes == platform::kInvalidFileAttributes)
    return std::nullopt;
  if (attributes & platform::kFileAttributeDirectory)
    Fail(what, "it is a folder");
  auto text = files.ReadAll(path_);
  if (!text)
    Fail(what, "the file cannot be opened");
  return text;
}

// The attribute is checked here and not left to the file system: a process
// running as root may write to a file without write permission. Caller holds
// the lock, also through the pauses: nobody else changes the file meanwhile.
void IniFile::Replace(const std::string& what, const std::string& text) const {
  auto& files = platform::files();
  const uint32_t attributes = files.GetAttributes(path_);
  if (attributes != platform::kInvalidFileAttributes &&
      (attributes & platform::kFileAttributeReadOnly))
    Fail(what, "the file is read-only");
  for (int attempt = 1;; ++attempt) {
    if (files.ReplaceAll(path_, text))
      return;
    const platform::FileError error = files.LastError();
    if (!error.transient || attempt == kReplaceTries) {
      std::string reason = "the file cannot be written";
      if (!error.reason.empty())
        reason += " (" + error.reason + ")";
      Fail(what, reason);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(kReplacePauseMs));
  }
}

void IniFile::Fail(const std::string& what, std::string_view reason) const {
  std::string message = "Cannot " + what + " of \"" + path_ + "\": ";
  message.append(reason).append(".");
  throw EIniFileException(message);
}

}  // namespace common
