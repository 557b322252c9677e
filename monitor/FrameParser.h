// The module's status frames found in a block of received characters: where
// a frame starts, how long the module's frames are (21, 28 or 42 characters,
// told by where the next frame starts) and the frame itself. Pure text work
// with no state, so any thread may call it; the main window does the link's
// bookkeeping around it.
#pragma once

#include <cstddef>
#include <string_view>

namespace monitor {

// Every frame starts with a 5-character word that begins and ends with '*'
// ("*****" or "*BAT*"); the next frame starts right after this one.
inline constexpr size_t kShortFrameLength = 21;
inline constexpr size_t kChargeFrameLength = 28;
inline constexpr size_t kLongFrameLength = 42;

struct FoundFrame {
  bool valid = false;
  // 21, 28 or 42 when valid, else 0.
  size_t length = 0;
  // The frame, a view into the text given (which must outlive it): `length`
  // characters, fewer when the text ends earlier; empty when not valid.
  std::string_view frame;
};

// A frame starts at the first '*' whose fourth following character is '*'
// too. When the first '*' is not such a start, one more try is made on the
// text without its first four characters. The length is 21 when the
// character 21 places on is '*', 42 when the one 28 places on is not, else
// 28; places beyond the text count as not '*'.
FoundFrame FindFrame(std::string_view text);

}  // namespace monitor
