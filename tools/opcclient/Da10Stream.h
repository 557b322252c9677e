// The DA 1.0 data stream with time stamps, as a server hands it to its
// advise sink in an HGLOBAL: the group header, one item header per item and
// the values (16-byte VARIANT images; a text follows its image with its byte
// length, its characters and a zero). Everything is checked against the
// block's size: a garbled stream is refused, never read past its end.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "opcserver/OPCDA.h"

namespace opcclient {

struct StreamItem {
  OPCHANDLE hClient = 0;
  WORD quality = 0;
  FILETIME timeStamp{};
  std::string value;  // as ValueText gives it
};

struct DataStream {
  OPCGROUPHEADER header{};
  std::vector<StreamItem> items;
};

// The stream's content; nothing when it is garbled, with the reason in *error.
std::optional<DataStream> DecodeDataWithTime(const uint8_t* block, size_t size, std::string* error);

}  // namespace opcclient
