#include "toolkit/psRTTI.h"

#include <algorithm>
#include <array>
#include <climits>
#include <cstdint>
#include <typeindex>
#include <unordered_map>

#include "toolkit/Debugs.h"
#include "toolkit/PsUtils.h"
#include "vcl/Controls.h"
#include "vcl/Forms.h"

namespace toolkit {
namespace {

// 1 January 0001 and 31 December 9999 as day counts.
constexpr double kFirstDay = -693593;
constexpr double kLastDay = 2958465;

TPsTypeInfo Ordinal(std::string name, TTypeKind kind, int32_t minValue, int32_t maxValue) {
  TPsTypeInfo type;
  type.Name = std::move(name);
  type.Kind = kind;
  type.MinValue = minValue;
  type.MaxValue = maxValue;
  return type;
}

TPsTypeInfo Plain(std::string name, TTypeKind kind) {
  return Ordinal(std::move(name), kind, 0, 0);
}

bool IsText(const PsVariant& value) {
  const uint16_t type = value.VarType();
  return type == varOleStr || type == varString || type == varStrArg;
}

// The metadata's generic read and write: the value in the variant that
// suits the property's kind.
PsVariant ReadValue(const vcl::TObject& object, const TPsPropMeta& prop) {
  switch (prop.Kind()) {
    case tkFloat: {
      const double value = prop.GetFloat(object);
      return prop.Type == &TypeInfoDateTime() ? PsVariant::Date(value) : PsVariant(value);
    }
    case tkString:
    case tkLString:
    case tkWString:
      return PsVariant(prop.GetString(object));
    case tkVariant:
      return prop.GetVariant(object);
    case tkInt64:
      return PsVariant(prop.GetOrd(object));
    case tkClass:
      return PsVariant(static_cast<int64_t>(reinterpret_cast<uintptr_t>(prop.GetObj(object))));
    case tkMethod:
      return PsVariant();
    default:
      return PsVariant(static_cast<int32_t>(prop.GetOrd(object)));
  }
}

void WriteValue(vcl::TObject& object, const TPsPropMeta& prop, const PsVariant& value) {
  switch (prop.Kind()) {
    case tkFloat:
      prop.SetFloat(object, value.AsDouble());
      break;
    case tkString:
    case tkLString:
    case tkWString:
      prop.SetString(object, value.AsText());
      break;
    case tkVariant:
      prop.SetVariant(object, value);
      break;
    default:
      // The ordinal and class kinds have wrappers of their own.
      break;
  }
}

struct Registry {
  std::unordered_map<std::type_index, const TPsClassMeta*> byType;
  std::vector<const TPsClassMeta*> classes;
};

Registry& TheRegistry() {
  static Registry registry;
  return registry;
}

std::unique_ptr<TPsApplication>& ApplicationSlot() {
  static std::unique_ptr<TPsApplication> slot;
  return slot;
}

std::unique_ptr<TPsNullRTTIProp>& NullPropSlot() {
  static std::unique_ptr<TPsNullRTTIProp> slot;
  return slot;
}

bool IsListed(TTypeKind kind) {
  switch (kind) {
    case tkInteger:
    case tkChar:
    case tkEnumeration:
    case tkFloat:
    case tkClass:
    case tkWChar:
    case tkLString:
    case tkWString:
    case tkVariant:
      return true;
    default:
      return false;
  }
}

}  // namespace

// ---------------------------------------------------------------- Metadata

std::string_view TypeKindName(TTypeKind kind) {
  static constexpr std::array<std::string_view, 17> names = {
      "tkInteger", "tkChar",   "tkEnumeration", "tkFloat",   "tkString",  "tkSet",
      "tkClass",   "tkMethod", "tkWChar",       "tkLString", "tkWString", "tkVariant",
      "tkArray",   "tkRecord", "tkInterface",   "tkInt64",   "tkDynArray"};
  return names.at(kind);
}

const TPsTypeInfo& TypeInfoInteger() {
  static const TPsTypeInfo type = Ordinal("Integer", tkInteger, INT32_MIN, INT32_MAX);
  return type;
}

const TPsTypeInfo& TypeInfoInt64() {
  static const TPsTypeInfo type = Plain("Int64", tkInt64);
  return type;
}

const TPsTypeInfo& TypeInfoChar() {
  static const TPsTypeInfo type = Ordinal("Char", tkChar, 0, 255);
  return type;
}

const TPsTypeInfo& TypeInfoWideChar() {
  static const TPsTypeInfo type = Ordinal("WideChar", tkWChar, 0, 65535);
  return type;
}

const TPsTypeInfo& TypeInfoBoolean() {
  static const TPsTypeInfo type = EnumerationType("Boolean", {"False", "True"});
  return type;
}

const TPsTypeInfo& TypeInfoDouble() {
  static const TPsTypeInfo type = Plain("Double", tkFloat);
  return type;
}

const TPsTypeInfo& TypeInfoDateTime() {
  static const TPsTypeInfo type = Plain("TDateTime", tkFloat);
  return type;
}

const TPsTypeInfo& TypeInfoString() {
  static const TPsTypeInfo type = Plain("string", tkLString);
  return type;
}

const TPsTypeInfo& TypeInfoWideString() {
  static const TPsTypeInfo type = Plain("WideString", tkWString);
  return type;
}

const TPsTypeInfo& TypeInfoVariant() {
  static const TPsTypeInfo type = Plain("Variant", tkVariant);
  return type;
}

const TPsTypeInfo& TypeInfoNotifyEvent() {
  static const TPsTypeInfo type = Plain("TNotifyEvent", tkMethod);
  return type;
}

TPsTypeInfo EnumerationType(std::string name, std::vector<std::string> names) {
  TPsTypeInfo type =
      Ordinal(std::move(name), tkEnumeration, 0, static_cast<int32_t>(names.size()) - 1);
  type.EnumNames = std::move(names);
  return type;
}

TPsTypeInfo SetType(std::string name, const TPsTypeInfo& elements) {
  TPsTypeInfo type = Ordinal(std::move(name), tkSet, 0, 0);
  type.EnumNames = elements.EnumNames;
  return type;
}

bool TPsPropMeta::ReadOnly() const {
  switch (Kind()) {
    case tkFloat:
      return !SetFloat;
    case tkString:
    case tkLString:
    case tkWString:
      return !SetString;
    case tkVariant:
      return !SetVariant;
    case tkClass:
      return !SetObj;
    case tkMethod:
      return false;
    default:
      return !SetOrd;
  }
}

TPsClassMeta::TPsClassMeta(Definition definition) : def_(std::move(definition)) {
  typeInfo_ = Ordinal(def_.name, tkClass, 0, INT32_MAX);
  typeInfo_.ClassType = this;
}

bool TPsClassMeta::InheritsFrom(const TPsClassMeta& other) const {
  for (const TPsClassMeta* meta = this; meta; meta = meta->Parent()) {
    if (meta == &other)
      return true;
  }
  return false;
}

vcl::TObject* TPsClassMeta::Create(vcl::TComponent* owner) const {
  if (!def_.create)
    throw EPsRTTIException(vcl::Format("Class %s cannot be created", Name()));
  return def_.create(owner);
}

std::vector<const TPsPropMeta*> TPsClassMeta::Properties() const {
  std::vector<const TPsClassMeta*> chain;
  for (const TPsClassMeta* meta = this; meta; meta = meta->Parent())
    chain.push_back(meta);
  std::vector<const TPsPropMeta*> props;
  for (auto meta = chain.rbegin(); meta != chain.rend(); ++meta) {
    for (const TPsPropMeta& prop : (*meta)->OwnProperties())
      props.push_back(&prop);
  }
  return props;
}

const TPsClassMeta& ComponentClassMeta() {
  static const TPsClassMeta meta =
      TPsClassMetaBuilder<vcl::TComponent>("TComponent", nullptr)
          .String("Name", &vcl::TComponent::Name, &vcl::TComponent::SetName)
          .Integer("Tag", &vcl::TComponent::Tag, &vcl::TComponent::Tag)
          .Build();
  return meta;
}

void RegisterClassMeta(const TPsClassMeta& meta) {
  Registry& registry = TheRegistry();
  const TPsClassMeta*& slot = registry.byType[std::type_index(meta.Type())];
  if (slot)
    std::erase(registry.classes, slot);
  slot = &meta;
  registry.classes.push_back(&meta);
}

void UnRegisterClasses() {
  TheRegistry() = Registry();
}

const TPsClassMeta* FindClass(std::string_view name) {
  for (const TPsClassMeta* meta : TheRegistry().classes) {
    if (vcl::SameText(meta->Name(), std::string(name)))
      return meta;
  }
  return nullptr;
}

const TPsClassMeta* ClassMetaOf(const vcl::TObject& object) {
  const Registry& registry = TheRegistry();
  const auto found = registry.byType.find(std::type_index(typeid(object)));
  return found == registry.byType.end() ? nullptr : found->second;
}

const TPsClassMeta& RequireClassMetaOf(const vcl::TObject& object) {
  if (const TPsClassMeta* meta = ClassMetaOf(object))
    return *meta;
  const auto* persistent = dynamic_cast<const vcl::TPersistent*>(&object);
  throw vcl::EAssertionFailed(
      vcl::Format("Class %s has no published property information; generate it for the class",
                  persistent ? persistent->ClassName() : std::string(typeid(object).name())));
}

// ---------------------------------------------------------------- Wrappers

void TPsRTTIPropInfo::DebugDump() const {
  if (!ActiveDebugWriter())
    return;
  DebugValueStr(" Name", Name());
  DebugValueStr(" TypeKind", TypeKindName(TypeKind()));
}

void TPsRTTIProp::DebugDump() const {
  if (!ActiveDebugWriter())
    return;
  TPsRTTIPropInfo::DebugDump();
  DebugValueStr("ValueAsString", GetAsString());
}

PsVariant TPsRTTIProp::GetAsVariant() const {
  return ReadValue(Object(), PropMeta());
}

void TPsRTTIProp::SetAsVariant(const PsVariant& value) {
  CheckWrite();
  if (VarHasValue(value))
    WriteValue(Object(), PropMeta(), value);
  else
    Clear();
}

void TPsRTTIProp::GetValues(vcl::TStringList& strings) const {
  strings.Clear();
}

bool TPsRTTIProp::Equals(const TPsRTTIProp* other) const {
  if (!other || &other->TypeData() != &TypeData())
    return false;
  return VariantsEqual(GetAsVariant(), other->GetAsVariant(), false);
}

void TPsRTTIProp::CheckWrite() const {
  if (ReadOnly())
    throw EPsRTTIReadOnlyError(vcl::Format("%s is ReadOnly", Name()));
}

TPsOrdRTTIProp::TPsOrdRTTIProp(vcl::TObject* instance, const TPsPropMeta& prop)
    : TPsRTTIProp(instance, prop), minValue_(prop.Type->MinValue), maxValue_(prop.Type->MaxValue) {}

int32_t TPsOrdRTTIProp::OrdValue() const {
  return static_cast<int32_t>(PropMeta().GetOrd(Object()));
}

std::string TPsOrdRTTIProp::GetAsString() const {
  return vcl::IntToStr(OrdValue());
}

void TPsOrdRTTIProp::SetAsString(const std::string& value) {
  SetOrdValue(vcl::StrToInt(value));
}

PsVariant TPsOrdRTTIProp::GetAsVariant() const {
  return PsVariant(OrdValue());
}

void TPsOrdRTTIProp::SetAsVariant(const PsVariant& value) {
  SetOrdValue(value.AsInt32());
}

void TPsOrdRTTIProp::SetOrdValue(int32_t value) {
  CheckWrite();
  if (minValue_ <= maxValue_ && (value < minValue_ || value > maxValue_)) {
    throw EPsRTTIException(vcl::Format("Property \"%s\": Value %d out of range (%d..%d)", Name(),
                                       value, minValue_, maxValue_));
  }
  PropMeta().SetOrd(Object(), value);
}

TPsEnumRTTIProp::TPsEnumRTTIProp(vcl::TObject* instance, const TPsPropMeta& prop)
    : TPsOrdRTTIProp(instance, prop), names_(prop.Type->EnumNames) {}

std::string TPsEnumRTTIProp::GetAsString() const {
  const int64_t index = static_cast<int64_t>(OrdValue()) - MinValue();
  if (index < 0 || index >= static_cast<int64_t>(names_.size()))
    return vcl::Format("Invalid <%d>", OrdValue());
  return names_[static_cast<size_t>(index)];
}

void TPsEnumRTTIProp::SetAsString(const std::string& value) {
  for (size_t i = 0; i < names_.size(); ++i) {
    if (vcl::SameText(names_[i], value)) {
      SetOrdValue(MinValue() + static_cast<int32_t>(i));
      return;
    }
  }
  SetOrdValue(vcl::StrToInt(value));
}

void TPsEnumRTTIProp::GetValues(vcl::TStringList& strings) const {
  vcl::TUpdateScope update(strings);
  strings.Clear();
  for (const std::string& name : names_)
    strings.Add(name);
  update.End();
}

PsVariant TPsBooleanRTTIProp::GetAsVariant() const {
  return PsVariant(OrdValue() != MinValue());
}

void TPsBooleanRTTIProp::SetAsVariant(const PsVariant& value) {
  if (!VarHasValue(value))
    Clear();
  else if (IsText(value))
    SetAsString(value.AsText());
  else
    SetOrdValue(MinValue() + (value.AsBool() ? 1 : 0));
}

std::string TPsCharRTTIProp::GetAsString() const {
  // A control character would break the line it stands in (a CSV row), and
  // a wide character beyond one byte has no one-byte text: both give their
  // code, which SetAsString reads back as a number. Codes below 10 take two
  // digits: one digit would read back as that digit's character.
  const int32_t code = OrdValue();
  if (code < 10)
    return std::string("0").append(vcl::IntToStr(code));
  if (code < 32 || code > 255)
    return vcl::IntToStr(code);
  return std::string(1, static_cast<char>(code));
}

void TPsCharRTTIProp::SetAsString(const std::string& value) {
  if (value.size() == 1)
    SetOrdValue(static_cast<unsigned char>(value[0]));
  else
    SetOrdValue(vcl::StrToInt(value));
}

TPsClassRTTIProp::TPsClassRTTIProp(vcl::TObject* instance, const TPsPropMeta& prop)
    : TPsOrdRTTIProp(instance, prop) {
  minValue_ = 0;
  maxValue_ = INT32_MAX;
}

vcl::TObject* TPsClassRTTIProp::GetObj() const {
  return PropMeta().GetObj(Object());
}

void TPsClassRTTIProp::SetObj(vcl::TObject* object) {
  CheckWrite();
  const TPsClassMeta* classType = TypeData().ClassType;
  if (object && !classType->IsA(object)) {
    throw EPsRTTIException(
        vcl::Format("Object '%s' is not a '%s'", ObjectText(object), classType->Name()));
  }
  PropMeta().SetObj(Object(), object);
}

std::string TPsClassRTTIProp::ObjectText(const vcl::TObject* object) const {
  return std::string("$").append(IdentityText(object));
}

void TPsClassRTTIProp::CannotTake(const std::string& text) const {
  throw EPsRTTIException(
      vcl::Format("Property \"%s\" cannot take an object from \"%s\"", Name(), text));
}

void TPsClassRTTIProp::SetAsString(const std::string& value) {
  CheckWrite();
  if (!value.empty() && value != "(none)")
    CannotTake(value);
  Clear();
}

PsVariant TPsClassRTTIProp::GetAsVariant() const {
  return PsVariant(static_cast<int64_t>(reinterpret_cast<uintptr_t>(GetObj())));
}

void TPsClassRTTIProp::SetAsVariant(const PsVariant& value) {
  CheckWrite();
  if (VarHasValue(value))
    CannotTake(VariantToText(value, false));
  Clear();
}

void TPsClassRTTIProp::SetOrdValue(int32_t value) {
  CheckWrite();
  if (value != 0)
    CannotTake(vcl::IntToStr(value));
  Clear();
}

std::string TPsComponentRTTIProp::ObjectText(const vcl::TObject* object) const {
  if (object && !dynamic_cast<const vcl::TComponent*>(object))
    return TPsClassRTTIProp::ObjectText(object);
  return ComponentPath(static_cast<const vcl::TComponent*>(object));
}

void TPsComponentRTTIProp::SetAsString(const std::string& value) {
  // Read-only is the answer, whatever the path finds.
  CheckWrite();
  if (value.empty() || value == "(none)") {
    Clear();
    return;
  }
  vcl::TComponent* found = nullptr;
  if (const TPsApplication* application = PsApplication())
    found = application->FindComponent(value, '.');
  if (!found) {
    const auto* self = dynamic_cast<const vcl::TComponent*>(Instance());
    if (self && self->Owner())
      found = self->Owner()->FindComponent(value);
  }
  if (!found)
    throw EPsRTTIException(vcl::Format("Component \"%s\" not found", value));
  SetObj(found);
}

std::string TPsFloatRTTIProp::GetAsString() const {
  return vcl::FloatToStr(PropMeta().GetFloat(Object()));
}

void TPsFloatRTTIProp::SetAsString(const std::string& value) {
  CheckWrite();
  PropMeta().SetFloat(Object(), vcl::StrToFloat(value));
}

void TPsFloatRTTIProp::Clear() {
  CheckWrite();
  PropMeta().SetFloat(Object(), 0);
}

std::string TPsDateTimeRTTIProp::GetAsString() const {
  return vcl::DateTimeToStr(PropMeta().GetFloat(Object()));
}

void TPsDateTimeRTTIProp::SetAsString(const std::string& value) {
  CheckWrite();
  vcl::TDateTime date;
  if (!vcl::TryStrToDateTime(value, date)) {
    date = vcl::StrToFloat(value);
    // A day count outside the years 1 to 9999 is no date: it could not be
    // shown, nor saved, again.
    if (!(date > kFirstDay - 1 && date < kLastDay + 1))
      throw vcl::EConvertError(vcl::Format("'%s' is not a valid date and time", value));
  }
  PropMeta().SetFloat(Object(), date);
}

void TPsDateTimeRTTIProp::SetAsVariant(const PsVariant& value) {
  CheckWrite();
  if (IsText(value))
    SetAsString(value.AsText());
  else
    TPsFloatRTTIProp::SetAsVariant(value);
}

std::string TPsStringRTTIProp::GetAsString() const {
  return PropMeta().GetString(Object());
}

void TPsStringRTTIProp::SetAsString(const std::string& value) {
  CheckWrite();
  PropMeta().SetString(Object(), value);
}

std::string TPsVariantRTTIProp::GetAsString() const {
  const PsVariant value = PropMeta().GetVariant(Object());
  if (!VarHasValue(value))
    return "";
  if (value.IsArray() || value.VarType() == varError)
    return VariantToText(value, false);
  return value.AsText();
}

void TPsVariantRTTIProp::SetAsString(const std::string& value) {
  SetAsVariant(PsVariant(value));
}

namespace {

const TPsPropMeta& NullPropMeta() {
  static const TPsPropMeta prop = [] {
    TPsPropMeta meta;
    meta.Type = &TypeInfoVariant();
    return meta;
  }();
  return prop;
}

}  // namespace

TPsNullRTTIProp::TPsNullRTTIProp() : TPsRTTIProp(nullptr, NullPropMeta()) {}

// ---------------------------------------------------------------- Property lists

TPsClassProperties::TPsClassProperties(const TPsClassMeta* classMeta)
    : TPsClassProperties(classMeta, Unlisted{}) {
  ListProperties();
}

TPsClassProperties::TPsClassProperties(const TPsClassMeta* classMeta, Unlisted) : meta_(classMeta) {
  if (!meta_) {
    throw vcl::EAssertionFailed(
        "TPsClassProperties: the class has no published property information; generate it for "
        "the class");
  }
  props_.OwnsObjects = true;
}

void TPsClassProperties::ListProperties() {
  for (const TPsPropMeta* prop : meta_->Properties()) {
    if (std::unique_ptr<TPsRTTIPropInfo> wrapper = CreateProp(*prop)) {
      props_.AddObject(prop->Name, wrapper.get());
      wrapper.release();
    }
  }
}

std::unique_ptr<TPsRTTIPropInfo> TPsClassProperties::CreateProp(const TPsPropMeta& prop) const {
  if (!IsListed(prop.Kind()))
    return nullptr;
  return std::make_unique<TPsRTTIPropInfo>(prop);
}

TPsRTTIPropInfo* TPsClassProperties::Items(int index) const {
  if (index < 0 || index >= Count()) {
    throw EPsRTTIException(vcl::Format("TPsClassProperties: Invalid property index %d (valid: 0-%d",
                                       index, Count() - 1));
  }
  return static_cast<TPsRTTIPropInfo*>(props_.Objects(index));
}

std::string TPsClassProperties::GetPropertyText(int index) const {
  return Items(index)->Name();
}

namespace {

const TPsClassMeta* MetaOfInstance(const vcl::TObject* instance) {
  if (!instance)
    throw vcl::EAssertionFailed("TPsInstanceProperties: no object");
  return &RequireClassMetaOf(*instance);
}

}  // namespace

TPsInstanceProperties::TPsInstanceProperties(vcl::TObject* instance)
    : TPsClassProperties(MetaOfInstance(instance), Unlisted{}), instance_(instance) {
  ListProperties();
}

std::unique_ptr<TPsRTTIPropInfo> TPsInstanceProperties::CreateProp(const TPsPropMeta& prop) const {
  const TPsTypeInfo* type = prop.Type;
  switch (prop.Kind()) {
    case tkInteger:
      return std::make_unique<TPsIntegerRTTIProp>(instance_, prop);
    case tkChar:
    case tkWChar:
      return std::make_unique<TPsCharRTTIProp>(instance_, prop);
    case tkEnumeration:
      if (type == &TypeInfoBoolean())
        return std::make_unique<TPsBooleanRTTIProp>(instance_, prop);
      return std::make_unique<TPsEnumRTTIProp>(instance_, prop);
    case tkFloat:
      if (type == &TypeInfoDateTime())
        return std::make_unique<TPsDateTimeRTTIProp>(instance_, prop);
      return std::make_unique<TPsFloatRTTIProp>(instance_, prop);
    case tkClass:
      if (type->ClassType->IsComponent())
        return std::make_unique<TPsComponentRTTIProp>(instance_, prop);
      return std::make_unique<TPsClassRTTIProp>(instance_, prop);
    case tkLString:
    case tkWString:
      return std::make_unique<TPsStringRTTIProp>(instance_, prop);
    case tkVariant:
      return std::make_unique<TPsVariantRTTIProp>(instance_, prop);
    default:
      return nullptr;
  }
}

std::string TPsInstanceProperties::GetPropertyText(int index) const {
  return vcl::Format("%s=%s", Props(index)->Name(), Props(index)->GetAsString());
}

std::string TPsInstanceProperties::GetValuesText() const {
  constexpr char kQuote = '"';
  const char delimiter = Delimiter();
  if (Count() == 1 && Props(0)->GetAsString().empty())
    return std::string(2, kQuote);
  std::string line;
  for (int i = 0; i < Count(); ++i) {
    if (i > 0)
      line += delimiter;
    const std::string value = Props(i)->GetAsString();
    // A line break is quoted too: CSVRows keeps it in its field.
    if (value.find_first_of(std::string{delimiter, kQuote, '\r', '\n'}) == std::string::npos) {
      line += value;
      continue;
    }
    line += kQuote;
    for (char c : value) {
      if (c == kQuote)
        line += kQuote;
      line += c;
    }
    line += kQuote;
  }
  return line;
}

void TPsInstanceProperties::SetValuesText(const std::string& line) {
  TPsStringList values;
  values.SetDelimiter(Delimiter());
  values.SetDelimitedText(line);
  for (int i = 0; i < Count(); ++i)
    Props(i)->SetAsString(values.Strings(i));
}

// ---------------------------------------------------------------- CSV rows

std::string CSVHeader(const TPsClassMeta* itemClass, char delimiter) {
  TPsClassProperties props(itemClass);
  if (delimiter != '\0')
    props.SetDelimiter(delimiter);
  return props.GetHeader();
}

std::string ObjectToCSV(vcl::TObject* object, char delimiter) {
  TPsInstanceProperties props(object);
  if (delimiter != '\0')
    props.SetDelimiter(delimiter);
  return props.GetValuesText();
}

void CSVToObject(const std::string& line, vcl::TObject* object, char delimiter) {
  TPsInstanceProperties props(object);
  if (delimiter != '\0')
    props.SetDelimiter(delimiter);
  props.SetValuesText(line);
}

void CSVRows(const std::string& text, char delimiter, vcl::TStringList& rows) {
  constexpr char kQuote = '"';
  if (delimiter == '\0')
    delimiter = vcl::FormatSettings().ListSeparator;
  vcl::TUpdateScope update(rows);
  rows.Clear();
  // As the delimited text reads a row: a field that begins with a double
  // quote (at the row's start, after a delimiter or after a closing
  // quote) runs to the next single double quote.
  std::string row;
  bool quoted = false;
  bool fieldStart = true;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (quoted) {
      if (c == kQuote && i + 1 < text.size() && text[i + 1] == kQuote) {
        row += kQuote;
        ++i;
      } else if (c == kQuote) {
        quoted = false;
        fieldStart = true;
      }
      row += c;
    } else if (c == '\r' || c == '\n') {
      rows.Add(row);
      row.clear();
      fieldStart = true;
      if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
        ++i;
    } else {
      quoted = fieldStart && c == kQuote;
      fieldStart = c == delimiter;
      row += c;
    }
  }
  if (!row.empty())
    rows.Add(row);
  update.End();
}

