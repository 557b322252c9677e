// Unit PsVars: validity tests, the text tables, the published enumerations,
// the change signal and slot, and the registration of the variable classes.
#include "toolkit/PsVars.h"

#include <array>
#include <cmath>

#include "toolkit/Debugs.h"
#include "toolkit/PsStrings.h"
#include "toolkit/PsVarsDateTime.h"
#include "toolkit/PsVarsState.h"
#include "toolkit/psRTTI.h"

namespace toolkit {
namespace {

// The toolkit's texts as tables (filled at start, emptied at the end).
struct VarTexts {
  std::array<std::string, PsVarPropTypeCount> propNames;
  std::array<std::string, 3> qualityNames;
  std::array<std::string, 2> statsModeNames;
  std::array<std::string, 4> alarmStateNames;
  std::array<std::string, 2> booleanNames;
};

VarTexts& Texts() {
  static VarTexts texts;
  return texts;
}

const std::string& Entry(const auto& table, int index) {
  static const std::string none;
  return index >= 0 && index < static_cast<int>(table.size()) ? table[static_cast<size_t>(index)]
                                                              : none;
}

}  // namespace

// ---- Validity ---------------------------------------------------------------

bool IsValidInteger(int64_t value) {
  return value != PsBadInteger;
}

bool IsValidDouble(double value) {
  return std::isfinite(value) && value != PsBadDouble;
}

bool IsValidSingle(float value) {
  return std::isfinite(value) && value != PsBadSingle;
}

bool IsValidDate(vcl::TDateTime value) {
  // NaN fails every comparison, so the test is written to pass only valid days.
  return value >= -657434.0 && value <= 2958465.99999 && !(value < 0 && value > -1);
}

TPsVarQuality StringQuality(std::string_view text, TPsVarQuality emptyQuality) {
  if (text.empty())
    return emptyQuality;
  return text == PsBadString ? vpqBad : vpqGood;
}

TPsVarQuality IsValidValue(const PsVariant& value, TPsVarQuality emptyQuality) {
  if (value.IsArray())
    return value.ElementCount() > 0 ? vpqGood : vpqBad;
  const auto good = [](bool valid) { return valid ? vpqGood : vpqBad; };
  switch (VariantClass(value)) {
    case vcNull:
      return vpqBad;
    case vcInteger:
    case vcBigInt:
      return good(IsValidInteger(value.AsInt64()));
    case vcFloat:
      if (value.VarType() == varSingle)
        return good(IsValidSingle(static_cast<float>(value.AsDouble())));
      return good(IsValidDouble(value.AsDouble()));
    case vcDate:
      return good(IsValidDate(value.AsDouble()));
    case vcString:
      return StringQuality(value.AsText(), emptyQuality);
    default:
      return vpqGood;
  }
}

// ---- Texts ----------------------------------------------------------------

const std::string& PsVarPropTypeName(TPsVarPropType prop) {
  return Entry(Texts().propNames, prop);
}
const std::string& PsVarQualityName(TPsVarQuality quality) {
  return Entry(Texts().qualityNames, quality);
}
const std::string& PsVarAlarmStateName(TPsVarAlarmState state) {
  return Entry(Texts().alarmStateNames, state);
}
const std::string& PsVarStatsModeName(TPsVarStatsMode mode) {
  return Entry(Texts().statsModeNames, mode);
}
const std::string& PsBooleanName(bool value) {
  return Texts().booleanNames[value ? 1 : 0];
}

void FillVarTexts() {
  static constexpr int kPropNames[PsVarPropTypeCount] = {
      sPsVarPropValue,     sPsVarPropCaption,   sPsVarPropEngUnit,     sPsVarPropAlarmState,
      sPsVarPropAlarmLow,  sPsVarPropAlarmHigh, sPsVarPropWarnLow,     sPsVarPropWarnHigh,
      sPsVarPropSetpoint,  sPsVarPropDiff,      sPsVarPropMean,        sPsVarPropStdDev,
      sPsVarPropMin,       sPsVarPropMax,       sPsVarPropDescription, sPsVarPropAlarmText,
      sPsVarPropAlarmHelp, sPsVarPropOther,     sPsVarPropOther};
  VarTexts& texts = Texts();
  for (int prop = 0; prop < PsVarPropTypeCount; ++prop)
    texts.propNames[static_cast<size_t>(prop)] = PsString(kPropNames[prop]);
  texts.qualityNames = {std::string(PsString(sPsVarQualityBad)),
                        std::string(PsString(sPsVarQualityUncertain)),
                        std::string(PsString(sPsVarQualityGood))};
  texts.statsModeNames = {"None", "Full"};
  texts.alarmStateNames = {
      std::string(PsString(sPsAlarmStateNormal)), std::string(PsString(sPsAlarmStateWarning)),
      std::string(PsString(sPsAlarmStateAlarm)), std::string(PsString(sPsAlarmStateUnknown))};
  texts.booleanNames = {std::string(PsString(sPsFalse)), std::string(PsString(sPsTrue))};
}

void FreeVarTexts() {
  Texts() = VarTexts();
}

const TPsTypeInfo& VarPropTypeInfo() {
  static const TPsTypeInfo type = EnumerationType(
      "TPsVarPropType",
      {"vpValue", "vpCaption", "vpEngUnit", "vpAlarmState", "vpAlarmLow", "vpAlarmHigh",
       "vpWarnLow", "vpWarnHigh", "vpSetpoint", "vpDiff", "vpMean", "vpStdDev", "vpMin", "vpMax",
       "vpDescription", "vpAlarmText", "vpAlarmHelp", "vpOther", "vpOther2"});
  return type;
}

const TPsTypeInfo& VarAlarmModeTypeInfo() {
  static const TPsTypeInfo type =
      EnumerationType("TPsVarAlarmMode", {"amOff", "amAlarms", "amAlarmsAndWarnings"});
  return type;
}

const TPsTypeInfo& VarAlarmStateTypeInfo() {
  static const TPsTypeInfo type =
      EnumerationType("TPsVarAlarmState", {"asNormal", "asWarning", "asAlarm", "asUnknown"});
  return type;
}

const TPsTypeInfo& VarRangeModeTypeInfo() {
  static const TPsTypeInfo type =
      EnumerationType("TPsVarRangeMode", {"rmNone", "rmException", "rmUndefine"});
  return type;
}

void RegisterVarClasses() {
  RegisterClass(TPsBool::ClassMeta());
  RegisterClass(TPsDateTime::ClassMeta());
  RegisterClass(TPsFloat::ClassMeta());
  RegisterClass(TPsInteger::ClassMeta());
  RegisterClass(TPsString::ClassMeta());
  RegisterStateClasses();
  RegisterClass(TPsVarLink::ClassMeta());
}

void DebugVar(std::string_view name, const TPsVar* variable) {
  if (variable)
    variable->DebugDump(name);
  else
    DebugValueStr(name, "");
}

// ---- Change slot --------------------------------------------------------------

void TPsVarChangeSlot::VarChanging(TPsVar* sender, TPsVarPropType prop, PsVariant& value,
                                   TPsVarQuality& quality, TPsVarChangingResponse& response) {
  if (OnVarChanging)
    OnVarChanging(sender, prop, value, quality, response);
}

void TPsVarChangeSlot::VarChange(TPsVar* sender, TPsVarPropTypes props) {
  if (Active() && OnVarChange)
    OnVarChange(sender, props);
}

void TPsVarChangeSlot::VarConfigChange(TPsVar* sender) {
  if (Active() && OnVarConfigChange)
    OnVarConfigChange(sender);
}

void TPsVarChangeSlot::VarRangeChange(TPsVar* sender) {
  if (Active() && OnVarRangeChange)
    OnVarRangeChange(sender);
}

// ---- Change signal --------------------------------------------------------------

namespace {

TPsVar* RequireVariableOwner(vcl::TObject* owner) {
  auto* variable = dynamic_cast<TPsVar*>(owner);
  if (!variable)
    throw EPsException("TPsVarChangeSignal.Create: Only PsVars are accepted as owners.");
  return variable;
}

}  // namespace

TPsVarChangeSignal::TPsVarChangeSignal(vcl::TObject* owner)
    : TPsSignal(owner), variable_(RequireVariableOwner(owner)) {}

void TPsVarChangeSignal::EmitChange(TPsVarPropTypes props) {
  if (!Active())
    return;
  ForEachSlot([&](TPsSlot* slot) {
    auto* varSlot = dynamic_cast<TPsVarChangeSlot*>(slot);
    if (!varSlot)
      slot->DoSignal(variable_);
    else if (!varSlot->Intercepting)
      varSlot->VarChange(variable_, props);
  });
}

void TPsVarChangeSignal::EmitChanging(TPsVarPropType prop, PsVariant& value,
                                      TPsVarChangingResponse& response, TPsVarQuality& quality) {
  if (!Active())
    return;
  ForEachSlot([&](TPsSlot* slot) {
    auto* varSlot = dynamic_cast<TPsVarChangeSlot*>(slot);
    if (varSlot && varSlot->Intercepting)
      varSlot->VarChanging(variable_, prop, value, quality, response);
  });
  PsVariant valueCopy = value;
  TPsVarQuality qualityCopy = quality;
  TPsVarChangingResponse responseCopy = response;
  ForEachSlot([&](TPsSlot* slot) {
    auto* varSlot = dynamic_cast<TPsVarChangeSlot*>(slot);
    if (varSlot && !varSlot->Intercepting)
      varSlot->VarChanging(variable_, prop, valueCopy, qualityCopy, responseCopy);
  });
}

void TPsVarChangeSignal::EmitConfigChange() {
  ForEachSlot([&](TPsSlot* slot) {
    if (auto* varSlot = dynamic_cast<TPsVarChangeSlot*>(slot))
      varSlot->VarConfigChange(variable_);
  });
}

void TPsVarChangeSignal::EmitRangeChange() {
  ForEachSlot([&](TPsSlot* slot) {
    if (auto* varSlot = dynamic_cast<TPsVarChangeSlot*>(slot))
      varSlot->VarRangeChange(variable_);
  });
}

}  // namespace toolkit
