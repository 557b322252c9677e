#include "monitor/UDPInterface.h"

namespace monitor {

TdmUDP* dmUDP = nullptr;

TdmUDP::TdmUDP(vcl::TComponent* owner) : vcl::TComponent(owner, "TdmUDP") {
  SetName("dmUDP");
}

TdmUDP::~TdmUDP() {
  if (dmUDP == this)
    dmUDP = nullptr;
}

}  // namespace monitor
