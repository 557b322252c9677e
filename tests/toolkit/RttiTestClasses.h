// Published test classes for property access, persistent items and keyed
// lists (shared by the tests and the fuzz targets).
#pragma once

#include <cstdint>
#include <string>

#include "toolkit/PsClasses.h"
#include "toolkit/PsVariant.h"
#include "toolkit/psRTTI.h"
#include "vcl/Classes.h"

namespace rtti_test {

using toolkit::TPsClassMeta;
using toolkit::TPsClassMetaBuilder;
using toolkit::TPsPersistent;
using toolkit::TPsTypeInfo;

// Stands in for the property kinds of a process variable: 19 values.
enum TVarProp {
  vpValue,
  vpCaption,
  vpEngUnit,
  vpAlarmState,
  vpAlarmLow,
  vpAlarmHigh,
  vpWarnLow,
  vpWarnHigh,
  vpSetpoint,
  vpDiff,
  vpMean,
  vpStdDev,
  vpMin,
  vpMax,
  vpDescription,
  vpAlarmText,
  vpAlarmHelp,
  vpOther,
  vpOther2
};

inline const TPsTypeInfo& VarPropType() {
  static const TPsTypeInfo type = toolkit::EnumerationType(
      "TVarProp", {"vpValue", "vpCaption", "vpEngUnit", "vpAlarmState", "vpAlarmLow", "vpAlarmHigh",
                   "vpWarnLow", "vpWarnHigh", "vpSetpoint", "vpDiff", "vpMean", "vpStdDev", "vpMin",
                   "vpMax", "vpDescription", "vpAlarmText", "vpAlarmHelp", "vpOther", "vpOther2"});
  return type;
}

inline const TPsTypeInfo& ColoursType() {
  static const TPsTypeInfo colour = toolkit::EnumerationType("TColour", {"Red", "Green", "Blue"});
  static const TPsTypeInfo type = toolkit::SetType("TColours", colour);
  return type;
}

// A component class that stands in for a process variable, and a kind of it.
class TTestVar : public vcl::TComponent {
 public:
  explicit TTestVar(vcl::TComponent* owner, std::string className = "TTestVar")
      : vcl::TComponent(owner, std::move(className)) {}
  static const TPsClassMeta& ClassMeta() {
    static const TPsClassMeta meta =
        TPsClassMetaBuilder<TTestVar>("TTestVar", &toolkit::ComponentClassMeta()).Build();
    return meta;
  }
};

class TTestVarKind : public TTestVar {
 public:
  explicit TTestVarKind(vcl::TComponent* owner) : TTestVar(owner, "TTestVarKind") {}
};

// An object that is no component.
class TDataObject : public vcl::TPersistent {
 public:
  std::string ClassName() const override { return "TDataObject"; }
  static const TPsClassMeta& ClassMeta() {
    static const TPsClassMeta meta =
        TPsClassMetaBuilder<TDataObject>("TDataObject", nullptr).Build();
    return meta;
  }
};

// One published property of every listed kind, a read-only one, and the
// kinds that are never listed: a set, an event and a 64-bit integer.
class TKindsItem : public TPsPersistent {
 public:
  std::string ClassName() const override { return "TKindsItem"; }
  static const TPsClassMeta& ClassMeta() {
    using T = TKindsItem;
    static const TPsClassMeta meta =
        TPsClassMetaBuilder<T>("TKindsItem", &TPsPersistent::ClassMeta())
            .Integer("Number", &T::Number, &T::Number)
            .Char("Letter", &T::Letter, &T::Letter)
            .Enumeration("VarProp", VarPropType(), &T::VarProp, &T::VarProp)
            .Float("Ratio", &T::Ratio, &T::Ratio)
            .Object("Data", TDataObject::ClassMeta(), &T::Data, &T::Data)
            .WideChar("Wide", &T::Wide, &T::Wide)
            .String("Text", &T::Text, &T::Text)
            .String("Note", &T::Note, &T::Note, toolkit::TypeInfoWideString())
            .Variant("Extra", &T::Extra, &T::Extra)
            .Boolean("Enabled", &T::Enabled, &T::Enabled)
            .DateTime("Stamp", &T::Stamp, &T::Stamp)
            .Object("Variable", TTestVar::ClassMeta(), &T::Variable, &T::SetVariable)
            .Object("Partner", TTestVar::ClassMeta(), &T::Partner, &T::Partner)
            .Integer("Size", &T::Size)
            .Enumeration("Colours", ColoursType(), &T::Colours, &T::Colours)
            .Event("OnChange")
            .Int64("Big", &T::Big, &T::Big)
            .Build();
    return meta;
  }

  int32_t Number = 0;
  char Letter = 'a';
  int32_t VarProp = vpValue;  // an int: tests store values outside the names
  double Ratio = 0;
  TDataObject* Data = nullptr;
  uint16_t Wide = 0;
  std::string Text;
  std::string Note;
  toolkit::PsVariant Extra;
  bool Enabled = false;
  double Stamp = 0;
  TTestVar* Variable() const { return variable_; }
  void SetVariable(TTestVar* variable) { variable_ = variable; }
  TTestVar* Partner = nullptr;
  int32_t Size() const { return 42; }
  uint32_t Colours = 0;
  int64_t Big = 0;

