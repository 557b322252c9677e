// The request a later instance sends the running one over its local socket:
// a record of fixed size holding a magic, the message (4 bytes), wParam and
// lParam (8 bytes each, little-endian), the form class's length (1 byte) and
// its printable ASCII bytes, zero-padded. Any other record is no request.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace platform::posix {

inline constexpr size_t kInstanceRequestSize = 96;
using InstanceRequestWire = std::array<unsigned char, kInstanceRequestSize>;

struct InstanceRequest {
  std::string formClass;
  uint32_t msg;
  uint64_t wParam;
  uint64_t lParam;
};

// Nothing when the form class is empty, too long or not printable ASCII.
std::optional<InstanceRequestWire> EncodeInstanceRequest(const InstanceRequest& request);
// Nothing for a record that EncodeInstanceRequest would not have written.
std::optional<InstanceRequest> DecodeInstanceRequest(const InstanceRequestWire& wire);

}  // namespace platform::posix
