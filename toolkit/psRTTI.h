// Unit psRTTI: reads and writes the published properties of any object by
// name, as text or as variant, without knowing its class.
//
// Each published class carries a hand-built TPsClassMeta: its name, its
// parent, an is-a test, a factory, and its published properties in
// declaration order, each with its declared type and its readers and
// writers by kind (a property without a writer is read-only). The metas are
// built once, by TPsClassMetaBuilder, and registered by the toolkit's start
// (RegisterClass); an object's meta is found through its exact type.
//
// On the metadata stand one wrapper per property (TPsRTTIProp and its kinds:
// the value as text and variant, range and write checks), the lists of a
// class's or an object's properties, the CSV row of an object, and the
// application registry PsApplication, which names components by
// "Owner.Name" and finds them again.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <type_traits>
#include <typeinfo>
#include <utility>
#include <vector>

#include "toolkit/PsClasses.h"
#include "toolkit/PsVariant.h"
#include "vcl/Classes.h"
#include "vcl/SysUtils.h"

namespace toolkit {

VCL_DECLARE_EXCEPTION(EPsRTTIException, vcl::Exception);
VCL_DECLARE_EXCEPTION(EPsRTTIReadOnlyError, EPsRTTIException);

// ---- Metadata -----------------------------------------------------------------

// Every kind a published property's type may have. The property lists take
// integer, character, enumeration, floating point, class, wide character,
// string, wide string and variant; the other kinds are never listed.
enum TTypeKind {
  tkInteger,
  tkChar,
  tkEnumeration,
  tkFloat,
  tkString,  // short string
  tkSet,
  tkClass,
  tkMethod,
  tkWChar,
  tkLString,
  tkWString,
  tkVariant,
  tkArray,
  tkRecord,
  tkInterface,
  tkInt64,
  tkDynArray
};

// "tkInteger", "tkChar", ...
std::string_view TypeKindName(TTypeKind kind);

class TPsClassMeta;

// A property's declared type. Two properties have the same type when they
// point at the same TPsTypeInfo.
struct TPsTypeInfo {
  std::string Name;
  TTypeKind Kind = tkInteger;
  // Ordinal kinds; MinValue > MaxValue marks an unsigned 32-bit type.
  int32_t MinValue = 0;
  int32_t MaxValue = 0;
  // An enumeration's value names for MinValue..MaxValue; a set's element
  // names, bit 0 first.
  std::vector<std::string> EnumNames;
  // The class of a class-typed property.
  const TPsClassMeta* ClassType = nullptr;
};

// The language's own types. Boolean and TDateTime are told apart from other
// enumerations and floats by their identity.
const TPsTypeInfo& TypeInfoInteger();
const TPsTypeInfo& TypeInfoInt64();
const TPsTypeInfo& TypeInfoChar();
const TPsTypeInfo& TypeInfoWideChar();
const TPsTypeInfo& TypeInfoBoolean();
const TPsTypeInfo& TypeInfoDouble();
const TPsTypeInfo& TypeInfoDateTime();
const TPsTypeInfo& TypeInfoString();
const TPsTypeInfo& TypeInfoWideString();
const TPsTypeInfo& TypeInfoVariant();
const TPsTypeInfo& TypeInfoNotifyEvent();
// An enumeration whose values, from 0, carry these names.
TPsTypeInfo EnumerationType(std::string name, std::vector<std::string> names);
// A set of the values of `elements` (an enumeration of at most 32 values).
TPsTypeInfo SetType(std::string name, const TPsTypeInfo& elements);

// One published property: its name, its type and its readers and writers.
// Ordinal kinds (integer, character, enumeration, set, 64-bit integer) use
// GetOrd/SetOrd, floats GetFloat/SetFloat, texts GetString/SetString,
// variants GetVariant/SetVariant, classes GetObj/SetObj; events none.
struct TPsPropMeta {
  std::string Name;
  const TPsTypeInfo* Type = nullptr;
  // Written to a component stream.
  bool Stored = true;

