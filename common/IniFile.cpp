#include "common/IniFile.h"

#include <mutex>
#include <vector>

#include "platform/Files.h"
#include "platform/Services.h"

namespace common {
namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
constexpr std::string_view kLineEnd = "\r\n";

bool IsBlank(char c) {
  return c == ' ' || c == '\t';
}

std::string_view Trim(std::string_view text) {
  while (!text.empty() && IsBlank(text.front()))
    text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back()))
    text.remove_suffix(1);
  return text;
}

char UpperAscii(char c) {
  return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size())
    return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (UpperAscii(a[i]) != UpperAscii(b[i]))
      return false;
  }
  return true;
}

struct Line {
  enum class Kind { Other, Section, Key };
  std::size_t begin;  // first byte of the line
  std::size_t end;    // first byte of its line break (or the end of the text)
  std::size_t next;   // first byte after its line break
  Kind kind = Kind::Other;
  std::string_view name;
  std::string_view value;  // the raw text after '=', trimmed
};

Line ClassifyLine(std::string_view text, std::size_t begin, std::size_t end, std::size_t next) {
  Line line{begin, end, next, Line::Kind::Other, {}, {}};
  const std::string_view content = Trim(text.substr(begin, end - begin));
  if (content.empty() || content.front() == ';')
    return line;
  if (content.front() == '[') {
    std::string_view name = content.substr(1);
    name = name.substr(0, name.find(']'));
    line.kind = Line::Kind::Section;
    line.name = Trim(name);
    return line;
  }
  const std::size_t equals = content.find('=');
  if (equals == std::string_view::npos)
    return line;
  const std::string_view name = Trim(content.substr(0, equals));
  if (name.empty())
    return line;
  line.kind = Line::Kind::Key;
  line.name = name;
  line.value = Trim(content.substr(equals + 1));
  return line;
}

std::vector<Line> SplitLines(std::string_view text) {
  std::vector<Line> lines;
  std::size_t pos = text.starts_with(kByteOrderMark) ? kByteOrderMark.size() : 0;
  while (pos < text.size()) {
    const std::size_t end = text.find_first_of("\r\n", pos);
    if (end == std::string_view::npos) {
      lines.push_back(ClassifyLine(text, pos, text.size(), text.size()));
      break;
    }
    std::size_t next = end + 1;
    if (text[end] == '\r' && next < text.size() && text[next] == '\n')
      ++next;
    lines.push_back(ClassifyLine(text, pos, end, next));
    pos = next;
  }
  return lines;
}

// The first section named `section`: its header line and the index just past
// its last line.
struct SectionRange {
  std::size_t header;
  std::size_t last;
};

std::optional<SectionRange> FindSection(const std::vector<Line>& lines, std::string_view section) {
  const std::string_view wanted = Trim(section);
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

std::optional<std::size_t> FindKey(const std::vector<Line>& lines, SectionRange range,
                                   std::string_view key) {
  const std::string_view wanted = Trim(key);
  for (std::size_t i = range.header + 1; i < range.last; ++i) {
    if (lines[i].kind == Line::Kind::Key && SameName(lines[i].name, wanted))
      return i;
  }
  return std::nullopt;
}

std::string Unquoted(std::string_view value) {
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
      value.back() == value.front()) {
    value = value.substr(1, value.size() - 2);
  }
  return std::string(value.substr(0, kIniMaxValueLength));
}

bool HasLineBreak(std::string_view text) {
  return text.find_first_of("\r\n") != text.npos;
}

// Where a new line can start after `line`, adding the line break that the
// last line of a file may lack.
std::size_t EnsureLineEnd(std::string& out, const Line& line) {
  if (line.end == line.next) {
    out.insert(line.end, kLineEnd);
    return line.end + kLineEnd.size();
  }
  return line.next;
}

std::mutex& SettingsLock() {
  static std::mutex lock;
  return lock;
}

}  // namespace

std::optional<std::string> IniLookup(std::string_view text, std::string_view section,
                                     std::string_view key) {
  const std::vector<Line> lines = SplitLines(text);
  const auto range = FindSection(lines, section);
  if (!range)
    return std::nullopt;
  const auto index = FindKey(lines, *range, key);
  if (!index)
    return std::nullopt;
  return Unquoted(lines[*index].value);
}

