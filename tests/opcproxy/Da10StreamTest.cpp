// opcclient's reading of the DA 1.0 stream with time stamps: values of each
// kind come out as text, and a stream that claims more than its block holds
// is refused rather than read past its end.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "Da10Stream.h"

namespace {

using opcclient::DecodeDataWithTime;

class StreamBuilder {
 public:
  // A value image of the given type and data, then what follows it.
  void Value(VARTYPE type, uint64_t data) {
    Put(type);
    Put(uint16_t{0});
    Put(uint32_t{0});
    Put(data);
  }
  void Text(const char16_t* text) {
    Value(VT_BSTR, 0);
    const uint32_t bytes = static_cast<uint32_t>(std::char_traits<char16_t>::length(text) * 2);
    Put(bytes);
    Append(text, bytes + 2);
  }
  size_t Size() const { return bytes_.size(); }
  template <class T>
  void Put(const T& value) {
    Append(&value, sizeof value);
  }
  template <class T>
  void PutAt(size_t offset, const T& value) {
    std::memcpy(bytes_.data() + offset, &value, sizeof value);
  }
  std::vector<uint8_t>& Bytes() { return bytes_; }

 private:
  void Append(const void* data, size_t size) {
    const size_t at = bytes_.size();
    bytes_.resize(at + size);
    std::memcpy(bytes_.data() + at, data, size);
  }

  std::vector<uint8_t> bytes_;
};

// Three items: a number, a Boolean and a text, their headers first.
StreamBuilder ThreeItems() {
  StreamBuilder stream;
  stream.Put(OPCGROUPHEADER{0, 3, 7, 0, S_OK});
  const size_t headers = stream.Size();
  for (DWORD i = 0; i < 3; ++i)
    stream.Put(OPCITEMHEADER1{10 + i, 0, static_cast<WORD>(0xC0 + i), 0, {100 + i, 200 + i}});
  const size_t values[] = {stream.Size(), stream.Size() + 16, stream.Size() + 32};
  stream.Value(VT_I4, 34850);
  stream.Value(VT_BOOL, 0xFFFF);
  stream.Text(u"BA>85");
  for (DWORD i = 0; i < 3; ++i)
    stream.PutAt(headers + i * sizeof(OPCITEMHEADER1) + offsetof(OPCITEMHEADER1, dwValueOffset),
                 static_cast<DWORD>(values[i]));
  stream.PutAt(0, static_cast<DWORD>(stream.Size()));
  return stream;
}

TEST(Da10Stream, ValuesOfEachKindComeOutAsText) {
  StreamBuilder stream = ThreeItems();
  std::string error;
  const auto decoded = DecodeDataWithTime(stream.Bytes().data(), stream.Size(), &error);
  ASSERT_TRUE(decoded) << error;
  EXPECT_EQ(decoded->header.hClientGroup, 7u);
  ASSERT_EQ(decoded->items.size(), 3u);
  const char* texts[] = {"34850", "True", "BA>85"};
  for (DWORD i = 0; i < 3; ++i) {
    EXPECT_EQ(decoded->items[i].hClient, 10 + i);
    EXPECT_EQ(decoded->items[i].quality, 0xC0 + i);
    EXPECT_EQ(decoded->items[i].timeStamp.dwLowDateTime, 100 + i);
    EXPECT_EQ(decoded->items[i].timeStamp.dwHighDateTime, 200 + i);
    EXPECT_EQ(decoded->items[i].value, texts[i]);
  }
}

TEST(Da10Stream, ClaimsBeyondTheBlockAreRefused) {
  const size_t size = ThreeItems().Size();
  const size_t firstValueOffset = sizeof(OPCGROUPHEADER) + offsetof(OPCITEMHEADER1, dwValueOffset);
  const size_t textLength = sizeof(OPCGROUPHEADER) + 3 * sizeof(OPCITEMHEADER1) + 2 * 16 + 16;
  struct Garbling {
    const char* what;
    size_t at;
    DWORD value;
  };
  const Garbling garblings[] = {
      {"size beyond the block", offsetof(OPCGROUPHEADER, dwSize), static_cast<DWORD>(size + 1)},
      {"size below the header", offsetof(OPCGROUPHEADER, dwSize), 12},
      {"more items than headers", offsetof(OPCGROUPHEADER, dwItemCount), 40},
      {"value image cut by the end", firstValueOffset, static_cast<DWORD>(size - 8)},
      {"value far beyond the end", firstValueOffset, 0xFFFFFFF0},
      {"text longer than the block", textLength, 0xFFFFFFFE},
      {"text of an odd byte count", textLength, 9},
  };
  for (const Garbling& garbling : garblings) {
    StreamBuilder stream = ThreeItems();
    stream.PutAt(garbling.at, garbling.value);
    std::string error;
    EXPECT_FALSE(DecodeDataWithTime(stream.Bytes().data(), stream.Size(), &error)) << garbling.what;
    EXPECT_FALSE(error.empty()) << garbling.what;
  }
  std::string error;
  EXPECT_FALSE(DecodeDataWithTime(ThreeItems().Bytes().data(), 12, &error)) << "header cut";
}

TEST(Da10Stream, ArraysAndReferencesAreNamedNotRead) {
  StreamBuilder stream;
  stream.Put(OPCGROUPHEADER{0, 1, 0, 0, S_OK});
  stream.Put(OPCITEMHEADER1{0, sizeof(OPCGROUPHEADER) + sizeof(OPCITEMHEADER1), 0xC0, 0, {}});
  stream.Value(VT_ARRAY | VT_I4, 0xDEADBEEF);
  stream.PutAt(0, static_cast<DWORD>(stream.Size()));
  std::string error;
  const auto decoded = DecodeDataWithTime(stream.Bytes().data(), stream.Size(), &error);
  ASSERT_TRUE(decoded) << error;
  EXPECT_EQ(decoded->items.at(0).value, "(type 0x2003)");
}

}  // namespace