  std::function<int64_t(const vcl::TObject&)> GetOrd;
  std::function<void(vcl::TObject&, int64_t)> SetOrd;
  std::function<double(const vcl::TObject&)> GetFloat;
  std::function<void(vcl::TObject&, double)> SetFloat;
  std::function<std::string(const vcl::TObject&)> GetString;
  std::function<void(vcl::TObject&, const std::string&)> SetString;
  std::function<PsVariant(const vcl::TObject&)> GetVariant;
  std::function<void(vcl::TObject&, const PsVariant&)> SetVariant;
  std::function<vcl::TObject*(const vcl::TObject&)> GetObj;
  std::function<void(vcl::TObject&, vcl::TObject*)> SetObj;

  TTypeKind Kind() const { return Type->Kind; }
  bool ReadOnly() const;
};

// A published class. Built by TPsClassMetaBuilder; lives as long as the
// program (a function-local static), so it is neither copied nor moved.
class TPsClassMeta {
 public:
  struct Definition {
    std::string name;
    const TPsClassMeta* parent = nullptr;
    const std::type_info* type = nullptr;
    bool isComponent = false;
    std::function<bool(const vcl::TObject*)> isA;
    std::function<vcl::TObject*(vcl::TComponent*)> create;
    std::vector<TPsPropMeta> properties;
  };
  explicit TPsClassMeta(Definition definition);
  TPsClassMeta(const TPsClassMeta&) = delete;
  TPsClassMeta& operator=(const TPsClassMeta&) = delete;

  const std::string& Name() const { return def_.name; }
  const TPsClassMeta* Parent() const { return def_.parent; }
  const std::type_info& Type() const { return *def_.type; }
  // `object` is of this class or a descendant; False for none.
  bool IsA(const vcl::TObject* object) const { return object && def_.isA(object); }
  // This class is `other` or derives from it.
  bool InheritsFrom(const TPsClassMeta& other) const;
  bool IsComponent() const { return def_.isComponent; }
  // A new object of the class, owned by `owner` when it is a component
  // (otherwise the caller owns it). EPsRTTIException "Class %s cannot be
  // created" for an abstract class or one without a plain constructor.
  vcl::TObject* Create(vcl::TComponent* owner) const;
  bool CanCreate() const { return static_cast<bool>(def_.create); }

  // The class's own published properties, in declaration order.
  const std::vector<TPsPropMeta>& OwnProperties() const { return def_.properties; }
  // All of them, inherited ones first.
  std::vector<const TPsPropMeta*> Properties() const;
  // The class as the type of class-typed properties.
  const TPsTypeInfo& TypeInfo() const { return typeInfo_; }

 private:
  Definition def_;
  TPsTypeInfo typeInfo_;
};

namespace rtti_detail {

// The value a setter takes: a member function's argument or a field's type.
template <class Set>
struct SetterValue;
template <class R, class C, class A>
struct SetterValue<R (C::*)(A)> {
  using type = std::decay_t<A>;
};
template <class R, class C, class A>
struct SetterValue<R (C::*)(A) noexcept> {
  using type = std::decay_t<A>;
};
template <class C, class F>
requires(!std::is_function_v<F>) struct SetterValue<F C::*> {
  using type = F;
};

// A reader from a const member function or a field.
template <class T, class Result, class Get>
std::function<Result(const vcl::TObject&)> Reader(Get get) {
  return [get](const vcl::TObject& object) -> Result {
    return static_cast<Result>(std::invoke(get, static_cast<const T&>(object)));
  };
}

// A writer through a member function or into a field; none for nullptr.
template <class T, class Value, class Set>
std::function<void(vcl::TObject&, Value)> Writer(Set set) {
  if constexpr (std::is_null_pointer_v<Set>) {
    return nullptr;
  } else {
    using Target = typename SetterValue<Set>::type;
    return [set](vcl::TObject& object, Value value) {
      if constexpr (std::is_member_object_pointer_v<Set>)
        static_cast<T&>(object).*set = static_cast<Target>(value);
      else
        std::invoke(set, static_cast<T&>(object), static_cast<Target>(value));
    };
  }
}

}  // namespace rtti_detail

// Builds the meta of class T: one call per published property, in
// declaration order. A getter is a const member function or a field; a
// setter a member function, a field, or nullptr for a read-only property.
//
//   static const TPsClassMeta meta =
//       TPsClassMetaBuilder<TPsVarLink>("TPsVarLink", &TPsPersistent::ClassMeta())
//           .Object("Variable", TPsVar::ClassMeta(), &TPsVarLink::Variable,
//                   &TPsVarLink::SetVariable)
//           .Enumeration("VarProp", VarPropTypeInfo(), &TPsVarLink::VarProp,
//                        &TPsVarLink::SetVarProp)
//           .Build();
template <class T>
class TPsClassMetaBuilder {
 public:
  TPsClassMetaBuilder(std::string name, const TPsClassMeta* parent) {
    static_assert(std::is_base_of_v<vcl::TObject, T>, "published classes are objects");
    def_.name = std::move(name);
    def_.parent = parent;
    def_.type = &typeid(T);
    def_.isComponent = std::is_base_of_v<vcl::TComponent, T>;
    def_.isA = [](const vcl::TObject* object) { return dynamic_cast<const T*>(object) != nullptr; };
    if constexpr (std::is_abstract_v<T>) {
      // No factory.
    } else if constexpr (std::is_constructible_v<T, vcl::TComponent*>) {
      def_.create = [](vcl::TComponent* owner) -> vcl::TObject* { return new T(owner); };
    } else if constexpr (std::is_default_constructible_v<T>) {
      def_.create = [](vcl::TComponent*) -> vcl::TObject* { return new T(); };
    }
  }

