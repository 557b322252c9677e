// Unit Debugs: the trace hooks. Nearly every method of the toolkit and the
// OPC server reports its entry and exit here, and many report values. With
// no writer installed (the program installs none) every hook does nothing;
// an installed DebugWriter receives them from every thread at once, so it
// must be safe for concurrent calls. A writer's exception is swallowed: a
// trace never changes what an operation does.
//
// Names are the caller's qualified name ("TPsVar.SetPropValueAt") or the
// name of a traced value, and must outlive the call (literals do).
#pragma once

#include <cstddef>
#include <cstdint>
#include <exception>
#include <memory>
#include <string>
#include <string_view>

#include "vcl/Classes.h"
#include "vcl/Messages.h"
#include "vcl/SysUtils.h"

namespace toolkit {

class PsVariant;

class DebugWriter {
 public:
  virtual ~DebugWriter() = default;
  virtual void Enter(std::string_view /*name*/, const void* /*object*/) {}
  virtual void EnterClass(std::string_view /*name*/, std::string_view /*className*/) {}
  virtual void EnterProc(std::string_view /*name*/) {}
  virtual void Leave(std::string_view /*name*/) {}
  virtual void Indent() {}
  virtual void Unindent() {}
  // One formatted line (DebugWrite, and the hooks that format through it).
  virtual void Write(std::string_view /*line*/) {}
  virtual void Text(std::string_view /*text*/) {}
  virtual void Object(std::string_view /*name*/, const void* /*object*/) {}
  virtual void Exception(const std::exception& /*error*/) {}
  // Every other value hook: the value's name and its text.
  virtual void Value(std::string_view /*name*/, std::string_view /*text*/) {}
};

// Installs `writer` (none: the hooks do nothing) and frees the one before.
// Install while no other thread traces: at start, at the end, in tests.
void SetDebugWriter(std::unique_ptr<DebugWriter> writer);
// The installed writer, or null.
DebugWriter* ActiveDebugWriter();
// Frees the installed writer; the toolkit's end calls it.
void DebugFreeObject();

void DebugEnter(std::string_view name, const void* object);
void DebugEnterClass(std::string_view name, std::string_view className);
void DebugEnterProc(std::string_view name);
void DebugLeave(std::string_view name);
void DebugIndent();
void DebugUnindent();
void DebugText(std::string_view text);
void DebugObject(std::string_view name, const void* object);
void DebugException(const std::exception& error);
// Extra text that error messages append: none.
std::string DebugInfoText();

// One trace line built with vcl::Format (nothing is formatted without a writer).
void DebugWriteLine(std::string_view line);
template <class... Args>
void DebugWrite(std::string_view format, const Args&... args) {
  if (!ActiveDebugWriter())
    return;
  std::string line;
  try {
    line = vcl::Format(format, args...);
  } catch (const vcl::EConvertError&) {
    line = std::string(format);
  }
  DebugWriteLine(line);
}

void DebugValueStr(std::string_view name, std::string_view value);
void DebugValueStr2(std::string_view name, std::string_view value);
void DebugValueStr3(std::string_view name, std::string_view value);
void DebugValueWideStr(std::string_view name, std::u16string_view value, bool quoted);
void DebugValuePWideChar(std::string_view name, const char16_t* value);
void DebugValueBool(std::string_view name, bool value);
// "%s=%d" through DebugWrite.
void DebugValueInt(std::string_view name, int32_t value);
void DebugValueInt64(std::string_view name, int64_t value);
void DebugValueLongWord(std::string_view name, uint32_t value);
// "%s=$%x" through DebugWrite.
void DebugValueHex(std::string_view name, int64_t value);
void DebugValueFloat(std::string_view name, long double value);
void DebugValueDouble(std::string_view name, double value);
void DebugValueDateTime(std::string_view name, vcl::TDateTime value);
void DebugValueVariant(std::string_view name, const PsVariant& value, bool withType);
void DebugValueEnum(std::string_view name, std::string_view typeName, int ordinal);
void DebugValueSet(std::string_view name, std::string_view typeName, uint32_t set);
// With `dump`, the first bytes in hexadecimal; otherwise address and size.
void DebugValueBuffer(std::string_view name, const void* address, size_t size, bool dump);
void DebugValuePtr(std::string_view name, const void* value);
void DebugValueClass(std::string_view name, std::string_view className);
// With `details`, a string list's lines; otherwise its class and address.
void DebugValueObject(std::string_view name, const vcl::TObject* value, bool details);
void DebugValueStrings(std::string_view name, const vcl::TStringList* value, bool details);
void DebugValueMessage(std::string_view name, const vcl::TMessage& message);
void DebugValueHResult(std::string_view name, int32_t result);

// Holds a reference on the interface while its pointer is traced.
template <class Interface>
void DebugValueIntf(std::string_view name, Interface* value) {
  if (!ActiveDebugWriter())
    return;
  if (value)
    value->AddRef();
  DebugValuePtr(name, value);
  if (value)
    value->Release();
}

// A reference-counted object (one with RefCount()): its identity and its
// count as "RefCount", one level indented.
template <class Counted>
void DebugInterfacedObject(std::string_view name, const Counted* object) {
  if (!ActiveDebugWriter())
    return;
  DebugIndent();
  DebugObject(name, object);
  DebugValueInt64("RefCount", object ? static_cast<int64_t>(object->RefCount()) : 0);
  DebugUnindent();
}

// Enters at construction; leaves at destruction unless an exception is
// leaving the scope (a path that raises reports no leave).
class DebugScope {
 public:
  explicit DebugScope(std::string_view name);
  DebugScope(std::string_view name, const void* object);
  ~DebugScope();
  DebugScope(const DebugScope&) = delete;
  DebugScope& operator=(const DebugScope&) = delete;

 private:
  std::string_view name_;
  int exceptions_;
};

}  // namespace toolkit
