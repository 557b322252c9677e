// The profile-file engine: one value of an INI text found, set or removed with
// the rules of the Windows profile functions, and a file that is opened,
// parsed and closed again for every single value (nothing is cached).
//
// Rules: section and key names match without regard to (ASCII) case and the
// first match wins (a later section of the same name is never looked at);
// names and values lose surrounding blanks and tabs; there are no inline
// comments, and a line whose first character is ';' is a comment; a value in
// matching single or double quotes loses them; a present but empty value is
// "" and not the caller's default; values are cut at 2047 characters; lines end
// in CR LF, LF or CR, and a UTF-8 byte order mark is skipped.
//
// The text is the file's bytes. A file that starts with the mark FF FE is
// UTF-16LE, as Windows' own profile functions read and write it: it is read
// and written in UTF-16 with its mark, and the names and values given or
// returned here are converted from and to the platform's narrow encoding.
#pragma once

#include <cstddef>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace common {

inline constexpr std::size_t kIniMaxValueLength = 2047;

// A write or delete that left the file as it was.
class EIniFileException : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The value of `key` in `section`, or nothing when the section or key is missing.
std::optional<std::string> IniLookup(std::string_view text, std::string_view section,
                                     std::string_view key);

// Why `section`, `key` and `value` cannot be written as one line each without
// changing what the file means, or nothing when they can. A line break in the
// value would start a key of its own, so it is refused rather than cut.
std::optional<std::string> IniWriteProblem(std::string_view section, std::string_view key,
                                           std::string_view value);

// `text` with the key set to `value` (the caller has checked IniWriteProblem):
// an existing key is replaced on its own line, keeping the spelling of its
// name; a new key follows the last key of its section; a new section goes at
// the end. Lines written end in CR LF; every other byte stays as it was.
std::string IniAssign(std::string_view text, std::string_view section, std::string_view key,
                      std::string_view value);

// `text` without the key (every line of it in the section), or nothing when
// the key is not there.
std::optional<std::string> IniRemove(std::string_view text, std::string_view section,
                                     std::string_view key);

// One value to write (WriteStrings).
struct IniValue {
  std::string section;
  std::string key;
  std::string value;
};

// One profile file. Every call takes the process-wide settings lock, so a
// thread never sees another thread's read-modify-write half done.
//
// A replacement that another program holds up for a moment (a virus scanner,
// a backup, an editor) is tried again a few times before it fails; the error
// then names the system's reason.
class IniFile {
 public:
  explicit IniFile(std::string path) : path_(std::move(path)) {}

  const std::string& path() const { return path_; }

  // `defaultValue` when the file, the section or the key is missing.
  std::string ReadString(std::string_view section, std::string_view key,
                         std::string_view defaultValue) const;
  bool ValueExists(std::string_view section, std::string_view key) const;

  // Throw EIniFileException and leave the file byte for byte as it was when
  // the file is read-only, cannot be opened or cannot be replaced, or when
  // the names or the value cannot be written.
  void WriteString(std::string_view section, std::string_view key, std::string_view value) const;
  void DeleteKey(std::string_view section, std::string_view key) const;
  // Writes the values in their order, as as many WriteString calls would,
  // but in one replacement of the file: all of them are written, or (the
  // exception) none.
  void WriteStrings(const std::vector<IniValue>& values) const;

  // How often a replacement held up by another program is tried, and the
  // pause between the tries.
  static constexpr int kReplaceTries = 5;
  static constexpr int kReplacePauseMs = 50;

 private:
  std::optional<std::string> ReadForChange(const std::string& what) const;
  void Replace(const std::string& what, const std::string& text) const;
  // What a change does, as its error names it: "write key "K" in section [S]".
  static std::string Change(std::string_view action, std::string_view section,
                            std::string_view key);
  [[noreturn]] void Fail(const std::string& what, std::string_view reason) const;

  std::string path_;
};

}  // namespace common
