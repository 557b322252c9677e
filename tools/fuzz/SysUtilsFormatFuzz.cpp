// libFuzzer target: Format with hostile formats. Any format gives a text or
// raises EConvertError; widths and precisions never grow texts without bound.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "vcl/SysUtils.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string format(reinterpret_cast<const char*>(data), size);
  const std::string text = "text";
  try {
    const std::string out = vcl::Format(format, 42, -1.5e300, text, int64_t{-7}, 3u, 0.25);
    if (out.size() > size * 70000 + 4096)
      std::abort();
  } catch (const vcl::EConvertError&) {
  }
  return 0;
}
