#include "vcl/Params.h"

#include <vector>

#include "platform/CommandLine.h"
#include "platform/Files.h"
#include "platform/Services.h"

namespace vcl {

int ParamCount() {
  const size_t words = platform::CommandLineWords().size();
  return words > 1 ? static_cast<int>(words - 1) : 0;
}

std::string ParamStr(int index) {
  if (index == 0)
    return platform::files().ExecutablePath();
  const std::vector<std::string> words = platform::CommandLineWords();
  if (index < 0 || static_cast<size_t>(index) >= words.size())
    return {};
  return words[static_cast<size_t>(index)];
}

}  // namespace vcl