  // Integer kinds (any integral getter), or a subrange given as `type`.
  template <class Get, class Set = std::nullptr_t>
  TPsClassMetaBuilder& Integer(std::string name, Get get, Set set = nullptr,
                               const TPsTypeInfo& type = TypeInfoInteger()) {
    return Ordinal(std::move(name), type, get, set);
  }
  template <class Get, class Set = std::nullptr_t>
  TPsClassMetaBuilder& Int64(std::string name, Get get, Set set = nullptr) {
    return Ordinal(std::move(name), TypeInfoInt64(), get, set);
  }
  // A character's code is its byte, 0 to 255, whatever the sign of char.
  template <class Get, class Set = std::nullptr_t>
  TPsClassMetaBuilder& Char(std::string name, Get get, Set set = nullptr) {
    Ordinal(std::move(name), TypeInfoChar(), get, set);
    def_.properties.back().GetOrd = [get](const vcl::TObject& object) -> int64_t {
      return static_cast<unsigned char>(std::invoke(get, static_cast<const T&>(object)));
    };
    return *this;
  }
  template <class Get, class Set = std::nullptr_t>
  TPsClassMetaBuilder& WideChar(std::string name, Get get, Set set = nullptr) {
    return Ordinal(std::move(name), TypeInfoWideChar(), get, set);
  }
  template <class Get, class Set = std::nullptr_t>
  TPsClassMetaBuilder& Boolean(std::string name, Get get, Set set = nullptr) {
    return Ordinal(std::move(name), TypeInfoBoolean(), get, set);
  }
  // An enumeration or a set: `type` from EnumerationType or SetType.
  template <class Get, class Set = std::nullptr_t>
  TPsClassMetaBuilder& Enumeration(std::string name, const TPsTypeInfo& type, Get get,
                                   Set set = nullptr) {
    return Ordinal(std::move(name), type, get, set);
  }
  template <class Get, class Set = std::nullptr_t>
  TPsClassMetaBuilder& Float(std::string name, Get get, Set set = nullptr,
                             const TPsTypeInfo& type = TypeInfoDouble()) {
    TPsPropMeta& prop = Add(std::move(name), type);
    prop.GetFloat = rtti_detail::Reader<T, double>(get);
    prop.SetFloat = rtti_detail::Writer<T, double>(set);
    return *this;
  }
  template <class Get, class Set = std::nullptr_t>
  TPsClassMetaBuilder& DateTime(std::string name, Get get, Set set = nullptr) {
    return Float(std::move(name), get, set, TypeInfoDateTime());
  }
  template <class Get, class Set = std::nullptr_t>
  TPsClassMetaBuilder& String(std::string name, Get get, Set set = nullptr,
                              const TPsTypeInfo& type = TypeInfoString()) {
    TPsPropMeta& prop = Add(std::move(name), type);
    prop.GetString = rtti_detail::Reader<T, std::string>(get);
    prop.SetString = rtti_detail::Writer<T, const std::string&>(set);
    return *this;
  }
  template <class Get, class Set = std::nullptr_t>
  TPsClassMetaBuilder& Variant(std::string name, Get get, Set set = nullptr) {
    TPsPropMeta& prop = Add(std::move(name), TypeInfoVariant());
    prop.GetVariant = rtti_detail::Reader<T, PsVariant>(get);
    prop.SetVariant = rtti_detail::Writer<T, const PsVariant&>(set);
    return *this;
  }
  // A class-typed property: the getter gives a pointer of the class, the
  // setter takes one (the wrappers check the class before they call it).
  template <class Get, class Set = std::nullptr_t>
  TPsClassMetaBuilder& Object(std::string name, const TPsClassMeta& classType, Get get,
                              Set set = nullptr) {
    TPsPropMeta& prop = Add(std::move(name), classType.TypeInfo());
    prop.GetObj = [get](const vcl::TObject& object) -> vcl::TObject* {
      return std::invoke(get, static_cast<const T&>(object));
    };
    if constexpr (!std::is_null_pointer_v<Set>) {
      using Target = std::remove_pointer_t<typename rtti_detail::SetterValue<Set>::type>;
      prop.SetObj = [set](vcl::TObject& object, vcl::TObject* value) {
        auto* typed = dynamic_cast<Target*>(value);
        if constexpr (std::is_member_object_pointer_v<Set>)
          static_cast<T&>(object).*set = typed;
        else
          std::invoke(set, static_cast<T&>(object), typed);
      };
    }
    return *this;
  }
  // An event: published, of kind method, never listed nor stored.
  TPsClassMetaBuilder& Event(std::string name) {
    Add(std::move(name), TypeInfoNotifyEvent()).Stored = false;
    return *this;
  }
  // The property declared last is not written to component streams.
  TPsClassMetaBuilder& NotStored() {
    def_.properties.back().Stored = false;
    return *this;
  }

