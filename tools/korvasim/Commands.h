// What drives the simulated module: commands typed on the standard input
// ("frame TEXT", "silence", "quit") and script lines ("after N ms send frame
// TEXT", "after N ms silence", "after N ms quit"). Frame texts use C escapes
// (\r, \n, \t, \\, \xHH) for bytes that cannot be typed.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace korvasim {

// The longest frame accepted (the module's longest is 42 characters).
inline constexpr size_t kMaxFrameBytes = 256;

struct Action {
  enum Kind { kFrame, kSilence, kQuit };
  Kind kind = kSilence;
  std::string frame;  // kFrame: the bytes to repeat
};

struct TimedAction {
  uint64_t afterMs = 0;  // from the start of the simulator
  Action action;
};

// A parsed line: an action, nothing (a blank or comment line), or an error.
template <class T>
struct Parsed {
  std::optional<T> value;
  std::string error;
};

// The text without the blanks around it.
std::string_view Trim(std::string_view text);
// Takes the next blank-separated word off the front of `text`.
std::string_view NextWord(std::string_view& text);

// Decodes the escapes of a frame text; an error names the bad escape.
Parsed<std::string> DecodeFrame(std::string_view text);
// The bytes in the same notation, for messages.
std::string EncodeBytes(std::string_view bytes);

Parsed<Action> ParseCommand(std::string_view line);
Parsed<TimedAction> ParseScriptLine(std::string_view line);

// A whole script; bad lines are reported in `errors` ("line N: ...") and skipped.
// The actions come out in time order (lines of equal time in file order).
std::vector<TimedAction> ParseScript(std::string_view text, std::vector<std::string>& errors);

}  // namespace korvasim