 private:
  TTestVar* variable_ = nullptr;
};

// Every listed kind that takes its text back: what a CSV row can carry.
class TRowItem : public TPsPersistent {
 public:
  std::string ClassName() const override { return "TRowItem"; }
  static const TPsClassMeta& ClassMeta() {
    using T = TRowItem;
    static const TPsClassMeta meta =
        TPsClassMetaBuilder<T>("TRowItem", &TPsPersistent::ClassMeta())
            .Integer("Number", &T::Number, &T::Number)
            .Char("Letter", &T::Letter, &T::Letter)
            .Enumeration("VarProp", VarPropType(), &T::VarProp, &T::VarProp)
            .Float("Ratio", &T::Ratio, &T::Ratio)
            .WideChar("Wide", &T::Wide, &T::Wide)
            .String("Text", &T::Text, &T::Text)
            .Variant("Extra", &T::Extra, &T::Extra)
            .Boolean("Enabled", &T::Enabled, &T::Enabled)
            .DateTime("Stamp", &T::Stamp, &T::Stamp)
            .Object("Variable", TTestVar::ClassMeta(), &T::Variable, &T::Variable)
            .Build();
    return meta;
  }

  int32_t Number = 0;
  char Letter = 'a';
  TVarProp VarProp = vpValue;
  double Ratio = 0;
  uint16_t Wide = 0;
  std::string Text;
  toolkit::PsVariant Extra;
  bool Enabled = false;
  double Stamp = 0;
  TTestVar* Variable = nullptr;
};

// The variable link's published shape: a component and an enumeration.
class TPairItem : public TPsPersistent {
 public:
  std::string ClassName() const override { return "TPairItem"; }
  static const TPsClassMeta& ClassMeta() {
    using T = TPairItem;
    static const TPsClassMeta meta =
        TPsClassMetaBuilder<T>("TPairItem", &TPsPersistent::ClassMeta())
            .Object("Variable", TTestVar::ClassMeta(), &T::Variable, &T::Variable)
            .Enumeration("VarProp", VarPropType(), &T::VarProp, &T::VarProp)
            .Build();
    return meta;
  }
  void Assign(const vcl::TPersistent* source) override {
    if (const auto* pair = dynamic_cast<const TPairItem*>(source)) {
      Variable = pair->Variable;
      VarProp = pair->VarProp;
    } else {
      TPsPersistent::Assign(source);
    }
  }

  TTestVar* Variable = nullptr;
  TVarProp VarProp = vpValue;
};

// Component properties with a write operation and without, and a plain
// object one without.
class TFixedParts : public TPsPersistent {
 public:
  std::string ClassName() const override { return "TFixedParts"; }
  static const TPsClassMeta& ClassMeta() {
    using T = TFixedParts;
    static const TPsClassMeta meta =
        TPsClassMetaBuilder<T>("TFixedParts", &TPsPersistent::ClassMeta())
            .Object("Variable", TTestVar::ClassMeta(), &T::Variable, &T::Variable)
            .Object("Fixed", TTestVar::ClassMeta(), &T::Fixed)
            .Object("Data", TDataObject::ClassMeta(), &T::Data)
            .Build();
    return meta;
  }
  TTestVar* Variable = nullptr;
  TTestVar* Fixed = nullptr;
  TDataObject* Data = nullptr;
};

// An item keyed by its name: a text and a number.
class TNamedItem : public TPsPersistent {
 public:
  std::string ClassName() const override { return "TNamedItem"; }
  static const TPsClassMeta& ClassMeta() {
    using T = TNamedItem;
    static const TPsClassMeta meta =
        TPsClassMetaBuilder<T>("TNamedItem", &TPsPersistent::ClassMeta())
            .String("Name", &T::Name, &T::SetName)
            .Integer("Value", &T::Value, &T::Value)
            .Build();
    return meta;
  }
  const std::string& Name() const { return name_; }
  // The name before the last change: the key the item's list knows.
  const std::string& PreviousName() const { return previousName_; }
  void SetName(const std::string& name) {
    previousName_ = name_;
    name_ = name;
    ConfigChanged();
  }
  int32_t Value = 0;

 private:
  std::string name_;
  std::string previousName_;
};

// Named items under their names, kept right when a name changes.
class TNamedList : public toolkit::TPsPersistentList {
 public:
  explicit TNamedList(bool sorted = false)
      : TPsPersistentList(nullptr, &TNamedItem::ClassMeta(), true) {
    SetSorted(sorted);
  }
  std::string GetItemKey(const TPsPersistent* item) const override {
    return static_cast<const TNamedItem*>(item)->Name();
  }
  void ItemConfig(TPsPersistent* item) override {
    UpdateKeyValue(item, static_cast<TNamedItem*>(item)->PreviousName());
    TPsPersistentList::ItemConfig(item);
  }
  TNamedItem* Named(int index) const { return static_cast<TNamedItem*>(Items(index)); }
};

// The classes above, registered (the toolkit's start registers its own).
inline void RegisterTestClasses() {
  toolkit::RegisterClass(TTestVar::ClassMeta());
  toolkit::RegisterClass(TDataObject::ClassMeta());
  toolkit::RegisterClass(TKindsItem::ClassMeta());
  toolkit::RegisterClass(TPairItem::ClassMeta());
  toolkit::RegisterClass(TFixedParts::ClassMeta());
  toolkit::RegisterClass(TRowItem::ClassMeta());
  toolkit::RegisterClass(TNamedItem::ClassMeta());
}

}  // namespace rtti_test