  TPsClassMeta Build() { return TPsClassMeta(std::move(def_)); }

 private:
  TPsPropMeta& Add(std::string name, const TPsTypeInfo& type) {
    TPsPropMeta& prop = def_.properties.emplace_back();
    prop.Name = std::move(name);
    prop.Type = &type;
    return prop;
  }
  template <class Get, class Set>
  TPsClassMetaBuilder& Ordinal(std::string name, const TPsTypeInfo& type, Get get, Set set) {
    TPsPropMeta& prop = Add(std::move(name), type);
    prop.GetOrd = rtti_detail::Reader<T, int64_t>(get);
    prop.SetOrd = rtti_detail::Writer<T, int64_t>(set);
    return *this;
  }

  TPsClassMeta::Definition def_;
};

// The meta of the class library's component: Name and Tag.
const TPsClassMeta& ComponentClassMeta();

// The class registry: by type and by name (without regard to case).
void RegisterClassMeta(const TPsClassMeta& meta);
// Inline: the Windows headers make RegisterClass a macro, and a body here
// keeps the units that see the macro linking.
inline void RegisterClass(const TPsClassMeta& meta) {
  RegisterClassMeta(meta);
}
// Forgets every registration (the toolkit's end).
void UnRegisterClasses();
// The registered class of that name, or null.
const TPsClassMeta* FindClass(std::string_view name);
// The registered meta of the object's own class, or null.
const TPsClassMeta* ClassMetaOf(const vcl::TObject& object);
// The same, or EAssertionFailed naming the class that needs its metadata.
const TPsClassMeta& RequireClassMetaOf(const vcl::TObject& object);

// ---- Property wrappers ----------------------------------------------------------

// A property of a class, not bound to an object.
class TPsRTTIPropInfo : public vcl::TObject {
 public:
  explicit TPsRTTIPropInfo(const TPsPropMeta& prop) : prop_(&prop) {}
  const std::string& Name() const { return prop_->Name; }
  TTypeKind TypeKind() const { return prop_->Kind(); }
  const TPsPropMeta& PropMeta() const { return *prop_; }
  const TPsTypeInfo& TypeData() const { return *prop_->Type; }
  bool ReadOnly() const { return prop_->ReadOnly(); }
  virtual void DebugDump() const;

