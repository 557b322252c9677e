// Unit UDPInterface: the data module of the UDP interface, created at the
// start after the about box.
#pragma once

#include "vcl/Classes.h"

namespace monitor {

class TdmUDP : public vcl::TComponent {
 public:
  explicit TdmUDP(vcl::TComponent* owner);
  ~TdmUDP() override;
};

// The UDP data module while it exists.
extern TdmUDP* dmUDP;

}  // namespace monitor
