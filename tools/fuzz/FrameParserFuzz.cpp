// libFuzzer target: finding a frame in arbitrary received bytes never
// crashes, never reads past the text, and only ever yields a frame that
// starts with its two marks inside the text.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "monitor/FrameParser.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const monitor::FoundFrame found = monitor::FindFrame(text);
  if (!found.valid) {
    if (!found.frame.empty())
      std::abort();
    return 0;
  }
  const char* begin = found.frame.data();
  if (begin < text.data() || begin + found.frame.size() > text.data() + text.size() ||
      found.frame.size() < 5 || found.frame[0] != '*' || found.frame[4] != '*')
    std::abort();
  return 0;
}