std::optional<std::string> IniWriteProblem(std::string_view section, std::string_view key,
                                           std::string_view value) {
  const std::string_view sectionName = Trim(section);
  const std::string_view keyName = Trim(key);
  if (sectionName.empty())
    return "the section name is empty";
  if (HasLineBreak(section) || section.find(']') != section.npos)
    return "the section name holds a line break or ']'";
  if (keyName.empty())
    return "the key name is empty";
  if (HasLineBreak(key) || key.find('=') != key.npos || keyName.front() == '[' ||
      keyName.front() == ';')
    return "the key name holds a line break or '=', or starts with '[' or ';'";
  if (HasLineBreak(value))
    return "the value holds a line break";
  return std::nullopt;
}

std::string IniAssign(std::string_view text, std::string_view section, std::string_view key,
                      std::string_view value) {
  const std::vector<Line> lines = SplitLines(text);
  std::string out(text);
  const auto range = FindSection(lines, section);
  if (!range) {
    const bool onlyMark = text == kByteOrderMark;
    if (!text.empty() && !onlyMark && text.back() != '\n' && text.back() != '\r')
      out += kLineEnd;
    out.append("[").append(Trim(section)).append("]").append(kLineEnd);
    out.append(Trim(key)).append("=").append(value).append(kLineEnd);
    return out;
  }
  if (const auto index = FindKey(lines, *range, key)) {
    const Line& line = lines[*index];
    std::string replacement(line.name);
    replacement.append("=").append(value);
    out.replace(line.begin, line.end - line.begin, replacement);
    return out;
  }
  std::size_t after = range->header;
  for (std::size_t i = range->header + 1; i < range->last; ++i) {
    if (lines[i].kind == Line::Kind::Key)
      after = i;
  }
  const std::size_t at = EnsureLineEnd(out, lines[after]);
  std::string added(Trim(key));
  added.append("=").append(value).append(kLineEnd);
  out.insert(at, added);
  return out;
}

std::optional<std::string> IniRemove(std::string_view text, std::string_view section,
                                     std::string_view key) {
  const std::vector<Line> lines = SplitLines(text);
  const auto range = FindSection(lines, section);
  if (!range)
    return std::nullopt;
  const std::string_view wanted = Trim(key);
  std::string out;
  std::size_t copied = 0;
  bool removed = false;
  for (std::size_t i = range->header + 1; i < range->last; ++i) {
    if (lines[i].kind != Line::Kind::Key || !SameName(lines[i].name, wanted))
      continue;
    out.append(text.substr(copied, lines[i].begin - copied));
    copied = lines[i].next;
    removed = true;
  }
  if (!removed)
    return std::nullopt;
  out.append(text.substr(copied));
  return out;
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
  if (const auto problem = IniWriteProblem(section, key, value))
    Fail("write", section, key, *problem);
  std::lock_guard lock(SettingsLock());
  const auto text = ReadForChange("write", section, key);
  Replace("write", section, key, IniAssign(text.value_or(std::string()), section, key, value));
}

void IniFile::DeleteKey(std::string_view section, std::string_view key) const {
  std::lock_guard lock(SettingsLock());
  const auto text = ReadForChange("delete", section, key);
  if (!text)
    return;
  if (const auto changed = IniRemove(*text, section, key))
    Replace("delete", section, key, *changed);
}

// The file's text, or nothing when the file does not exist yet. Caller holds the lock.
std::optional<std::string> IniFile::ReadForChange(std::string_view action, std::string_view section,
                                                  std::string_view key) const {
  auto& files = platform::files();
  const uint32_t attributes = files.GetAttributes(path_);
  if (attributes == platform::kInvalidFileAttributes)
    return std::nullopt;
  if (attributes & platform::kFileAttributeDirectory)
    Fail(action, section, key, "it is a folder");
  auto text = files.ReadAll(path_);
  if (!text)
    Fail(action, section, key, "the file cannot be opened");
  return text;
}

// The attribute is checked here and not left to the file system: a process
// running as root may write to a file without write permission.
void IniFile::Replace(std::string_view action, std::string_view section, std::string_view key,
                      const std::string& text) const {
  auto& files = platform::files();
  const uint32_t attributes = files.GetAttributes(path_);
  if (attributes != platform::kInvalidFileAttributes &&
      (attributes & platform::kFileAttributeReadOnly))
    Fail(action, section, key, "the file is read-only");
  if (!files.ReplaceAll(path_, text))
    Fail(action, section, key, "the file cannot be written");
}

void IniFile::Fail(std::string_view action, std::string_view section, std::string_view key,
                   std::string_view reason) const {
  std::string message = "Cannot ";
  message.append(action)
      .append(" key \"")
      .append(key)
      .append("\" in section [")
      .append(section)
      .append("] of \"")
      .append(path_)
      .append("\": ")
      .append(reason)
      .append(".");
  throw EIniFileException(message);
}

}  // namespace common
