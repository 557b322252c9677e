#include "opcserver/opc_provider.h"

#include <memory>

#include "opcserver/ServerIdentity.h"

namespace opcserver {

TPsOPCProvider* OPCServer = nullptr;
TOPCProvider* OPCProvider = nullptr;

void CreateOPCServer() {
  if (OPCServer)
    return;
  auto server = std::make_unique<TPsOPCProvider>();
  server->SetActive(true);
  server->SetCLSID(kServerClassId);
  server->SetServerName(kServerName);
  server->Description = kServerDescription;
  server->Vendor = kServerVendor;
  server->VendorInfo = kServerVendorInfo;
  // The provider window builds its tree without them.
  server->AddressSpace().SetPropertyLeaves(true);
  server->Initialize();
  OPCServer = server.release();
}

void FreeOPCServer() {
  delete OPCServer;
  OPCServer = nullptr;
}

TOPCProvider::TOPCProvider(vcl::TComponent* owner) : vcl::TForm(owner, "TOPCProvider") {
  SetName("OPCProvider");
}

TOPCProvider::~TOPCProvider() {
  if (OPCProvider == this)
    OPCProvider = nullptr;
}

}  // namespace opcserver
