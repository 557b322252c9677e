// Unit PsVars, the variable's properties: creation, numbering, the property
// table's rules, typed reads and their conversions, typed writes.
#include <cmath>
#include <cstdint>

#include "toolkit/Debugs.h"
#include "toolkit/PsVars.h"
#include "toolkit/psRTTI.h"

namespace toolkit {
namespace {

int32_t lastID = 0;

// The conversions of single values read an array by its first element.
PsVariant FirstElement(const PsVariant& value) {
  if (!value.IsArray())
    return value;
  return value.ElementCount() > 0 ? value.ElementAt(0) : PsVariant();
}

[[noreturn]] void Overflow(const PsVariant& value, uint16_t target) {
  throw vcl::EVariantOverflowError(
      vcl::Format("Overflow while converting variant of type (%s) into type (%s)",
                  VarTypeToText(value.VarType()), VarTypeToText(target)));
}

// A number rounded half away from zero that must lie within [min, max).
int64_t RoundedInRange(const PsVariant& value, double min, double beyond, uint16_t target) {
  const double rounded = std::round(value.AsDouble());
  if (!(rounded >= min && rounded < beyond))  // NaN fails too
    Overflow(value, target);
  return static_cast<int64_t>(rounded);
}

bool IsIntegerDataType(TPsVarDataType type) {
  return type == vdtSmallint || type == vdtInteger || type == vdtShortint || type == vdtByte ||
         type == vdtWord;
}

bool IsFloatDataType(TPsVarDataType type) {
  return type == vdtSingle || type == vdtDouble || type == vdtCurrency;
}

// The result of a conversion in the data type's own variant type; arrays,
// empty results and the types without one of their own stay as they are.
PsVariant CastToDataType(const PsVariant& value, TPsVarDataType type) {
  if (value.IsArray() || value.IsEmpty() || type == vdtDefault || type == vdtVariant ||
      type == vdtUnsupported)
    return value;
  return value.CastTo(PsVarDataTypeToVarType(type, false));
}

// The element type of an array of the data type.
uint16_t ArrayElementType(TPsVarDataType type) {
  if (type == vdtDefault || type == vdtUnsupported)
    type = vdtVariant;
  return PsVarDataTypeToVarType(type, false);
}

std::vector<PsVarArrayBound> BoundsOf(const PsVariant& array) {
  std::vector<PsVarArrayBound> bounds;
  for (int dim = 1; dim <= array.DimCount(); ++dim)
    bounds.push_back({array.LowBound(dim), array.HighBound(dim)});
  return bounds;
}

}  // namespace

// ---- Creation and numbering --------------------------------------------------------

TPsVar::TPsVar(vcl::TComponent* owner, std::string className)
    : vcl::TComponent(owner, std::move(className)) {
  signal_ = std::make_unique<TPsVarChangeSignal>(this);
  InitID();
  caption_ = Name();
  ResetValidity();
  // A variable list that follows the owner can take it in now.
  AnnounceInsertion();
}

TPsVar::~TPsVar() {
  signal_.reset();
}

void TPsVar::BeforeDestruction() {
  // Slots hear of the end while the variable is whole.
  signal_.reset();
  vcl::TComponent::BeforeDestruction();
}

int32_t TPsVar::LastID() {
  return lastID;
}

void TPsVar::InitID() {
  if (Owner() && Owner()->Loading())
    return;
  id_ = ++lastID;
}

void TPsVar::SetID(int32_t value) {
  if (value == id_)
    return;
  id_ = value;
  if (value > lastID)
    lastID = value;
  ConfigChanged();
}

void TPsVar::Notification(vcl::TComponent* component, vcl::TOperation operation) {
  if (operation == vcl::TOperation::opInsert && component != this) {
    auto* other = dynamic_cast<TPsVar*>(component);
    if (other && other->ID() == id_)
      other->InitID();
  }
  vcl::TComponent::Notification(component, operation);
}

void TPsVar::SetName(const std::string& name) {
  const bool captionFollows = caption_ == Name();
  vcl::TComponent::SetName(name);
  if (captionFollows)
    SetCaption(name);
}

void TPsVar::Loaded() {
  vcl::TComponent::Loaded();
  ResetValidity();
  ConfigChanged();
  Changed();
  RangeChanged();
}

void TPsVar::Assign(const vcl::TPersistent* source) {
  if (const auto* other = dynamic_cast<const TPsVar*>(source)) {
    CopyProps(TPsVarPropTypes::All(), other);
    return;
  }
  vcl::TComponent::Assign(source);
}

void TPsVar::DebugDump(std::string_view name) const {
  DebugObject(name, this);
}

const TPsClassMeta& TPsVar::ClassMeta() {
  static const TPsClassMeta meta =
      TPsClassMetaBuilder<TPsVar>("TPsVar", &ComponentClassMeta())
          .Boolean("Active", &TPsVar::Active, &TPsVar::SetActive)
          .String("AlarmHelp", &TPsVar::AlarmHelp, &TPsVar::SetAlarmHelp)
          .Enumeration("AlarmMode", VarAlarmModeTypeInfo(), &TPsVar::AlarmMode,
                       &TPsVar::SetAlarmMode)
          .String("AlarmText", &TPsVar::AlarmText, &TPsVar::SetAlarmText)
          .String("Caption", &TPsVar::Caption, &TPsVar::SetCaption)
          .String("Description", &TPsVar::Description, &TPsVar::SetDescription)
          .Integer("ID", &TPsVar::ID, &TPsVar::SetID)
          .Boolean("ReadOnly", &TPsVar::ReadOnly, &TPsVar::SetReadOnly)
          .Event("OnChange")
          .Event("OnChanging")
          .Event("OnValueChange")
          .Build();
  return meta;
}

// ---- The property table -----------------------------------------------------------

bool TPsVar::IsPropSupported(TPsVarPropType prop) const {
  return prop == vpValue || prop == vpCaption || prop == vpAlarmState || prop == vpDescription ||
         prop == vpAlarmText || prop == vpAlarmHelp;
}

bool TPsVar::IsPropReadOnly(TPsVarPropType prop) const {
  switch (prop) {
    case vpValue:
    case vpDiff:
      return readOnly_;
    case vpCaption:
    case vpDescription:
    case vpAlarmText:
    case vpAlarmHelp:
      return false;
    case vpEngUnit:
    case vpAlarmLow:
    case vpAlarmHigh:
    case vpWarnLow:
    case vpWarnHigh:
    case vpSetpoint:
      return !IsPropSupported(prop);
    default:  // the alarm state, the statistics, the others
      return true;
  }
}

TPsVarDataType TPsVar::GetPropDataType(TPsVarPropType prop) const {
  switch (prop) {
    case vpCaption:
    case vpEngUnit:
    case vpDescription:
    case vpAlarmText:
    case vpAlarmHelp:
      return vdtOleStr;
    default:
      return vdtDefault;
  }
}

bool TPsVar::GetPropIsArray(TPsVarPropType /*prop*/) const {
  return false;
}

TPsVarQuality TPsVar::PropEmptyTextQuality(TPsVarPropType prop) const {
  switch (prop) {
    case vpValue:
      return emptyTextQuality_;
    case vpDescription:
    case vpAlarmText:
    case vpAlarmHelp:
      return vpqGood;
    default:
      return vpqBad;
  }
}

PsVariant TPsVar::GetPropValueGood(TPsVarPropType prop) const {
  switch (prop) {
    case vpCaption:
      return caption_;
    case vpDescription:
      return description_;
    case vpAlarmText:
      return alarmText_;
    case vpAlarmHelp:
      return alarmHelp_;
    case vpAlarmState:
      return static_cast<int32_t>(alarmState_);
    default:
      return PsVariant::Null();
  }
}

PsVariant TPsVar::GetPropValue(TPsVarPropType prop) const {
  return quality_[prop] != vpqBad ? GetPropValueGood(prop) : PsVariant();
}

TPsVarSnapshot TPsVar::GetPropSnapshot(TPsVarPropType prop) const {
  const auto lock = LockProps();
  TPsVarSnapshot snapshot;
  snapshot.Quality = quality_[prop];
  snapshot.Timestamp = timestamp_[prop];
  if (snapshot.Quality != vpqBad)
    snapshot.Value = GetPropValueGood(prop);
  return snapshot;
}

// ---- Typed reads ----------------------------------------------------------------

bool TPsVar::GetPropAsBool(TPsVarPropType prop) const {
  if (quality_[prop] == vpqBad)
    throw EPsException("Bad Quality");
  return GetPropAsBoolGood(prop);
}

vcl::TDateTime TPsVar::GetPropAsDateTime(TPsVarPropType prop) const {
  return quality_[prop] == vpqBad ? PsBadDate : GetPropAsDateTimeGood(prop);
}

double TPsVar::GetPropAsFloat(TPsVarPropType prop) const {
  return quality_[prop] == vpqBad ? PsBadDouble : GetPropAsFloatGood(prop);
}

int64_t TPsVar::GetPropAsInt64(TPsVarPropType prop) const {
  return quality_[prop] == vpqBad ? PsBadInteger : GetPropAsInt64Good(prop);
}

uint32_t TPsVar::GetPropAsLongWord(TPsVarPropType prop) const {
  return quality_[prop] == vpqBad ? PsBadInteger : GetPropAsLongWordGood(prop);
}

int32_t TPsVar::GetPropAsInteger(TPsVarPropType prop) const {
  return quality_[prop] == vpqBad ? PsBadInteger : GetPropAsIntegerGood(prop);
}

std::string TPsVar::GetPropAsString(TPsVarPropType prop) const {
  return quality_[prop] == vpqBad ? std::string(PsBadString) : GetPropAsStringGood(prop);
}

bool TPsVar::GetPropAsBoolGood(TPsVarPropType prop) const {
  return GetVarPropValueAsBool(prop, GetPropValue(prop));
}
vcl::TDateTime TPsVar::GetPropAsDateTimeGood(TPsVarPropType prop) const {
  return GetVarPropValueAsDateTime(prop, GetPropValue(prop));
}
double TPsVar::GetPropAsFloatGood(TPsVarPropType prop) const {
  return GetVarPropValueAsFloat(prop, GetPropValue(prop));
}
int64_t TPsVar::GetPropAsInt64Good(TPsVarPropType prop) const {
  return GetVarPropValueAsInt64(prop, GetPropValue(prop));
}
uint32_t TPsVar::GetPropAsLongWordGood(TPsVarPropType prop) const {
  return GetVarPropValueAsLongWord(prop, GetPropValue(prop));
}
int32_t TPsVar::GetPropAsIntegerGood(TPsVarPropType prop) const {
  return GetVarPropValueAsInteger(prop, GetPropValue(prop));
}
std::string TPsVar::GetPropAsStringGood(TPsVarPropType prop) const {
  return GetVarPropValueAsString(prop, GetPropValue(prop));
}

PsVariant TPsVar::GetPropAsDataTypeGood(TPsVarPropType prop, TPsVarDataType dataType) const {
  return ValueAsDataType(prop, quality_[prop], GetPropValue(prop), dataType);
}

PsVariant TPsVar::ValueAsDataType(TPsVarPropType prop, TPsVarQuality quality,
                                  const PsVariant& value, TPsVarDataType dataType) const {
  // Each typed read gives its marker for a bad property.
  const bool bad = quality == vpqBad;
  PsVariant result;
  if (dataType == vdtDefault || dataType == vdtVariant) {
    result = value;
  } else if (dataType == vdtNull) {
    result = PsVariant::Null();
  } else if (IsIntegerDataType(dataType)) {
    result = bad ? PsBadInteger : GetVarPropValueAsInteger(prop, value);
  } else if (IsFloatDataType(dataType)) {
    result = bad ? PsBadDouble : GetVarPropValueAsFloat(prop, value);
  } else if (dataType == vdtDate) {
    result = PsVariant::Date(bad ? PsBadDate : GetVarPropValueAsDateTime(prop, value));
  } else if (dataType == vdtOleStr) {
    result = bad ? std::string(PsBadString) : GetVarPropValueAsString(prop, value);
  } else if (dataType == vdtBoolean) {
    if (bad)
      throw EPsException("Bad Quality");
    result = GetVarPropValueAsBool(prop, value);
  } else if (dataType == vdtLongWord) {
    result = bad ? static_cast<uint32_t>(PsBadInteger) : GetVarPropValueAsLongWord(prop, value);
  } else if (dataType == vdtInt64) {
    result = bad ? int64_t{PsBadInteger} : GetVarPropValueAsInt64(prop, value);
  } else {
    return GetVarPropValueAsDataTypeGood(prop, value, dataType);
  }
  return CastToDataType(result, dataType);
}

PsVariant TPsVar::GetPropAsDataType(TPsVarPropType prop, TPsVarDataType dataType) const {
  if (dataType == vdtDefault)
    dataType = GetPropDataType(prop);
  if (quality_[prop] == vpqBad)
    return PsBadValueAsDataType(dataType);
  return Validated(prop, GetPropAsDataTypeGood(prop, dataType));
}

PsVariant TPsVar::ConvertPropValue(TPsVarPropType prop, TPsVarQuality quality,
                                   const PsVariant& value, TPsVarDataType dataType) const {
  if (dataType == vdtDefault)
    dataType = GetPropDataType(prop);
  if (quality == vpqBad)
    return PsBadValueAsDataType(dataType);
  return Validated(prop, ValueAsDataType(prop, quality, value, dataType));
}

PsVariant TPsVar::Validated(TPsVarPropType prop, PsVariant value) const {
  if (IsValidValue(value, PropEmptyTextQuality(prop)) == vpqBad)
    throw EPsVarException("Value cannot be converted to a valid value");
  return value;
}

PsVariant TPsVar::GetPropAsArray(TPsVarPropType prop, TPsVarDataType dataType) const {
  return ConvertPropArray(prop, quality_[prop], GetPropValue(prop), dataType);
}

PsVariant TPsVar::ConvertPropArray(TPsVarPropType prop, TPsVarQuality quality,
                                   const PsVariant& value, TPsVarDataType dataType) const {
  if (dataType == vdtDefault)
    dataType = GetPropDataType(prop);
  if (quality == vpqBad)
    return PsVariant::Array({{0, -1}}, ArrayElementType(dataType));
  return GetVarPropValueAsArray(prop, value, dataType);
}

PsVariant TPsVar::PsBadValueAsDataType(TPsVarDataType dataType) {
  PsVariant result;
  switch (dataType) {
    case vdtNull:
      return PsVariant::Null();
    case vdtInteger:
    case vdtLongWord:
    case vdtInt64:
      result = PsBadInteger;
      break;
    case vdtSingle:
      return PsVariant::Single(PsBadSingle);
    case vdtDouble:
    case vdtCurrency:
      result = PsBadDouble;
      break;
    case vdtDate:
      return PsVariant::Date(PsBadDate);
    case vdtOleStr:
      result = std::string(PsBadString);
      break;
    case vdtBoolean:
      return false;
    case vdtSmallint:  // the marker does not fit: 0 as for the other short types
    case vdtShortint:
    case vdtByte:
    case vdtWord:
      result = 0;
      break;
    default:
      return PsVariant();
  }
  return CastToDataType(result, dataType);
}

// ---- Conversions ----------------------------------------------------------------

bool TPsVar::GetVarPropValueAsBool(TPsVarPropType /*prop*/, const PsVariant& value) const {
  const PsVariant v = FirstElement(value);
  switch (VariantClass(v)) {
    case vcNull:
      throw EPsException("Bad Quality");
    case vcBoolean:
      return v.AsBool();
    case vcInteger:
    case vcFloat:
    case vcDate:
    case vcBigInt:
      return v.AsDouble() != 0;
    case vcString:
      return StrToBool(v.AsText());
    default:
      throw EPsException("Cannot convert Value to Boolean");
  }
}

uint32_t TPsVar::GetVarPropValueAsLongWord(TPsVarPropType /*prop*/, const PsVariant& value) const {
  const PsVariant v = FirstElement(value);
  const auto fromInteger = [&v](int64_t number) {
    if (number < 0)
      throw EPsVarException(vcl::Format("Cannot convert value %d to LongWord", number));
    if (number > UINT32_MAX)
      Overflow(v, varLongWord);
    return static_cast<uint32_t>(number);
  };
  switch (VariantClass(v)) {
    case vcBoolean:
      return v.AsBool() ? 1 : 0;
    case vcInteger:
    case vcBigInt:
      return v.VarType() == varLongWord ? v.AsUInt32() : fromInteger(v.AsInt64());
    case vcFloat:
    case vcDate: {
      const double number = v.AsDouble();
      if (number < 0)
        throw EPsVarException(vcl::Format("Cannot convert value %g to LongWord", number));
      const double rounded = std::trunc(number + 0.5);
      if (!(rounded <= UINT32_MAX))  // NaN fails too
        Overflow(v, varLongWord);
      return static_cast<uint32_t>(rounded);
    }
    case vcString:
      return fromInteger(StrToInt64(v.AsText()));
    default:
      return v.AsUInt32();
  }
}

int32_t TPsVar::GetVarPropValueAsInteger(TPsVarPropType /*prop*/, const PsVariant& value) const {
  const PsVariant v = FirstElement(value);
  switch (VariantClass(v)) {
    case vcBoolean:
      return v.AsBool() ? 1 : 0;
    case vcFloat:
    case vcDate:
      return static_cast<int32_t>(RoundedInRange(v, INT32_MIN, 2147483648.0, varInteger));
    case vcString:
      return StrToInt(v.AsText());
    default:
      return v.AsInt32();
  }
}

int64_t TPsVar::GetVarPropValueAsInt64(TPsVarPropType /*prop*/, const PsVariant& value) const {
  const PsVariant v = FirstElement(value);
  switch (VariantClass(v)) {
    case vcBoolean:
      return v.AsBool() ? 1 : 0;
    case vcFloat:
    case vcDate:
      return RoundedInRange(v, -9223372036854775808.0, 9223372036854775808.0, varInt64);
    case vcString:
      return StrToInt64(v.AsText());
    default:
      return v.AsInt64();
  }
}

double TPsVar::GetVarPropValueAsFloat(TPsVarPropType /*prop*/, const PsVariant& value) const {
  const PsVariant v = FirstElement(value);
  if (VariantClass(v) == vcBoolean)
    return v.AsBool() ? 1 : 0;
  return v.AsDouble();
}

vcl::TDateTime TPsVar::GetVarPropValueAsDateTime(TPsVarPropType prop,
                                                 const PsVariant& value) const {
  const PsVariant v = FirstElement(value);
  if (VariantClass(v) == vcString)
    return vcl::StrToDateTime(v.AsText());
  return GetVarPropValueAsFloat(prop, v);
}

std::string TPsVar::GetVarPropValueAsString(TPsVarPropType prop, const PsVariant& value) const {
  const TPsVarQuality emptyQuality = PropEmptyTextQuality(prop);
  if (value.IsArray()) {
    if (value.DimCount() == 1) {
      TPsStringList list;
      for (int64_t i = 0, n = value.ElementCount(); i < n; ++i)
        list.Add(VarToText(value.ElementAt(i), emptyQuality));
      return list.GetDelimitedText();
    }
    if (value.DimCount() == 2) {
      TPsStringTable table;
      for (int32_t row = value.LowBound(1); row <= value.HighBound(1); ++row) {
        for (int32_t col = value.LowBound(2); col <= value.HighBound(2); ++col) {
          table.SetCells(col - value.LowBound(2), row - value.LowBound(1),
                         VarToText(value.GetElement({row, col}), emptyQuality));
        }
      }
      return table.GetText();
    }
    return vcl::Format("%d-dim array of Variant", value.DimCount());
  }
  if (prop == vpAlarmState) {
    switch (VariantClass(value)) {
      case vcInteger:
      case vcBigInt:
      case vcFloat: {
        const int64_t state = GetVarPropValueAsInt64(prop, value);
        return state >= asNormal && state <= asUnknown
                   ? PsVarAlarmStateName(static_cast<TPsVarAlarmState>(state))
                   : vcl::IntToStr(state);
      }
      case vcString: {
        const std::string text = value.AsText();
        for (int state = asNormal; state <= asUnknown; ++state) {
          if (text == PsVarAlarmStateName(static_cast<TPsVarAlarmState>(state)))
            return text;
        }
        throw EPsRangeError("No match");
      }
      default:
        break;
    }
  }
  return VarToText(value, emptyQuality);
}

PsVariant TPsVar::GetVarPropValueAsArray(TPsVarPropType prop, const PsVariant& value,
                                         TPsVarDataType dataType) const {
  if (dataType == vdtDefault)
    dataType = GetPropDataType(prop);
  const uint16_t elementType = ArrayElementType(dataType);
  if (value.IsArray()) {
    if ((value.VarType() & varTypeMask) == elementType)
      return value;
    PsVariant result = PsVariant::Array(BoundsOf(value), elementType);
    for (int64_t i = 0, n = value.ElementCount(); i < n; ++i)
      result.PutElementAt(i, GetVarPropValueAsDataType(prop, value.ElementAt(i), dataType));
    return result;
  }
  if (VariantClass(value) == vcString) {
    TPsStringList items;
    items.SetDelimitedText(value.AsText());
    PsVariant result = PsVariant::Array({{0, items.Count() - 1}}, elementType);
    for (int i = 0; i < items.Count(); ++i)
      result.PutElementAt(i, GetVarPropValueAsDataType(prop, items.Strings(i), dataType));
    return result;
  }
  PsVariant result = PsVariant::Array({{0, 0}}, elementType);
  result.PutElementAt(0, GetVarPropValueAsDataType(prop, value, dataType));
  return result;
}

PsVariant TPsVar::GetVarPropValueAsDataTypeGood(TPsVarPropType prop, const PsVariant& value,
                                                TPsVarDataType dataType) const {
  PsVariant result;
  if (dataType == vdtBoolean)
    result = GetVarPropValueAsBool(prop, value);
  else if (dataType == vdtOleStr)
    result = GetVarPropValueAsString(prop, value);
  else if (dataType == vdtLongWord)
    result = GetVarPropValueAsLongWord(prop, value);
  else if (IsIntegerDataType(dataType))
    result = GetVarPropValueAsInteger(prop, value);
  else if (dataType == vdtInt64)
    result = GetVarPropValueAsInt64(prop, value);
  else if (IsFloatDataType(dataType))
    result = GetVarPropValueAsFloat(prop, value);
  else if (dataType == vdtDate)
    result = PsVariant::Date(GetVarPropValueAsDateTime(prop, value));
  else
    result = value;
  return CastToDataType(result, dataType);
}

PsVariant TPsVar::GetVarPropValueAsDataType(TPsVarPropType prop, const PsVariant& value,
                                            TPsVarDataType dataType) const {
  if (value.VarType() == PsVarDataTypeToVarType(dataType, false))
    return value;
  if (IsValidValue(value, PropEmptyTextQuality(prop)) != vpqBad)
    return GetVarPropValueAsDataTypeGood(prop, value, dataType);
  return PsBadValueAsDataType(dataType);
}

std::string TPsVar::VarToText(const PsVariant& value, TPsVarQuality emptyQuality) const {
  if (IsValidValue(value, emptyQuality) == vpqBad)
    return std::string(PsBadString);
  if (value.VarType() == varDate)
    return DateTimeToStr(value.AsDouble());
  if (value.VarType() == varBoolean)
    return BoolToStr(value.AsBool());
  return VariantToText(value, false);
}

// ---- Texts of values ------------------------------------------------------------

std::string TPsVar::BoolToStr(bool value) const {
  return PsBooleanName(value);
}

std::string TPsVar::DateTimeToStr(vcl::TDateTime value) const {
  return vcl::DateTimeToStr(value);
}

bool TPsVar::StrToBool(const std::string& text) const {
  if (vcl::SameText(text, "True"))
    return true;
  if (vcl::SameText(text, "False"))
    return false;
  double number = 0;
  if (vcl::TryStrToFloat(text, number))
    return number != 0;
  throw vcl::EConvertError(vcl::Format("'%s' is not a valid boolean value", text));
}

int32_t TPsVar::StrToInt(const std::string& text) const {
  return vcl::StrToInt(text);
}

int64_t TPsVar::StrToInt64(const std::string& text) const {
  return vcl::StrToInt64(text);
}

// ---- Typed writes ---------------------------------------------------------------

void TPsVar::SetPropAsBool(TPsVarPropType prop, bool value) {
  SetPropAsBoolGood(prop, value);
}

void TPsVar::SetPropAsDateTime(TPsVarPropType prop, vcl::TDateTime value) {
  SetValidOrUndefine(prop, IsValidDouble(value), [&] { SetPropAsDateTimeGood(prop, value); });
}

void TPsVar::SetPropAsFloat(TPsVarPropType prop, double value) {
  SetValidOrUndefine(prop, IsValidDouble(value), [&] { SetPropAsFloatGood(prop, value); });
}

void TPsVar::SetPropAsInt64(TPsVarPropType prop, int64_t value) {
  SetValidOrUndefine(prop, IsValidInteger(value), [&] { SetPropAsInt64Good(prop, value); });
}

void TPsVar::SetPropAsLongWord(TPsVarPropType prop, uint32_t value) {
  SetValidOrUndefine(prop, IsValidInteger(value), [&] { SetPropAsLongWordGood(prop, value); });
}

void TPsVar::SetPropAsInteger(TPsVarPropType prop, int32_t value) {
  SetValidOrUndefine(prop, IsValidInteger(value), [&] { SetPropAsIntegerGood(prop, value); });
}

void TPsVar::SetPropAsString(TPsVarPropType prop, const std::string& value) {
  SetValidOrUndefine(prop, StringQuality(value, PropEmptyTextQuality(prop)) != vpqBad,
                     [&] { SetPropAsStringGood(prop, value); });
}

void TPsVar::SetPropAsBoolGood(TPsVarPropType prop, bool value) {
  SetPropValueGood(prop, value);
}

void TPsVar::SetPropAsDateTimeGood(TPsVarPropType prop, vcl::TDateTime value) {
  if (GetPropDataType(prop) == vdtOleStr)
    SetPropAsStringGood(prop, DateTimeToStr(value));
  else
    SetPropAsFloatGood(prop, value);
}

void TPsVar::SetPropAsFloatGood(TPsVarPropType prop, double value) {
  SetPropValueGood(prop, value);
}

void TPsVar::SetPropAsInt64Good(TPsVarPropType prop, int64_t value) {
  SetValidOrUndefine(prop, IsValidInteger(value), [&] { SetPropValueGood(prop, value); });
}

void TPsVar::SetPropAsLongWordGood(TPsVarPropType prop, uint32_t value) {
  SetValidOrUndefine(prop, IsValidInteger(value), [&] { SetPropValueGood(prop, value); });
}

void TPsVar::SetPropAsIntegerGood(TPsVarPropType prop, int32_t value) {
  SetPropValueGood(prop, value);
}

void TPsVar::SetPropAsStringGood(TPsVarPropType prop, const std::string& value) {
  SetPropValueGood(prop, value);
}

void TPsVar::SetPropValue(TPsVarPropType prop, const PsVariant& value) {
  SetValidOrUndefine(prop, IsValidValue(value, PropEmptyTextQuality(prop)) != vpqBad,
                     [&] { SetPropValueGood(prop, value); });
}

void TPsVar::SetPropValueGood(TPsVarPropType prop, const PsVariant& value) {
  switch (prop) {
    case vpCaption:
      SetCaption(value.AsText());
      return;
    case vpDescription:
      SetDescription(value.AsText());
      return;
    case vpAlarmText:
      SetAlarmText(value.AsText());
      return;
    case vpAlarmHelp:
      SetAlarmHelp(value.AsText());
      return;
    default:
      throw EPsReadOnly(PsVarPropTypeName(prop) + " cannot be changed for " + ClassName());
  }
}

void TPsVar::SetPropAsDataType(TPsVarPropType prop, const PsVariant& value,
                               TPsVarDataType dataType) {
  if (IsValidValue(value, PropEmptyTextQuality(prop)) == vpqBad) {
    SetPropQuality(prop, vpqBad);
    return;
  }
  const TPsVarDataType propType = GetPropDataType(prop);
  if (propType == vdtOleStr) {
    SetPropAsString(prop, GetVarPropValueAsString(prop, value));
  } else if (propType == vdtBoolean || dataType == vdtBoolean) {
    SetPropAsBool(prop, GetVarPropValueAsBool(prop, value));
  } else if (IsIntegerDataType(dataType)) {
    SetPropAsInteger(prop, GetVarPropValueAsInteger(prop, value));
  } else if (IsFloatDataType(dataType)) {
    SetPropAsFloat(prop, GetVarPropValueAsFloat(prop, value));
  } else if (dataType == vdtDate) {
    SetPropAsDateTime(prop, GetVarPropValueAsDateTime(prop, value));
  } else if (dataType == vdtOleStr) {
    SetPropAsString(prop, GetVarPropValueAsString(prop, value));
  } else if (dataType == vdtLongWord) {
    SetPropAsLongWord(prop, GetVarPropValueAsLongWord(prop, value));
  } else if (dataType == vdtInt64) {
    SetPropAsInt64(prop, GetVarPropValueAsInt64(prop, value));
  } else {
    SetPropValue(prop, value);
  }
}

void TPsVar::SetPropAsArray(TPsVarPropType prop, const PsVariant& value, TPsVarDataType dataType) {
  if (!value.IsArray()) {
    SetPropAsDataType(prop, value, dataType);
  } else if (GetPropIsArray(prop)) {
    SetPropValue(prop, value);
  } else if (GetPropDataType(prop) == vdtOleStr) {
    SetPropAsStringGood(prop, VariantToText(value, false));
  } else {
    SetPropAsDataType(prop, FirstElement(value), dataType);
  }
}

}  // namespace toolkit