 private:
  const TPsPropMeta* prop_;
};

// A property bound to the object whose property it is. Wrappers hold no
// value: every call reads or writes the object.
class TPsRTTIProp : public TPsRTTIPropInfo {
 public:
  TPsRTTIProp(vcl::TObject* instance, const TPsPropMeta& prop)
      : TPsRTTIPropInfo(prop), instance_(instance) {}
  vcl::TObject* Instance() const { return instance_; }

  void DebugDump() const override;
  virtual bool IsNull() const { return false; }
  // The property's value by the metadata's generic read.
  virtual PsVariant GetAsVariant() const;
  virtual std::string GetAsString() const = 0;
  // The write check; then a value (neither empty nor null) by the generic
  // write, anything else Clear.
  virtual void SetAsVariant(const PsVariant& value);
  virtual void SetAsString(const std::string& value) = 0;
  // An enumeration's value names in order; empty for the others.
  virtual void GetValues(vcl::TStringList& strings) const;
  virtual void Clear() {}
  // Of the same type and equal as variants; False for null.
  virtual bool Equals(const TPsRTTIProp* other) const;

 protected:
  // EPsRTTIReadOnlyError "%s is ReadOnly" for a property without a writer.
  void CheckWrite() const;
  vcl::TObject& Object() const { return *instance_; }

 private:
  vcl::TObject* instance_;
};

class TPsOrdRTTIProp : public TPsRTTIProp {
 public:
  TPsOrdRTTIProp(vcl::TObject* instance, const TPsPropMeta& prop);
  int32_t MinValue() const { return minValue_; }
  int32_t MaxValue() const { return maxValue_; }

  // The value in decimal; takes decimal or hexadecimal after "$".
  std::string GetAsString() const override;
  void SetAsString(const std::string& value) override;
  PsVariant GetAsVariant() const override;
  void SetAsVariant(const PsVariant& value) override;
  void Clear() override { SetOrdValue(0); }
  // The write check, then the range: EPsRTTIException "Property "%s": Value
  // %d out of range (%d..%d)" unless MinValue > MaxValue (unsigned).
  virtual void SetOrdValue(int32_t value);

 protected:
  int32_t OrdValue() const;
  int32_t minValue_;
  int32_t maxValue_;
};

class TPsIntegerRTTIProp : public TPsOrdRTTIProp {
 public:
  using TPsOrdRTTIProp::TPsOrdRTTIProp;
};

class TPsEnumRTTIProp : public TPsOrdRTTIProp {
 public:
  TPsEnumRTTIProp(vcl::TObject* instance, const TPsPropMeta& prop);
  const std::vector<std::string>& Names() const { return names_; }
  // The value's name; "Invalid <%d>" for a value that has none.
  std::string GetAsString() const override;
  // A value name (without regard to case), else a number.
  void SetAsString(const std::string& value) override;
  void GetValues(vcl::TStringList& strings) const override;

 private:
  std::vector<std::string> names_;
};

class TPsBooleanRTTIProp : public TPsEnumRTTIProp {
 public:
  using TPsEnumRTTIProp::TPsEnumRTTIProp;
  // A Boolean: True when the value is not MinValue.
  PsVariant GetAsVariant() const override;
  // Empty or null: Clear; a text: SetAsString; else by its truth.
  void SetAsVariant(const PsVariant& value) override;
};

class TPsCharRTTIProp : public TPsOrdRTTIProp {
 public:
  using TPsOrdRTTIProp::TPsOrdRTTIProp;
  // The one character; a control character and a wide character beyond
  // one byte give their code in decimal, at least two digits.
  std::string GetAsString() const override;
  // One character: its code; otherwise a number.
  void SetAsString(const std::string& value) override;
};

// A class-typed property. Its text is "$" and the object's identity, and
// it takes no object from a text or a variant: only empty texts, "(none)",
// empty and null variants, which clear it.
class TPsClassRTTIProp : public TPsOrdRTTIProp {
 public:
  TPsClassRTTIProp(vcl::TObject* instance, const TPsPropMeta& prop);
  vcl::TObject* GetObj() const;
  // The write check and the class check ("Object '%s' is not a '%s'"),
  // then the store; none is always of the class.
  void SetObj(vcl::TObject* object);

