// Unit ComServer: the command line of a COM server and its registration.
#include "opcserver/ComServer.h"

#include <ostream>

#include "opcserver/PsComUtils.h"
#include "opcserver/ServerIdentity.h"
#include "opcserver/ServerRegistration.h"
#include "platform/CommandLine.h"
#include "vcl/Classes.h"

namespace opcserver {

namespace {

bool IsSwitch(const std::string& parameter, const char* name) {
  if (parameter.empty() || (parameter[0] != '-' && parameter[0] != '/'))
    return false;
  return vcl::SameText(parameter.substr(1), name);
}

bool HasSwitch(const std::vector<std::string>& parameters, const char* name) {
  for (const std::string& parameter : parameters)
    if (IsSwitch(parameter, name))
      return true;
  return false;
}

// COM for the registration's calls, on this thread, for as long as it lives.
class Apartment {
 public:
  Apartment() : result_(CoInitializeEx(nullptr, COINIT_MULTITHREADED)) {}
  ~Apartment() {
    if (SUCCEEDED(result_))
      CoUninitialize();
  }
  Apartment(const Apartment&) = delete;
  Apartment& operator=(const Apartment&) = delete;

 private:
  HRESULT result_;
};

void UpdateTypeLibrary(bool doRegister) {
  const platform::com::TypeLibraryAttributes library = KorvaTypeLibrary();
  const HRESULT result =
      doRegister ? platform::com::RegisterTypeLibrary(library, platform::com::ProgramFilePath())
                 : platform::com::UnregisterTypeLibrary(library);
  if (FAILED(result))
    throw EOleRegistrationError(std::string(doRegister ? "Cannot register" : "Cannot unregister") +
                                    " the type library " + kTypeLibraryId + ": " +
                                    OleErrorText(result),
                                result);
}

ComServerStart ProgramStart() {
  const std::vector<std::string> words = platform::CommandLineWords();
  return ReadComServerSwitches({words.begin() + (words.empty() ? 0 : 1), words.end()});
}

}  // namespace

ComServerStart ReadComServerSwitches(const std::vector<std::string>& parameters) {
  ComServerStart start;
  if (HasSwitch(parameters, "REGSERVER"))
    start.action = ComServerAction::Register;
  else if (HasSwitch(parameters, "UNREGSERVER"))
    start.action = ComServerAction::Unregister;
  start.startedByCom = HasSwitch(parameters, "EMBEDDING") || HasSwitch(parameters, "AUTOMATION");
  return start;
}

bool StartedByCom() {
  return ProgramStart().startedByCom;
}

platform::com::TypeLibraryAttributes KorvaTypeLibrary() {
  platform::com::TypeLibraryAttributes library;
  OleCheck(CLSIDFromString(platform::com::Utf8ToWide(kTypeLibraryId).c_str(), &library.libid));
  library.majorVersion = kTypeLibraryMajorVersion;
  library.minorVersion = kTypeLibraryMinorVersion;
  library.helpText = platform::com::Utf8ToWide(kTypeLibraryHelpText);
  return library;
}

int UpdateComServerRegistry(bool doRegister, const std::function<void(bool)>& updateRegistry,
                            std::ostream& errors) {
  const Apartment apartment;
  try {
    if (doRegister) {
      UpdateTypeLibrary(true);
      updateRegistry(true);
    } else {
      updateRegistry(false);
      UpdateTypeLibrary(false);
    }
    return 0;
  } catch (const std::exception& error) {
    errors << (doRegister ? "Registration failed: " : "Unregistration failed: ") << error.what()
           << std::endl;
    return 1;
  }
}

std::optional<int> RunRegistrationSwitches(const std::function<void(bool)>& updateRegistry,
                                           std::ostream& errors) {
  const ComServerStart start = ProgramStart();
  if (start.action == ComServerAction::Run)
    return std::nullopt;
  return UpdateComServerRegistry(start.action == ComServerAction::Register, updateRegistry, errors);
}

}  // namespace opcserver
