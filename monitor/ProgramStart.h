// Unit ProgramStart: starting the command line a reaction is configured with
// (and the settings dialog's test buttons). The command line names a program
// file by one of the known extensions; what follows it are the program's
// parameters. Failures are told to the user in message boxes.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace monitor {

// A command line split as it is started: all of it upper-cased and trimmed,
// the program file cut after its extension (see ProgramFileName), then
// divided into its folder and its name.
struct ProgramCall {
  std::string file;        // the name without its folder
  std::string directory;   // the folder with its closing separator; empty without one
  std::string parameters;  // after the one character that follows the extension, trimmed
};
// Nothing when no known extension occurs.
std::optional<ProgramCall> SplitCommandLine(std::string_view commandLine);

// The language text that explains a failed start's shell number (0, 2, 3, 5,
// 6, 8, 10 to 16, 19, 20 give the texts 72 to 100); 0 for the other numbers,
// which show an empty message.
uint32_t ProgramStartErrorText(int result);

// Starts the command line with the default verb in the program's folder and
// returns true when the program was started. An empty command line starts
// nothing and says nothing. Without a program file, an information box shows
// text 70 and the command line; a start that fails shows the text for its
// number. Main thread.
bool RunProgram(std::string_view commandLine);

}  // namespace monitor
