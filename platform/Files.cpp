// The program's folder, taken from the path of the running program that the
// installed Files report, so a test that puts the program elsewhere moves it.
#include "platform/Files.h"

#include "platform/Services.h"

namespace platform {

std::string ProgramFolder() {
  const std::string program = files().ExecutablePath();
  const size_t separator = program.find_last_of("\\/");
  return separator == std::string::npos ? std::string() : program.substr(0, separator + 1);
}

}  // namespace platform
