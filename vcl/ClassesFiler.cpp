#include "vcl/ClassesFiler.h"

#include <algorithm>
#include <cstring>
#include <istream>
#include <ostream>

namespace vcl {
namespace {

// Texts are read in pieces of this size, so a length that the stream does
// not hold costs no more memory than the stream itself.
constexpr size_t kReadPiece = 64 * 1024;

void StoreLittleEndian(uint64_t value, unsigned char* bytes, int count) {
  for (int i = 0; i < count; ++i)
    bytes[i] = static_cast<unsigned char>(value >> (8 * i));
}

uint64_t LoadLittleEndian(const unsigned char* bytes, int count) {
  uint64_t value = 0;
  for (int i = count - 1; i >= 0; --i)
    value = (value << 8) | bytes[i];
  return value;
}

}  // namespace

// ---------------------------------------------------------------- TWriter

void TWriter::DefineProperty(const std::string& name, const TReaderProc& /*read*/,
                             const TWriterProc& write, bool hasData) {
  if (!hasData || !write)
    return;
  WritePropName(name);
  write(*this);
}

void TWriter::WriteDefinedProperties(TPersistent& instance) {
  instance.DefineProperties(this);
}

void TWriter::WriteBytes(const void* bytes, size_t count) {
  stream_.write(static_cast<const char*>(bytes), static_cast<std::streamsize>(count));
  if (!stream_)
    throw EWriteError("Stream write error");
}

void TWriter::WriteValue(TValueType value) {
  const auto byte = static_cast<unsigned char>(value);
  WriteBytes(&byte, 1);
}

void TWriter::WriteText(const std::string& text) {
  if (text.size() > UINT32_MAX)
    throw EWriteError("Stream write error");
  unsigned char length[4];
  StoreLittleEndian(text.size(), length, 4);
  WriteBytes(length, 4);
  WriteBytes(text.data(), text.size());
}

void TWriter::WriteInteger(int64_t value) {
  WriteValue(TValueType::vaInteger);
  unsigned char bytes[8];
  StoreLittleEndian(static_cast<uint64_t>(value), bytes, 8);
  WriteBytes(bytes, 8);
}

void TWriter::WriteFloat(double value) {
  WriteValue(TValueType::vaFloat);
  uint64_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  unsigned char bytes[8];
  StoreLittleEndian(bits, bytes, 8);
  WriteBytes(bytes, 8);
}

void TWriter::WriteString(const std::string& value) {
  WriteValue(TValueType::vaString);
  WriteText(value);
}

void TWriter::WriteIdent(const std::string& value) {
  WriteValue(TValueType::vaIdent);
  WriteText(value);
}

void TWriter::WriteBoolean(bool value) {
  WriteValue(value ? TValueType::vaTrue : TValueType::vaFalse);
}

void TWriter::WriteSet(const std::vector<std::string>& names) {
  WriteValue(TValueType::vaSet);
  for (const std::string& name : names) {
    if (!name.empty())
      WriteText(name);
  }
  WriteText("");
}

// ---------------------------------------------------------------- TReader

void TReader::DefineProperty(const std::string& name, const TReaderProc& read,
                             const TWriterProc& /*write*/, bool /*hasData*/) {
  if (!definedName_ || definedRead_ || !read || !SameText(name, *definedName_))
    return;
  definedRead_ = true;
  read(*this);
}

bool TReader::ReadDefinedProperty(TPersistent& instance, const std::string& name) {
  const std::string* outer = definedName_;
  const bool outerRead = definedRead_;
  definedName_ = &name;
  definedRead_ = false;
  bool read = false;
  try {
    instance.DefineProperties(this);
    read = definedRead_;
  } catch (...) {
    definedName_ = outer;
    definedRead_ = outerRead;
    throw;
  }
  definedName_ = outer;
  definedRead_ = outerRead;
  return read;
}

void TReader::ReadDefinedProperties(TPersistent& instance) {
  while (!EndOfList()) {
    const std::string name = ReadPropName();
    if (!ReadDefinedProperty(instance, name))
      throw EReadError(Format("Property %s does not exist", name));
  }
  ReadListEnd();
}

void TReader::ReadBytes(void* bytes, size_t count) {
  stream_.read(static_cast<char*>(bytes), static_cast<std::streamsize>(count));
  if (static_cast<size_t>(stream_.gcount()) != count)
    throw EReadError("Stream read error");
}

void TReader::InvalidValue() {
  throw EReadError("Invalid property value");
}

TValueType TReader::NextValue() {
  const int byte = stream_.peek();
  if (byte == std::char_traits<char>::eof())
    throw EReadError("Stream read error");
  return static_cast<TValueType>(byte);
}

TValueType TReader::ReadValue() {
  unsigned char byte;
  ReadBytes(&byte, 1);
  return static_cast<TValueType>(byte);
}

void TReader::Expect(TValueType value) {
  if (ReadValue() != value)
    InvalidValue();
}

std::string TReader::ReadText() {
  unsigned char lengthBytes[4];
  ReadBytes(lengthBytes, 4);
  size_t left = LoadLittleEndian(lengthBytes, 4);
  std::string text;
  while (left > 0) {
    const size_t piece = std::min(left, kReadPiece);
    const size_t at = text.size();
    text.resize(at + piece);
    ReadBytes(text.data() + at, piece);
    left -= piece;
  }
  return text;
}

int64_t TReader::ReadInteger() {
  Expect(TValueType::vaInteger);
  unsigned char bytes[8];
  ReadBytes(bytes, 8);
  return static_cast<int64_t>(LoadLittleEndian(bytes, 8));
}

double TReader::ReadFloat() {
  if (NextValue() == TValueType::vaInteger)
    return static_cast<double>(ReadInteger());
  Expect(TValueType::vaFloat);
  unsigned char bytes[8];
  ReadBytes(bytes, 8);
  const uint64_t bits = LoadLittleEndian(bytes, 8);
  double value;
  std::memcpy(&value, &bits, sizeof value);
  return value;
}

std::string TReader::ReadString() {
  Expect(TValueType::vaString);
  return ReadText();
}

std::string TReader::ReadIdent() {
  Expect(TValueType::vaIdent);
  return ReadText();
}

bool TReader::ReadBoolean() {
  const TValueType value = ReadValue();
  if (value != TValueType::vaTrue && value != TValueType::vaFalse)
    InvalidValue();
  return value == TValueType::vaTrue;
}

std::vector<std::string> TReader::ReadSet() {
  Expect(TValueType::vaSet);
  std::vector<std::string> names;
  for (std::string name = ReadText(); !name.empty(); name = ReadText())
    names.push_back(std::move(name));
  return names;
}

}  // namespace vcl
