// libFuzzer target: whatever a peer sends the running instance is a request
// only when it is exactly what a later instance would have sent for it.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "platform/posix/InstanceRequest.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  platform::posix::InstanceRequestWire wire{};
  std::memcpy(wire.data(), data, size < wire.size() ? size : wire.size());
  const auto request = platform::posix::DecodeInstanceRequest(wire);
  if (!request)
    return 0;
  const auto again = platform::posix::EncodeInstanceRequest(*request);
  if (!again || *again != wire)
    std::abort();
  return 0;
}