  std::string GetAsString() const override { return ObjectText(GetObj()); }
  void SetAsString(const std::string& value) override;
  // The object's identity as a 64-bit integer.
  PsVariant GetAsVariant() const override;
  void SetAsVariant(const PsVariant& value) override;
  void Clear() override { SetObj(nullptr); }
  // 0 clears; any other number is no object.
  void SetOrdValue(int32_t value) override;

 protected:
  virtual std::string ObjectText(const vcl::TObject* object) const;
  [[noreturn]] void CannotTake(const std::string& text) const;
};

// A component-typed property: its text is the component's path.
class TPsComponentRTTIProp : public TPsClassRTTIProp {
 public:
  using TPsClassRTTIProp::TPsClassRTTIProp;
  // Empty or "(none)" clears; otherwise the path through PsApplication,
  // then, for a wrapped component, a component of that name beside it;
  // EPsRTTIException "Component "%s" not found" when neither finds one.
  void SetAsString(const std::string& value) override;

 protected:
  std::string ObjectText(const vcl::TObject* object) const override;
};

class TPsFloatRTTIProp : public TPsRTTIProp {
 public:
  using TPsRTTIProp::TPsRTTIProp;
  // The general form with up to 15 significant digits, in the locale's format.
  std::string GetAsString() const override;
  void SetAsString(const std::string& value) override;
  void Clear() override;
};

class TPsDateTimeRTTIProp : public TPsFloatRTTIProp {
 public:
  using TPsFloatRTTIProp::TPsFloatRTTIProp;
  // The locale's date and time (no time at midnight).
  std::string GetAsString() const override;
  // A date and time in the locale's format, else a day count within the
  // years 1 to 9999.
  void SetAsString(const std::string& value) override;
  // A text goes to SetAsString.
  void SetAsVariant(const PsVariant& value) override;
};

class TPsStringRTTIProp : public TPsRTTIProp {
 public:
  using TPsRTTIProp::TPsRTTIProp;
  std::string GetAsString() const override;
  void SetAsString(const std::string& value) override;
  void Clear() override { SetAsString(""); }
};

class TPsVariantRTTIProp : public TPsRTTIProp {
 public:
  using TPsRTTIProp::TPsRTTIProp;
  // The variant's text; empty for empty and null.
  std::string GetAsString() const override;
  // The text as a string variant.
  void SetAsString(const std::string& value) override;
};

// The null wrapper: no property of no object.
class TPsNullRTTIProp : public TPsRTTIProp {
 public:
  TPsNullRTTIProp();
  bool IsNull() const override { return true; }
  std::string GetAsString() const override { return "NullRTTIProp"; }
  void SetAsString(const std::string&) override {}
  PsVariant GetAsVariant() const override { return PsVariant(); }
  void SetAsVariant(const PsVariant&) override {}
};

// ---- Property lists -------------------------------------------------------------

// The listed properties of a class, in declaration order, inherited first:
// one line per property, its name with its wrapper, which the list owns.
class TPsClassProperties : public vcl::TObject {
 public:
  // EAssertionFailed for a class without metadata (null).
  explicit TPsClassProperties(const TPsClassMeta* classMeta);
  TPsClassProperties(const TPsClassProperties&) = delete;
  TPsClassProperties& operator=(const TPsClassProperties&) = delete;

  const TPsClassMeta& ClassMeta() const { return *meta_; }
  int Count() const { return props_.Count(); }
  // EPsRTTIException "TPsClassProperties: Invalid property index %d (valid:
  // 0-%d" outside 0..Count-1.
  TPsRTTIPropInfo* Items(int index) const;
  // The index of the property of that name (without regard to case), or -1.
  int IndexOf(const std::string& name) const { return props_.IndexOf(name); }
  // The name.
  virtual std::string GetPropertyText(int index) const;
  // The names as one delimited line (double quotes, Delimiter).
  std::string GetHeader() const { return props_.GetDelimitedText(); }
  char Delimiter() const { return props_.Delimiter(); }
  void SetDelimiter(char delimiter) { props_.SetDelimiter(delimiter); }

