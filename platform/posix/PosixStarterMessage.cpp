// The starter of a POSIX program reads its standard error.
#include <iostream>

#include "platform/StarterMessage.h"

namespace platform {

void TellStarter(const std::string& text, const std::string&) {
  std::cerr << text << std::flush;
}

}  // namespace platform
