#include "Da10Stream.h"

#include <algorithm>
#include <cstring>
#include <iterator>

#include "ValueText.h"

namespace opcclient {
namespace {

// A value's image: its type, three reserved words and eight bytes of data.
constexpr size_t kValueImageSize = 16;
constexpr size_t kValueDataOffset = 8;

template <class T>
bool ReadAt(const uint8_t* block, size_t size, size_t offset, T* out) {
  if (offset > size || size - offset < sizeof(T))
    return false;
  std::memcpy(out, block + offset, sizeof(T));
  return true;
}

// The types whose value lies whole in the image's eight bytes.
constexpr VARTYPE kPlainScalars[] = {VT_EMPTY, VT_NULL, VT_I1,  VT_UI1,  VT_I2,   VT_UI2,
                                     VT_I4,    VT_UI4,  VT_INT, VT_UINT, VT_I8,   VT_UI8,
                                     VT_R4,    VT_R8,   VT_CY,  VT_DATE, VT_BOOL, VT_ERROR};

bool IsPlainScalar(VARTYPE type) {
  return std::find(std::begin(kPlainScalars), std::end(kPlainScalars), type) !=
         std::end(kPlainScalars);
}

std::optional<std::string> DecodeValue(const uint8_t* block, size_t size, size_t offset,
                                       std::string* error) {
  VARTYPE type = VT_EMPTY;
  if (!ReadAt(block, size, offset, &type) || size - offset < kValueImageSize) {
    *error = "a value lies past the end of the stream";
    return std::nullopt;
  }
  if (type == VT_BSTR) {
    const size_t lengthAt = offset + kValueImageSize;
    DWORD bytes = 0;
    if (!ReadAt(block, size, lengthAt, &bytes) || bytes % sizeof(OLECHAR) != 0 ||
        size - lengthAt - sizeof bytes < size_t{bytes} + sizeof(OLECHAR)) {
      *error = "a text lies past the end of the stream";
      return std::nullopt;
    }
    platform::com::WideString text(bytes / sizeof(OLECHAR), 0);
    std::memcpy(text.data(), block + lengthAt + sizeof bytes, bytes);
    return platform::com::WideToUtf8(text);
  }
  if (!IsPlainScalar(type))
    return TypeText(type);
  VARIANT value;
  VariantInit(&value);
  value.vt = type;
  std::memcpy(&value.llVal, block + offset + kValueDataOffset, sizeof value.llVal);
  return ValueText(value);
}

}  // namespace

std::optional<DataStream> DecodeDataWithTime(const uint8_t* block, size_t size,
                                             std::string* error) {
  DataStream stream;
  if (!ReadAt(block, size, 0, &stream.header)) {
    *error = "the stream is shorter than its header";
    return std::nullopt;
  }
  if (stream.header.dwSize > size || stream.header.dwSize < sizeof stream.header) {
    *error = "the stream's size does not fit its block";
    return std::nullopt;
  }
  size = stream.header.dwSize;
  const size_t headers = (size - sizeof stream.header) / sizeof(OPCITEMHEADER1);
  if (stream.header.dwItemCount > headers) {
    *error = "the stream holds fewer item headers than it counts";
    return std::nullopt;
  }
  for (DWORD i = 0; i < stream.header.dwItemCount; ++i) {
    OPCITEMHEADER1 item{};
    ReadAt(block, size, sizeof stream.header + i * sizeof item, &item);
    std::optional<std::string> value = DecodeValue(block, size, item.dwValueOffset, error);
    if (!value)
      return std::nullopt;
    stream.items.push_back({item.hClient, item.wQuality, item.ftTimeStampItem, std::move(*value)});
  }
  return stream;
}

}  // namespace opcclient
