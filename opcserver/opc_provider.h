// Unit opc_provider: the OPC provider window, a hidden window that carries
// the monitor's state over to the OPC server, and the server object of the
// process with korvamon's identity.
#pragma once

#include "opcserver/PsOPCProvider.h"
#include "vcl/Forms.h"

namespace opcserver {

// The server object while it exists.
extern TPsOPCProvider* OPCServer;

// Makes the server object with korvamon's identity (ServerIdentity.h) (not running yet: it
// runs once the event loop handles its first messages). Once, at the start.
void CreateOPCServer();
// Frees it (a shutdown first, when none ran). At the end.
void FreeOPCServer();

class TOPCProvider : public vcl::TForm {
 public:
  explicit TOPCProvider(vcl::TComponent* owner);
  ~TOPCProvider() override;
};

// The provider window while it exists.
extern TOPCProvider* OPCProvider;

}  // namespace opcserver