// ---------------------------------------------------------------- Application registry

std::string IdentityText(const void* object) {
  return vcl::IntToHex(static_cast<int64_t>(reinterpret_cast<uintptr_t>(object)),
                       static_cast<int>(2 * sizeof(void*)));
}

std::string ComponentPath(const vcl::TComponent* component) {
  if (!component)
    return "";
  const vcl::TComponent* owner = component->Owner();
  if (!owner || owner == &vcl::Application())
    return component->Name();
  return owner->Name() + "." + component->Name();
}

std::string TPsApplication::GetComponentName(const vcl::TComponent* component) const {
  return component ? ComponentPath(component) : "(none)";
}

vcl::TComponent* TPsRunTimeApplication::CreateComponent(const TPsClassMeta& componentClass,
                                                        vcl::TComponent* owner, int left, int top,
                                                        int width, int height) {
  if (!componentClass.IsComponent())
    throw EPsRTTIException(vcl::Format("Class %s is not a component class", componentClass.Name()));
  auto* component = static_cast<vcl::TComponent*>(componentClass.Create(owner));
  if (auto* control = dynamic_cast<vcl::TControl*>(component))
    control->SetBounds(left, top, width, height);
  return component;
}

vcl::TComponent* TPsRunTimeApplication::FindComponent(std::string_view componentPath,
                                                      char separator) const {
  // The path's names from the left, one owner level each. An empty first
  // name before a separator stands for the application object itself.
  vcl::TComponent* current = &vcl::Application();
  size_t start = 0;
  const size_t first = componentPath.find(separator);
  if (first == 0)
    start = 1;
  while (true) {
    const size_t end = componentPath.find(separator, start);
    const std::string_view name = componentPath.substr(start, end - start);
    current = current->FindComponent(std::string(name));
    if (!current || end == std::string_view::npos)
      return current;
    start = end + 1;
  }
}

