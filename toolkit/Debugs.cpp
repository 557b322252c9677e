#include "toolkit/Debugs.h"

#include <atomic>

#include "toolkit/PsUtils.h"
#include "toolkit/PsVariant.h"

namespace toolkit {
namespace {

std::atomic<DebugWriter*> activeWriter{nullptr};
std::unique_ptr<DebugWriter>& OwnedWriter() {
  static std::unique_ptr<DebugWriter> owned;
  return owned;
}

// Calls the writer, when there is one, and swallows what it raises.
template <class Call>
void Forward(Call&& call) {
  DebugWriter* writer = activeWriter.load(std::memory_order_acquire);
  if (!writer)
    return;
  try {
    call(*writer);
  } catch (...) {
  }
}

// Renders the value only when a writer will receive it.
template <class Render>
void ForwardValue(std::string_view name, Render&& render) {
  Forward([&](DebugWriter& writer) { writer.Value(name, render()); });
}

std::string Address(const void* value) {
  std::string text = "$";
  text += vcl::IntToHex(static_cast<int64_t>(reinterpret_cast<uintptr_t>(value)),
                        static_cast<int>(2 * sizeof(void*)));
  return text;
}

void AppendUtf8(std::string& out, uint32_t code) {
  if (code < 0x80) {
    out += static_cast<char>(code);
  } else if (code < 0x800) {
    out += static_cast<char>(0xC0 | code >> 6);
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else if (code < 0x10000) {
    out += static_cast<char>(0xE0 | code >> 12);
    out += static_cast<char>(0x80 | (code >> 6 & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | code >> 18);
    out += static_cast<char>(0x80 | (code >> 12 & 0x3F));
    out += static_cast<char>(0x80 | (code >> 6 & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  }
}

// UTF-16 as UTF-8; a lone surrogate becomes U+FFFD.
std::string Utf8(std::u16string_view text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    uint32_t code = text[i];
    if (code >= 0xD800 && code <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] <= 0xDFFF) {
      code = 0x10000 + ((code - 0xD800) << 10) + (text[++i] - 0xDC00);
    } else if (code >= 0xD800 && code <= 0xDFFF) {
      code = 0xFFFD;
    }
    AppendUtf8(out, code);
  }
  return out;
}

}  // namespace

void SetDebugWriter(std::unique_ptr<DebugWriter> writer) {
  activeWriter.store(writer.get(), std::memory_order_release);
  OwnedWriter() = std::move(writer);
}

DebugWriter* ActiveDebugWriter() {
  return activeWriter.load(std::memory_order_acquire);
}

void DebugFreeObject() {
  SetDebugWriter(nullptr);
}

void DebugEnter(std::string_view name, const void* object) {
  Forward([&](DebugWriter& writer) { writer.Enter(name, object); });
}

void DebugEnterClass(std::string_view name, std::string_view className) {
  Forward([&](DebugWriter& writer) { writer.EnterClass(name, className); });
}

void DebugEnterProc(std::string_view name) {
  Forward([&](DebugWriter& writer) { writer.EnterProc(name); });
}

void DebugLeave(std::string_view name) {
  Forward([&](DebugWriter& writer) { writer.Leave(name); });
}

void DebugIndent() {
  Forward([](DebugWriter& writer) { writer.Indent(); });
}

void DebugUnindent() {
  Forward([](DebugWriter& writer) { writer.Unindent(); });
}

void DebugWriteLine(std::string_view line) {
  Forward([&](DebugWriter& writer) { writer.Write(line); });
}

void DebugText(std::string_view text) {
  Forward([&](DebugWriter& writer) { writer.Text(text); });
}

void DebugObject(std::string_view name, const void* object) {
  Forward([&](DebugWriter& writer) { writer.Object(name, object); });
}

void DebugException(const std::exception& error) {
  Forward([&](DebugWriter& writer) { writer.Exception(error); });
}

std::string DebugInfoText() {
  return {};
}

void DebugValueStr(std::string_view name, std::string_view value) {
  ForwardValue(name, [&] { return std::string(value); });
}

void DebugValueStr2(std::string_view name, std::string_view value) {
  DebugValueStr(name, value);
}

void DebugValueStr3(std::string_view name, std::string_view value) {
  DebugValueStr(name, value);
}

void DebugValueWideStr(std::string_view name, std::u16string_view value, bool quoted) {
  ForwardValue(name, [&] {
    std::string text = Utf8(value);
    return quoted ? std::string("'").append(text).append("'") : text;
  });
}

void DebugValuePWideChar(std::string_view name, const char16_t* value) {
  if (!value) {
    ForwardValue(name, [] { return std::string("nil"); });
    return;
  }
  DebugValueWideStr(name, value, false);
}

void DebugValueBool(std::string_view name, bool value) {
  ForwardValue(name, [&] { return BoolToText(value); });
}

void DebugValueInt(std::string_view name, int32_t value) {
  DebugWrite("%s=%d", name, value);
}

void DebugValueInt64(std::string_view name, int64_t value) {
  DebugWrite("%s=%d", name, value);
}

void DebugValueLongWord(std::string_view name, uint32_t value) {
  DebugWrite("%s=%d", name, value);
}

void DebugValueHex(std::string_view name, int64_t value) {
  DebugWrite("%s=$%x", name, value);
}

void DebugValueFloat(std::string_view name, long double value) {
  DebugValueDouble(name, static_cast<double>(value));
}

void DebugValueDouble(std::string_view name, double value) {
  ForwardValue(name, [&] { return vcl::FloatToStr(value); });
}

void DebugValueDateTime(std::string_view name, vcl::TDateTime value) {
  ForwardValue(name, [&] {
    try {
      return vcl::FormatDateTime("yyyy-mm-dd hh:nn:ss.zzz", value);
    } catch (const vcl::EConvertError&) {
      return vcl::FloatToStr(value);
    }
  });
}

void DebugValueVariant(std::string_view name, const PsVariant& value, bool withType) {
  ForwardValue(name, [&] { return VariantToText(value, withType); });
}

void DebugValueEnum(std::string_view name, std::string_view typeName, int ordinal) {
  ForwardValue(name, [&] { return vcl::Format("%s(%d)", typeName, ordinal); });
}

void DebugValueSet(std::string_view name, std::string_view typeName, uint32_t set) {
  ForwardValue(name, [&] { return vcl::Format("%s[$%x]", typeName, set); });
}

void DebugValueBuffer(std::string_view name, const void* address, size_t size, bool dump) {
  ForwardValue(name, [&] {
    std::string text = vcl::Format("%s, %u bytes", Address(address), size);
    if (dump && address) {
      const auto* bytes = static_cast<const unsigned char*>(address);
      text += ':';
      for (size_t i = 0; i < size && i < 256; ++i)
        text.append(" ").append(vcl::IntToHex(bytes[i], 2));
    }
    return text;
  });
}

void DebugValuePtr(std::string_view name, const void* value) {
  ForwardValue(name, [&] { return value ? Address(value) : std::string("nil"); });
}

void DebugValueClass(std::string_view name, std::string_view className) {
  ForwardValue(name, [&] { return std::string(className); });
}

void DebugValueObject(std::string_view name, const vcl::TObject* value, bool details) {
  if (const auto* strings = dynamic_cast<const vcl::TStringList*>(value); strings && details) {
    DebugValueStrings(name, strings, true);
    return;
  }
  ForwardValue(name, [&] {
    if (!value)
      return std::string("nil");
    const auto* persistent = dynamic_cast<const vcl::TPersistent*>(value);
    return (persistent ? persistent->ClassName() : std::string("TObject")) + "@" + Address(value);
  });
}

void DebugValueStrings(std::string_view name, const vcl::TStringList* value, bool details) {
  ForwardValue(name, [&] {
    if (!value)
      return std::string("nil");
    return details ? value->Text() : vcl::Format("%d lines", value->Count());
  });
}

void DebugValueMessage(std::string_view name, const vcl::TMessage& message) {
  ForwardValue(name, [&] {
    return vcl::Format("Msg=$%x WParam=$%x LParam=$%x", message.Msg, message.WParam,
                       message.LParam);
  });
}

void DebugValueHResult(std::string_view name, int32_t result) {
  ForwardValue(name, [&] { return vcl::Format("$%x", result); });
}

DebugScope::DebugScope(std::string_view name)
    : name_(name), exceptions_(std::uncaught_exceptions()) {
  DebugEnterProc(name);
}

DebugScope::DebugScope(std::string_view name, const void* object)
    : name_(name), exceptions_(std::uncaught_exceptions()) {
  DebugEnter(name, object);
}

DebugScope::~DebugScope() {
  if (std::uncaught_exceptions() == exceptions_)
    DebugLeave(name_);
}

}  // namespace toolkit
