#include "platform/posix/InstanceRequest.h"

#include <cstring>

namespace platform::posix {
namespace {

constexpr std::array<unsigned char, 4> kMagic = {'K', 'V', 'R', 'Q'};
constexpr size_t kClassLengthAt = 24;
constexpr size_t kClassAt = 25;
constexpr size_t kMaxClassLength = kInstanceRequestSize - kClassAt;

void PutLittleEndian(InstanceRequestWire& wire, size_t at, uint64_t value, size_t bytes) {
  for (size_t i = 0; i < bytes; ++i)
    wire[at + i] = static_cast<unsigned char>(value >> (8 * i));
}

uint64_t GetLittleEndian(const InstanceRequestWire& wire, size_t at, size_t bytes) {
  uint64_t value = 0;
  for (size_t i = 0; i < bytes; ++i)
    value |= uint64_t{wire[at + i]} << (8 * i);
  return value;
}

bool IsClassByte(unsigned char c) {
  return c >= 0x20 && c < 0x7F;
}

}  // namespace

std::optional<InstanceRequestWire> EncodeInstanceRequest(const InstanceRequest& request) {
  const std::string& name = request.formClass;
  if (name.empty() || name.size() > kMaxClassLength)
    return std::nullopt;
  for (unsigned char c : name) {
    if (!IsClassByte(c))
      return std::nullopt;
  }
  InstanceRequestWire wire{};
  std::memcpy(wire.data(), kMagic.data(), kMagic.size());
  PutLittleEndian(wire, 4, request.msg, 4);
  PutLittleEndian(wire, 8, request.wParam, 8);
  PutLittleEndian(wire, 16, request.lParam, 8);
  wire[kClassLengthAt] = static_cast<unsigned char>(name.size());
  std::memcpy(wire.data() + kClassAt, name.data(), name.size());
  return wire;
}

std::optional<InstanceRequest> DecodeInstanceRequest(const InstanceRequestWire& wire) {
  if (std::memcmp(wire.data(), kMagic.data(), kMagic.size()) != 0)
    return std::nullopt;
  const size_t length = wire[kClassLengthAt];
  if (length == 0 || length > kMaxClassLength)
    return std::nullopt;
  for (size_t i = kClassAt; i < kInstanceRequestSize; ++i) {
    const bool inName = i < kClassAt + length;
    if (inName ? !IsClassByte(wire[i]) : wire[i] != 0)
      return std::nullopt;
  }
  return InstanceRequest{std::string(reinterpret_cast<const char*>(wire.data() + kClassAt), length),
                         static_cast<uint32_t>(GetLittleEndian(wire, 4, 4)),
                         GetLittleEndian(wire, 8, 8), GetLittleEndian(wire, 16, 8)};
}

}  // namespace platform::posix