void TPsRunTimeApplication::FindComponents(const TPsClassMeta& componentClass,
                                           vcl::TStringList& strings) const {
  // Depth first with a stack of its own: each component before the ones it owns.
  std::vector<const vcl::TComponent*> pending;
  const vcl::TComponent& root = vcl::Application();
  for (int i = root.ComponentCount() - 1; i >= 0; --i)
    pending.push_back(root.Components(i));
  while (!pending.empty()) {
    const vcl::TComponent* component = pending.back();
    pending.pop_back();
    if (componentClass.IsA(component))
      strings.AddObject(ComponentPath(component), const_cast<vcl::TComponent*>(component));
    for (int i = component->ComponentCount() - 1; i >= 0; --i)
      pending.push_back(component->Components(i));
  }
}

TPsApplication* PsApplication() {
  return ApplicationSlot().get();
}

TPsRTTIProp* NullRTTIProp() {
  return NullPropSlot().get();
}

void CreateRTTIObjects() {
  if (!ApplicationSlot())
    ApplicationSlot() = std::make_unique<TPsRunTimeApplication>();
  if (!NullPropSlot())
    NullPropSlot() = std::make_unique<TPsNullRTTIProp>();
}

void FreeRTTIObjects() {
  NullPropSlot().reset();
  ApplicationSlot().reset();
}

}  // namespace toolkit
