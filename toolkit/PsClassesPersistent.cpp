// TPsPersistent, its component-stream form, and TPsComponentNexus.
#include <algorithm>
#include <climits>
#include <cstdint>

#include "toolkit/Debugs.h"
#include "toolkit/PsClasses.h"
#include "toolkit/PsUtils.h"
#include "toolkit/psRTTI.h"

namespace toolkit {

const TPsClassMeta& TPsPersistent::ClassMeta() {
  static const TPsClassMeta meta =
      TPsClassMetaBuilder<TPsPersistent>("TPsPersistent", nullptr).Build();
  return meta;
}

void TPsPersistent::SetOwner(vcl::TObject* owner) {
  if (owner != owner_)
    owner_ = owner;
}

vcl::TObject* TPsPersistent::GetOwnerOrSelf() {
  return owner_ ? owner_ : this;
}

void TPsPersistent::ConfigChanged() {
  if (OnConfigChanged)
    OnConfigChanged(GetOwnerOrSelf());
}

void TPsPersistent::Notification(vcl::TComponent* component, vcl::TOperation operation) {
  if (operation != vcl::TOperation::opRemove || !component || !ClassMetaOf(*this))
    return;
  TPsInstanceProperties props(this);
  for (int i = 0; i < props.Count(); ++i) {
    auto* prop = dynamic_cast<TPsComponentRTTIProp*>(props.Props(i));
    // A read-only property cannot be cleared, and keeps what its getter gives.
    if (prop && !prop->ReadOnly() && prop->GetObj() == component)
      prop->Clear();
  }
}

int TPsPersistent::Compare(const TPsPersistent* /*other*/,
                           vcl::TStringList* /*differences*/) const {
  return 0;
}

bool TPsPersistent::HasDifferences(const TPsPersistent* other,
                                   vcl::TStringList* differences) const {
  vcl::TStringList own;
  vcl::TStringList& lines = differences ? *differences : own;
  Compare(other, &lines);
  return lines.Count() > 0;
}

void TPsPersistent::DefineProperties(vcl::TFiler* /*filer*/) {}

void TPsPersistent::DebugDump(const std::string& prefix) {
  if (!ActiveDebugWriter() || !ClassMetaOf(*this))
    return;
  TPsInstanceProperties props(this);
  for (int i = 0; i < props.Count(); ++i)
    DebugValueStr(prefix + props.Props(i)->Name(), props.Props(i)->GetAsString());
}

// ---------------------------------------------------------------- Component stream

namespace {

void WriteProperty(vcl::TWriter& writer, const vcl::TPersistent& item, const TPsPropMeta& prop) {
  const TPsTypeInfo& type = *prop.Type;
  switch (prop.Kind()) {
    case tkInteger:
    case tkChar:
    case tkWChar:
    case tkInt64:
      writer.WritePropName(prop.Name);
      writer.WriteInteger(prop.GetOrd(item));
      break;
    case tkEnumeration: {
      writer.WritePropName(prop.Name);
      const int64_t value = prop.GetOrd(item);
      const int64_t index = value - type.MinValue;
      if (&type == &TypeInfoBoolean())
        writer.WriteBoolean(value != type.MinValue);
      else if (index >= 0 && index < static_cast<int64_t>(type.EnumNames.size()))
        writer.WriteIdent(type.EnumNames[static_cast<size_t>(index)]);
      else
        writer.WriteInteger(value);
      break;
    }
    case tkSet: {
      writer.WritePropName(prop.Name);
      const auto bits = static_cast<uint32_t>(prop.GetOrd(item));
      std::vector<std::string> names;
      for (size_t bit = 0; bit < type.EnumNames.size() && bit < 32; ++bit) {
        if (bits & (1u << bit))
          names.push_back(type.EnumNames[bit]);
      }
      writer.WriteSet(names);
      break;
    }
    case tkFloat:
      writer.WritePropName(prop.Name);
      writer.WriteFloat(prop.GetFloat(item));
      break;
    case tkString:
    case tkLString:
    case tkWString:
      writer.WritePropName(prop.Name);
      writer.WriteString(prop.GetString(item));
      break;
    case tkVariant: {
      // Numbers, Booleans and texts; empty, null, arrays and other kinds
      // are not written, so the property keeps its value when read.
      const PsVariant value = prop.GetVariant(item);
      if (value.IsArray())
        return;
      switch (VariantClass(value)) {
        case vcBoolean:
          writer.WritePropName(prop.Name);
          writer.WriteBoolean(value.AsBool());
          break;
        case vcInteger:
        case vcBigInt:
          writer.WritePropName(prop.Name);
          writer.WriteInteger(value.AsInt64());
          break;
        case vcFloat:
        case vcDate:
          writer.WritePropName(prop.Name);
          writer.WriteFloat(value.AsDouble());
          break;
        case vcString:
          writer.WritePropName(prop.Name);
          writer.WriteString(value.AsText());
          break;
        default:
          break;
      }
      break;
    }
    case tkClass: {
      // Components by their path; other objects have no stream form here.
      if (!type.ClassType->IsComponent())
        return;
      writer.WritePropName(prop.Name);
      const auto* component = static_cast<const vcl::TComponent*>(prop.GetObj(item));
      if (component)
        writer.WriteIdent(ComponentPath(component));
      else
        writer.WriteValue(vcl::TValueType::vaNil);
      break;
    }
    default:
      break;
  }
}

int32_t ReadInt32(vcl::TReader& reader) {
  const int64_t value = reader.ReadInteger();
  if (value < INT32_MIN || value > INT32_MAX)
    throw vcl::EReadError("Invalid property value");
  return static_cast<int32_t>(value);
}

void ReadProperty(vcl::TReader& reader, vcl::TPersistent& item, const TPsPropMeta& prop,
                  TPsRTTIProp* wrapper) {
  const TPsTypeInfo& type = *prop.Type;
  const vcl::TValueType next = reader.NextValue();
  switch (prop.Kind()) {
    case tkSet: {
      if (prop.ReadOnly())
        throw EPsRTTIReadOnlyError(vcl::Format("%s is ReadOnly", prop.Name));
      uint32_t bits = 0;
      for (const std::string& name : reader.ReadSet()) {
        const auto found =
            std::find_if(type.EnumNames.begin(), type.EnumNames.end(),
                         [&](const std::string& n) { return vcl::SameText(n, name); });
        if (found == type.EnumNames.end() || found - type.EnumNames.begin() >= 32)
          throw vcl::EReadError("Invalid property value");
        bits |= 1u << (found - type.EnumNames.begin());
      }
      prop.SetOrd(item, bits);
      return;
    }
    case tkInt64:
      if (prop.ReadOnly())
        throw EPsRTTIReadOnlyError(vcl::Format("%s is ReadOnly", prop.Name));
      prop.SetOrd(item, reader.ReadInteger());
      return;
    case tkInteger:
    case tkChar:
    case tkWChar:
      static_cast<TPsOrdRTTIProp*>(wrapper)->SetOrdValue(ReadInt32(reader));
      return;
    case tkEnumeration:
      if (next == vcl::TValueType::vaIdent)
        wrapper->SetAsString(reader.ReadIdent());
      else if (next == vcl::TValueType::vaInteger)
        static_cast<TPsOrdRTTIProp*>(wrapper)->SetOrdValue(ReadInt32(reader));
      else
        static_cast<TPsOrdRTTIProp*>(wrapper)->SetOrdValue(type.MinValue +
                                                           (reader.ReadBoolean() ? 1 : 0));
      return;
    case tkFloat:
      wrapper->SetAsVariant(PsVariant(reader.ReadFloat()));
      return;
    case tkString:
    case tkLString:
    case tkWString:
      wrapper->SetAsString(reader.ReadString());
      return;
    case tkVariant:
      if (next == vcl::TValueType::vaString) {
        wrapper->SetAsVariant(PsVariant(reader.ReadString()));
      } else if (next == vcl::TValueType::vaFloat) {
        wrapper->SetAsVariant(PsVariant(reader.ReadFloat()));
      } else if (next == vcl::TValueType::vaInteger) {
        const int64_t value = reader.ReadInteger();
        wrapper->SetAsVariant(value >= INT32_MIN && value <= INT32_MAX
                                  ? PsVariant(static_cast<int32_t>(value))
                                  : PsVariant(value));
      } else {
        wrapper->SetAsVariant(PsVariant(reader.ReadBoolean()));
      }
      return;
    case tkClass:
      if (next == vcl::TValueType::vaNil) {
        reader.ReadValue();
        wrapper->Clear();
      } else {
        wrapper->SetAsString(reader.ReadIdent());
      }
      return;
    default:
      throw vcl::EReadError(vcl::Format("Property %s does not exist", prop.Name));
  }
}

}  // namespace

void TPsWriter::WritePersistent(vcl::TWriter& writer, vcl::TPersistent& item) {
  const TPsClassMeta& meta = RequireClassMetaOf(item);
  writer.WriteListBegin();
  for (const TPsPropMeta* prop : meta.Properties()) {
    if (prop->Stored && !prop->ReadOnly() && prop->Kind() != tkMethod)
      WriteProperty(writer, item, *prop);
  }
  writer.WriteDefinedProperties(item);
  writer.WriteListEnd();
}

void TPsReader::ReadPersistent(vcl::TReader& reader, vcl::TPersistent& item) {
  TPsInstanceProperties wrappers(&item);
  const std::vector<const TPsPropMeta*> props = wrappers.ClassMeta().Properties();
  reader.ReadListBegin();
  while (!reader.EndOfList()) {
    const std::string name = reader.ReadPropName();
    const auto prop = std::find_if(props.begin(), props.end(), [&](const TPsPropMeta* p) {
      return p->Kind() != tkMethod && vcl::SameText(p->Name, name);
    });
    if (prop != props.end()) {
      const int index = wrappers.IndexOf((*prop)->Name);
      ReadProperty(reader, item, **prop, index >= 0 ? wrappers.Props(index) : nullptr);
    } else if (!reader.ReadDefinedProperty(item, name)) {
      throw vcl::EReadError(vcl::Format("Property %s does not exist", name));
    }
  }
  reader.ReadListEnd();
}

// ---------------------------------------------------------------- TPsComponentNexus

TPsComponentNexus::TPsComponentNexus(vcl::TComponent* owner)
    : vcl::TComponent(owner, "TPsComponentNexus") {
  HearAllOwnerNews();
}

TPsComponentNexus::~TPsComponentNexus() {
  Notify(this, vcl::TOperation::opRemove, true);
}

void TPsComponentNexus::Notify(vcl::TComponent* component, vcl::TOperation operation,
                               bool guarded) {
  if (!OnNotification)
    return;
  if (!guarded) {
    OnNotification(component, operation);
    return;
  }
  try {
    OnNotification(component, operation);
  } catch (const std::exception& error) {
    DebugException(error);
  }
}

void TPsComponentNexus::Notification(vcl::TComponent* component, vcl::TOperation operation) {
  // While this nexus or that component is being freed, a destructor is on
  // the way: the handler's error must not leave it.
  Notify(component, operation, Destroying() || component->Destroying());
  vcl::TComponent::Notification(component, operation);
}

void RegisterPersistentClasses() {
  RegisterClass(TPsPersistentList::ClassMeta());
  RegisterClass(TPsPersistent::ClassMeta());
}

}  // namespace toolkit