 protected:
  struct Unlisted {};
  // For derived lists, whose own CreateProp lists the properties.
  TPsClassProperties(const TPsClassMeta* classMeta, Unlisted);
  void ListProperties();
  // A plain TPsRTTIPropInfo for the listed kinds, nothing for the others.
  virtual std::unique_ptr<TPsRTTIPropInfo> CreateProp(const TPsPropMeta& prop) const;

 private:
  const TPsClassMeta* meta_;
  TPsStringList props_;
};

// The listed properties of one object, each wrapper bound to it.
class TPsInstanceProperties : public TPsClassProperties {
 public:
  // EAssertionFailed for an object whose class has no registered metadata.
  explicit TPsInstanceProperties(vcl::TObject* instance);

  vcl::TObject* Instance() const { return instance_; }
  TPsRTTIProp* Props(int index) const { return static_cast<TPsRTTIProp*>(Items(index)); }
  // "%s=%s": the name and the value's text.
  std::string GetPropertyText(int index) const override;
  // Every value's text as one delimited line (double quotes, Delimiter; a
  // value with a line break is quoted as well).
  std::string GetValuesText() const;
  // Splits the line and sets property i to value i, in order; a missing
  // value raises the string list's index error, the ones before it set.
  void SetValuesText(const std::string& line);

 protected:
  // The wrapper of the property's kind, bound to the object.
  std::unique_ptr<TPsRTTIPropInfo> CreateProp(const TPsPropMeta& prop) const override;

 private:
  vcl::TObject* instance_;
};

// ---- CSV rows -------------------------------------------------------------------

// A delimiter of #0 keeps the locale's list separator.
std::string CSVHeader(const TPsClassMeta* itemClass, char delimiter);
// A field holding the delimiter, a double quote or a line break is quoted.
std::string ObjectToCSV(vcl::TObject* object, char delimiter);
void CSVToObject(const std::string& line, vcl::TObject* object, char delimiter);
// Replaces `rows` by the rows of a CSV text: CR LF, LF or CR end a row,
// except inside a quoted field, which keeps its line breaks.
void CSVRows(const std::string& text, char delimiter, vcl::TStringList& rows);

// ---- Application registry -------------------------------------------------------

// The object's identity: its address in hexadecimal, as many digits as an
// address has (16 on 64-bit systems).
std::string IdentityText(const void* object);
// The component's path: empty for none; its name when it has no owner or
// the application owns it; otherwise "Owner.Name" (one level of owner).
std::string ComponentPath(const vcl::TComponent* component);

// Names components by path and finds them again, from the application
// object, which owns the program's windows and data modules.
class TPsApplication : public vcl::TObject {
 public:
  // A component of the class owned by `owner`; a control is given the bounds.
  virtual vcl::TComponent* CreateComponent(const TPsClassMeta& componentClass,
                                           vcl::TComponent* owner, int left, int top, int width,
                                           int height) = 0;
  // The component that the path names, its names compared without regard to
  // case; null when a name at any level is missing.
  virtual vcl::TComponent* FindComponent(std::string_view componentPath, char separator) const = 0;
  // Every component of the class or a descendant, depth first from the
  // application object: its path with the component as the line's object.
  virtual void FindComponents(const TPsClassMeta& componentClass,
                              vcl::TStringList& strings) const = 0;
  // "(none)" for none, else the component's path.
  virtual std::string GetComponentName(const vcl::TComponent* component) const;
};

class TPsRunTimeApplication : public TPsApplication {
 public:
  vcl::TComponent* CreateComponent(const TPsClassMeta& componentClass, vcl::TComponent* owner,
                                   int left, int top, int width, int height) override;
  vcl::TComponent* FindComponent(std::string_view componentPath, char separator) const override;
  void FindComponents(const TPsClassMeta& componentClass, vcl::TStringList& strings) const override;
};

// The process-wide registry and null wrapper; null before the toolkit's
// start and after its end.
TPsApplication* PsApplication();
TPsRTTIProp* NullRTTIProp();
// The toolkit's start makes both, its end frees them.
void CreateRTTIObjects();
void FreeRTTIObjects();

}  // namespace toolkit
