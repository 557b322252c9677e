#include "opcserver/opc_provider.h"

namespace opcserver {

TOPCProvider* OPCProvider = nullptr;

TOPCProvider::TOPCProvider(vcl::TComponent* owner) : vcl::TForm(owner, "TOPCProvider") {
  SetName("OPCProvider");
}

TOPCProvider::~TOPCProvider() {
  if (OPCProvider == this)
    OPCProvider = nullptr;
}

}  // namespace opcserver
