// Unit ComServer: korvamon as a COM server, as its command line starts it.
// "/RegServer" registers its type library and its server class and ends the
// program, "/UnregServer" removes both; "/Embedding" and "/Automation" say
// that COM started it for a client. A switch is a parameter that begins with
// '-' or '/'; its name is read in any case.
#pragma once

#include <functional>
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

#include "platform/com/Com.h"

namespace opcserver {

enum class ComServerAction { Run, Register, Unregister };

struct ComServerStart {
  ComServerAction action = ComServerAction::Run;
  bool startedByCom = false;
};

// What the program's parameters (the words after its name) ask for.
ComServerStart ReadComServerSwitches(const std::vector<std::string>& parameters);

// Whether COM started the running program ("EMBEDDING" or "AUTOMATION"):
// it then ends when its last client has gone.
bool StartedByCom();

// The type library registered with the program (linked into it on Windows).
platform::com::TypeLibraryAttributes KorvaTypeLibrary();

// Registers the program's type library, then its server class through
// `updateRegistry` (the class factory's UpdateRegistry); unregistering runs
// the other way round. Answers the program's exit code: 0 when every step
// succeeded; 1 when one failed, its text written to `errors`.
int UpdateComServerRegistry(bool doRegister, const std::function<void(bool)>& updateRegistry,
                            std::ostream& errors);

// At the program's start: with "REGSERVER" or "UNREGSERVER", that
// registration's exit code, and the program ends; otherwise nothing, and it
// goes on.
std::optional<int> RunRegistrationSwitches(const std::function<void(bool)>& updateRegistry,
                                           std::ostream& errors);

}  // namespace opcserver
