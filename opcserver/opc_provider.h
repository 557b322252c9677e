// Unit opc_provider: the OPC provider window, a hidden window that carries
// the monitor's state over to the OPC server.
#pragma once

#include "vcl/Forms.h"

namespace opcserver {

class TOPCProvider : public vcl::TForm {
 public:
  explicit TOPCProvider(vcl::TComponent* owner);
  ~TOPCProvider() override;
};

// The provider window while it exists.
extern TOPCProvider* OPCProvider;

}  // namespace opcserver
