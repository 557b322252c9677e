// The words the program was started with: its own name first, then its
// parameters. On Windows they come from the process's command line, split
// the way the class library's runtime splits it; on POSIX they are the argv
// that main received.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// The program's words, its name first (a test's words while it installs some).
std::vector<std::string> CommandLineWords();

// The platform's own words, whatever a test installed.
std::vector<std::string> NativeCommandLineWords();

// POSIX: main hands its argv over before anything asks for the words.
// Windows: nothing to do, the system keeps the command line.
void KeepCommandLine(int argc, const char* const* argv);

// Splits a Windows command line: characters up to the blank (control
// characters too) separate words; a double quote starts or ends a group in
// which they do not, and is itself dropped; a backslash is an ordinary
// character. `a"b c"d` is the one word `ab cd`; `""` is an empty word.
std::vector<std::string> SplitCommandLine(std::string_view line);

// Installs `words` as the program's words while it lives (tests).
class ScopedCommandLine {
 public:
  explicit ScopedCommandLine(std::vector<std::string> words);
  ~ScopedCommandLine();
  ScopedCommandLine(const ScopedCommandLine&) = delete;
  ScopedCommandLine& operator=(const ScopedCommandLine&) = delete;

 private:
  std::optional<std::vector<std::string>> previous_;
};

}  // namespace platform
