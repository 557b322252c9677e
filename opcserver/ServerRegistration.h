// Unit ServerRegistration: the keys under HKEY_CLASSES_ROOT that make an
// OPC server known to COM and to OPC clients (its class, ProgID, program,
// vendor, the two OPC categories it implements and its AppID), written and
// removed in one fixed order. The server's class factory registers itself
// through it; korvamon's own values are those of ServerIdentity.h.
#pragma once

#include <string>

#include "opcserver/PsComUtils.h"

namespace opcserver {

// A registry step that failed: its message names the key or step and why.
class EOleRegistrationError : public EOleSysError {
 public:
  using EOleSysError::EOleSysError;
  std::string ClassName() const override { return "EOleRegistrationError"; }
};

struct ServerRegistration {
  CLSID ClassID;
  std::string ServerName;  // the ProgID
  std::string Description;
  std::string Vendor;
  WideString ProgramPath;  // the server program's full path
};

// korvamon's server: the values of ServerIdentity.h and the running program.
ServerRegistration KorvaServerRegistration();

// What COM runs to start the server: the program's path; its short form when
// it holds a blank, and that in double quotes when it still holds one (else
// "C:\Program Files\..." would start C:\Program.exe where one exists).
WideString LocalServerCommand(WideView programPath);

// Registers (true) or unregisters (false) the server; unregistering passes
// over keys that are missing and leaves a key that still holds keys of
// others. The first step that fails raises EOleRegistrationError; so do a
// ProgID that is empty or holds a '\' and a program path without a file
// name (either would name another key).
void UpdateServerRegistry(const ServerRegistration& server, bool doRegister);
// The same for korvamon's server (KorvaServerRegistration).
void UpdateKorvaServerRegistry(bool doRegister);

}  // namespace opcserver
