// Unit UDPInterface: the data module of the UDP interface, created at the
// start after the about box.
#pragma once

#include <string>

#include "vcl/Classes.h"

namespace monitor {

class TdmUDP : public vcl::TComponent {
 public:
  explicit TdmUDP(vcl::TComponent* owner);
  ~TdmUDP() override;

  // Sends a history line to every trace listener. There are none until the
  // UDP server exists, so for now it sends nothing.
  void SendToTracePeers(const std::string& /*line*/) {}
};

// The UDP data module while it exists.
extern TdmUDP* dmUDP;

}  // namespace monitor
