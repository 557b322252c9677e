// Unit ProgramStart: starting the command line a reaction is configured with
// (and the settings dialog's test buttons). The command line names a program
// file by one of the known extensions; what follows it are the program's
// parameters. Failures are told to the user in message boxes.
//
// The shell is asked on a thread of its own: a program that asks for
// elevation waits for the user's consent, one on a share that does not answer
// waits for the network, and meanwhile the main thread keeps the watchdog and
// the shutdown timers running. The thread is never joined: nothing waits for
// it, not even the program's end, and it touches nothing of the program but
// the shell's answer, which it posts back through the main loop's link.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "platform/Process.h"

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

// Asks the shell to start `call` with the default verb, on a thread of its
// own, and returns at once. `onResult` runs on the main thread with the
// shell's number, after the results of the starts asked for before this one;
// once the main loop has gone it is dropped. Main thread.
void StartInBackground(const platform::ShellCall& call, std::function<void(int)> onResult);
// The starts whose thread has not ended yet (a test waits for none).
int StartsUnderWay();

// Starts the command line with the default verb in the program's folder, in
// the background; true when the start was handed to the shell. An empty
// command line starts nothing and says nothing. Without a program file, an
// information box shows text 70 and the command line at once; a start that
// fails shows the text for its number when the shell has answered. Main
// thread.
bool RunProgram(std::string_view commandLine);

}  // namespace monitor
