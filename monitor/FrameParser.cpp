#include "monitor/FrameParser.h"

namespace monitor {
namespace {

constexpr char kFrameMark = '*';
// The start word is five characters long: its last character is this far on.
constexpr size_t kStartWordEnd = 4;
// Characters dropped before the one second try.
constexpr size_t kSecondTryDrop = 4;

bool IsMarkAt(std::string_view text, size_t position) {
  return position < text.size() && text[position] == kFrameMark;
}

// Only the first '*' is looked at: a text whose first '*' starts no frame
// gets its one second try from the caller, not a search for the next '*'.
size_t FrameStart(std::string_view text) {
  const size_t first = text.find(kFrameMark);
  if (first == std::string_view::npos || !IsMarkAt(text, first + kStartWordEnd))
    return std::string_view::npos;
  return first;
}

}  // namespace

FoundFrame FindFrame(std::string_view text) {
  size_t start = FrameStart(text);
  if (start == std::string_view::npos) {
    text = text.size() > kSecondTryDrop ? text.substr(kSecondTryDrop) : std::string_view();
    start = FrameStart(text);
  }
  if (start == std::string_view::npos)
    return {};

  FoundFrame found;
  found.valid = true;
  if (IsMarkAt(text, start + kShortFrameLength))
    found.length = kShortFrameLength;
  else if (!IsMarkAt(text, start + kChargeFrameLength))
    found.length = kLongFrameLength;
  else
    found.length = kChargeFrameLength;
  found.frame = text.substr(start, found.length);
  return found;
}

}  // namespace monitor
