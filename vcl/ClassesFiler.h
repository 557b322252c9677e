// The component stream: typed values in a byte stream, written by TWriter
// and read back by TReader. A persistent object takes part through
// DefineProperties: each property it declares is written as its name
// followed by its value, and read back by the same declaration. Nothing but
// this program reads the format, so it is our own:
//
//   value      = marker byte, then for
//                  vaInteger  8 bytes, two's complement, least significant first
//                  vaFloat    the 8 bytes of an IEEE double, least significant first
//                  vaString,
//                  vaIdent    a text
//                  vaSet      texts (the element names) up to an empty one
//                  vaList,
//                  vaCollection  values (for a list: property names and values)
//                             up to vaNull
//                  vaFalse, vaTrue, vaNil, vaNull  nothing
//   text       = 4-byte length, least significant first, then the bytes
//   property   = its name as a text, then its value
//
// A stream that ends early, a marker out of place or an unknown property
// raises EReadError; nothing is read beyond the stream's end.
#pragma once

#include <cstdint>
#include <functional>
#include <iosfwd>
#include <string>
#include <vector>

#include "vcl/Classes.h"
#include "vcl/SysUtils.h"

namespace vcl {

VCL_DECLARE_EXCEPTION(EFilerError, EStreamError);
VCL_DECLARE_EXCEPTION(EReadError, EFilerError);
VCL_DECLARE_EXCEPTION(EWriteError, EFilerError);

enum class TValueType : uint8_t {
  vaNull = 0,  // the end of a list or collection
  vaList = 1,
  vaInteger = 2,
  vaFloat = 3,
  vaString = 4,
  vaIdent = 5,
  vaFalse = 6,
  vaTrue = 7,
  vaSet = 8,
  vaCollection = 9,
  vaNil = 10,  // no object
};

class TReader;
class TWriter;

class TFiler {
 public:
  using TReaderProc = std::function<void(TReader& reader)>;
  using TWriterProc = std::function<void(TWriter& writer)>;

  virtual ~TFiler() = default;
  // A property beyond the published ones: a writer calls `write` after the
  // name when `hasData`; a reader calls `read` when the property it stands
  // on has this name (compared without regard to case).
  virtual void DefineProperty(const std::string& name, const TReaderProc& read,
                              const TWriterProc& write, bool hasData) = 0;
};

class TWriter : public TFiler {
 public:
  explicit TWriter(std::ostream& stream) : stream_(stream) {}

  void DefineProperty(const std::string& name, const TReaderProc& read, const TWriterProc& write,
                      bool hasData) override;
  // The properties that `instance` defines, each as name and value.
  void WriteDefinedProperties(TPersistent& instance);

  void WriteValue(TValueType value);
  void WriteListBegin() { WriteValue(TValueType::vaList); }
  void WriteListEnd() { WriteValue(TValueType::vaNull); }
  void WritePropName(const std::string& name) { WriteText(name); }
  void WriteInteger(int64_t value);
  void WriteFloat(double value);
  void WriteString(const std::string& value);
  void WriteIdent(const std::string& value);
  void WriteBoolean(bool value);
  void WriteSet(const std::vector<std::string>& names);

 private:
  void WriteText(const std::string& text);
  void WriteBytes(const void* bytes, size_t count);

  std::ostream& stream_;
};

class TReader : public TFiler {
 public:
  explicit TReader(std::istream& stream) : stream_(stream) {}

  void DefineProperty(const std::string& name, const TReaderProc& read, const TWriterProc& write,
                      bool hasData) override;
  // Reads the value of property `name` (its name already read) through the
  // properties `instance` defines; False when none of them has that name.
  bool ReadDefinedProperty(TPersistent& instance, const std::string& name);
  // Properties up to the end of the list, all of them defined by `instance`
  // (EReadError "Property %s does not exist" otherwise), then the end marker.
  void ReadDefinedProperties(TPersistent& instance);

  // The next marker, without reading it.
  TValueType NextValue();
  TValueType ReadValue();
  bool EndOfList() { return NextValue() == TValueType::vaNull; }
  void ReadListBegin() { Expect(TValueType::vaList); }
  void ReadListEnd() { Expect(TValueType::vaNull); }
  std::string ReadPropName() { return ReadText(); }
  int64_t ReadInteger();
  // A float, or an integer as a float.
  double ReadFloat();
  std::string ReadString();
  std::string ReadIdent();
  bool ReadBoolean();
  std::vector<std::string> ReadSet();

 private:
  void Expect(TValueType value);
  std::string ReadText();
  void ReadBytes(void* bytes, size_t count);
  [[noreturn]] static void InvalidValue();

  std::istream& stream_;
  const std::string* definedName_ = nullptr;
  bool definedRead_ = false;
};

}  // namespace vcl
