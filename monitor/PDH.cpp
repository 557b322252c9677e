#include "monitor/PDH.h"

#include "platform/Power.h"

namespace monitor {

bool LoadPdh() {
  return platform::power().BindProcessorLoad();
}

double GetCpuLoad() {
  return platform::power().ProcessorLoad();
}

}  // namespace monitor
