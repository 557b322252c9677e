// Unit PsVars: process variables. A TPsVar holds a value and eighteen further
// property kinds (caption, unit, alarm state, limits, statistics, texts), each
// with a quality and a UTC timestamp. Every change is vetted (read-only rule,
// OnChanging, the change slots, the range check), applied with its quality
// and timestamp, and announced (alarm state, the change signal, OnChange).
// The kinds (PsVarsBasic.h and later units) hold the value itself.
//
// Threads: everything runs on the main thread, except reads of a snapshot
// (GetPropSnapshot, TPsVarLink::GetSnapshot) from other threads. A leaf lock
// guards the stored values, qualities and timestamps; it is held only while
// they are copied or written, never while a handler runs.
#pragma once

#include <algorithm>
#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "toolkit/Debugs.h"
#include "toolkit/PsClasses.h"
#include "toolkit/PsSignals.h"
#include "toolkit/PsUtils.h"
#include "toolkit/PsVariant.h"
#include "vcl/Classes.h"
#include "vcl/SysUtils.h"

namespace toolkit {

class TPsClassMeta;
struct TPsTypeInfo;
class TPsVar;

// ---- Errors ---------------------------------------------------------------

// The root of the variable errors.
VCL_DECLARE_EXCEPTION(EPsVarException, EPsException);
VCL_DECLARE_EXCEPTION(EPsStatsError, EPsVarException);
// A value outside a variable's range, or a text that is no value of it.
VCL_DECLARE_EXCEPTION(EPsRangeError, EPsVarException);
// A write to a read-only property.
VCL_DECLARE_EXCEPTION(EPsReadOnly, EPsVarException);
// A change refused while it was vetted.
VCL_DECLARE_EXCEPTION(EPsVarChangeReject, EPsVarException);
VCL_DECLARE_EXCEPTION(EPsVarListError, EPsException);

// ---- Types ----------------------------------------------------------------

enum TPsVarPropType {
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
inline constexpr int PsVarPropTypeCount = 19;

// A set of property kinds in 32 bits.
class TPsVarPropTypes {
 public:
  constexpr TPsVarPropTypes() = default;
  constexpr TPsVarPropTypes(std::initializer_list<TPsVarPropType> props) {
    for (TPsVarPropType prop : props)
      bits_ |= Bit(prop);
  }
  static constexpr TPsVarPropTypes FromBits(uint32_t bits) {
    TPsVarPropTypes set;
    set.bits_ = bits;
    return set;
  }
  // The nineteen kinds.
  static constexpr TPsVarPropTypes All() { return FromBits((1u << PsVarPropTypeCount) - 1); }

  constexpr uint32_t Bits() const { return bits_; }
  constexpr bool Empty() const { return bits_ == 0; }
  constexpr bool Contains(TPsVarPropType prop) const { return (bits_ & Bit(prop)) != 0; }
  constexpr bool Intersects(TPsVarPropTypes other) const { return (bits_ & other.bits_) != 0; }
  constexpr void Include(TPsVarPropType prop) { bits_ |= Bit(prop); }
  constexpr void Exclude(TPsVarPropType prop) { bits_ &= ~Bit(prop); }
  constexpr TPsVarPropTypes operator+(TPsVarPropTypes other) const {
    return FromBits(bits_ | other.bits_);
  }
  constexpr TPsVarPropTypes operator-(TPsVarPropTypes other) const {
    return FromBits(bits_ & ~other.bits_);
  }
  constexpr bool operator==(const TPsVarPropTypes&) const = default;

  // `visit` with each kind of the set, in ordinal order.
  template <class Visit>
  void ForEach(Visit&& visit) const {
    for (int prop = 0; prop < PsVarPropTypeCount; ++prop) {
      if (Contains(static_cast<TPsVarPropType>(prop)))
        visit(static_cast<TPsVarPropType>(prop));
    }
  }

 private:
  static constexpr uint32_t Bit(TPsVarPropType prop) { return 1u << static_cast<unsigned>(prop); }
  uint32_t bits_ = 0;
};

enum TPsVarQuality { vpqBad, vpqUncertain, vpqGood };
enum TPsVarAlarmMode { amOff, amAlarms, amAlarmsAndWarnings };
enum TPsVarAlarmState { asNormal, asWarning, asAlarm, asUnknown };
enum TPsVarRangeMode { rmNone, rmException, rmUndefine };
enum TPsVarStatsMode { smNone, smSimple };
enum TPsVarChangingResponse { crAccept, crReject, crRequested };

// The values that stand for no valid value of a type: they fail the
// validity tests, and typed reads of a bad property give them.
inline constexpr int32_t PsBadInteger = 195935983;  // 0BADBEEF
inline constexpr double PsBadDouble = -1234567.09;
inline constexpr float PsBadSingle = -1234567.125f;
inline constexpr vcl::TDateTime PsBadDate = -0.5;
inline constexpr std::string_view PsBadString = "#BAD";

// The validity tests of single values.
bool IsValidInteger(int64_t value);
bool IsValidDouble(double value);
bool IsValidSingle(float value);
// Valid: -657434.0 to 2958465.99999, but not strictly between -1 and 0.
bool IsValidDate(vcl::TDateTime value);
// "#BAD" is bad, the empty text `emptyQuality`, any other text good.
TPsVarQuality StringQuality(std::string_view text, TPsVarQuality emptyQuality);
// A whole value: an array with at least one element is good; null and empty
// are bad; numbers, dates and texts by their tests; anything else good.
TPsVarQuality IsValidValue(const PsVariant& value, TPsVarQuality emptyQuality);

// ---- Texts ----------------------------------------------------------------

// The toolkit's tables, filled from its texts by the toolkit's start and
// emptied by its end; empty before, and for a value outside the type.
const std::string& PsVarPropTypeName(TPsVarPropType prop);       // "Value", ...
const std::string& PsVarQualityName(TPsVarQuality quality);      // "Bad", ...
const std::string& PsVarAlarmStateName(TPsVarAlarmState state);  // "OK", ...
const std::string& PsVarStatsModeName(TPsVarStatsMode mode);     // "None", "Full"
const std::string& PsBooleanName(bool value);                    // "False", "True"
void FillVarTexts();
void FreeVarTexts();

// The enumerations as published property types.
const TPsTypeInfo& VarPropTypeInfo();
const TPsTypeInfo& VarAlarmModeTypeInfo();
const TPsTypeInfo& VarAlarmStateTypeInfo();
const TPsTypeInfo& VarRangeModeTypeInfo();

// Registers the variable classes and the link (the toolkit's start).
void RegisterVarClasses();

// Traces a variable reference: its DebugDump under `name`, or an empty value.
void DebugVar(std::string_view name, const TPsVar* variable);

// ---- Change signal and slot -------------------------------------------------

// The slot's receivers (the sender is the variable).
using TPsVarSlotChangeEvent = std::function<void(TPsVar* sender, TPsVarPropTypes props)>;
using TPsVarSlotChangingEvent =
    std::function<void(TPsVar* sender, TPsVarPropType prop, PsVariant& value,
                       TPsVarQuality& quality, TPsVarChangingResponse& response)>;
using TPsVarSlotEvent = std::function<void(TPsVar* sender)>;

// A slot that hears a variable's changes. An intercepting slot is asked first
// while a change is vetted and may alter it; it is not told of applied changes.
class TPsVarChangeSlot : public TPsSlot {
 public:
  bool Intercepting = false;
  TPsVarSlotChangingEvent OnVarChanging;
  TPsVarSlotEvent OnVarConfigChange;
  TPsVarSlotEvent OnVarRangeChange;
  TPsVarSlotChangeEvent OnVarChange;

  // Asked whether the slot is active or not.
  void VarChanging(TPsVar* sender, TPsVarPropType prop, PsVariant& value, TPsVarQuality& quality,
                   TPsVarChangingResponse& response);
  // These only while the slot is active.
  void VarChange(TPsVar* sender, TPsVarPropTypes props);
  void VarConfigChange(TPsVar* sender);
  void VarRangeChange(TPsVar* sender);
};

// A variable's signal; its Active flag is the variable's.
class TPsVarChangeSignal : public TPsSignal {
 public:
  // EPsException "TPsVarChangeSignal.Create: Only PsVars are accepted as
  // owners." for an owner that is no variable (or none).
  explicit TPsVarChangeSignal(vcl::TObject* owner);
  TPsVar* Variable() const { return variable_; }

  // While active: plain slots get DoSignal, change slots that do not
  // intercept VarChange.
  void EmitChange(TPsVarPropTypes props);
  // While active: intercepting slots with the live value, quality and
  // response, in connection order; then the others with copies.
  void EmitChanging(TPsVarPropType prop, PsVariant& value, TPsVarChangingResponse& response,
                    TPsVarQuality& quality);
  // To every change slot.
  void EmitConfigChange();
  void EmitRangeChange();

 private:
  TPsVar* variable_;
};

// ---- Variable ---------------------------------------------------------------

using TPsVarChangeEvent = std::function<void(vcl::TObject* sender, TPsVarPropTypes props)>;
using TPsVarChangingEvent =
    std::function<void(vcl::TObject* sender, TPsVarPropType prop, PsVariant& value,
                       TPsVarQuality& quality, TPsVarChangingResponse& response)>;
using TPsGetAlarmStateEvent = std::function<void(vcl::TObject* sender, TPsVarAlarmState& state)>;
using TPsVarRangeErrorEvent =
    std::function<void(vcl::TObject* sender, TPsVarPropType prop, const PsVariant& value,
                       std::string& errorMsg, bool& raiseError)>;

// One property's value, quality and timestamp, read together.
struct TPsVarSnapshot {
  PsVariant Value;
  TPsVarQuality Quality = vpqBad;
  vcl::TDateTime Timestamp = 0;
};

// Copies of a variable's stored fields, put back on demand: what a change
// has stored before its last vetting rejects it is undone with it.
class TPsVarFieldKeeper {
 public:
  // Room for the fields of every kind at once.
  explicit TPsVarFieldKeeper(std::recursive_mutex& leafLock) : leafLock_(leafLock) {
    fields_.reserve(24);
  }
  // `field` goes back to its present value, under the leaf lock.
  template <class T>
  void Keep(T& field) {
    fields_.push_back([&field, copy = field]() mutable { field = std::move(copy); });
  }
  template <class T, size_t N>
  void Keep(T (&field)[N]) {
    std::array<T, N> copy;
    std::copy(std::begin(field), std::end(field), copy.begin());
    fields_.push_back([&field, copy] { std::copy(copy.begin(), copy.end(), field); });
  }
  // Runs after the fields are back, outside the lock: for what calls out.
  void Then(std::function<void()> undo) { afterwards_.push_back(std::move(undo)); }
  // Everything back, the last kept first.
  void Restore();

 private:
  std::recursive_mutex& leafLock_;
  std::vector<std::function<void()>> fields_;
  std::vector<std::function<void()>> afterwards_;
};

class TPsVar : public vcl::TComponent {
 public:
  ~TPsVar() override;
  static const TPsClassMeta& ClassMeta();
  // The last number given to a variable, for the whole program.
  static int32_t LastID();

  // ---- Configuration
  bool Active() const;
  // Sets the signal's flag (slots hear of it) and ConfigChanged.
  void SetActive(bool value);
  TPsVarAlarmMode AlarmMode() const { return alarmMode_; }
  // The four limits count as changed; ConfigChanged, Changed.
  void SetAlarmMode(TPsVarAlarmMode value);
  const std::string& DisplayFormat() const { return displayFormat_; }
  void SetDisplayFormat(const std::string& value);
  int32_t ID() const { return id_; }
  // A larger number than any given so far raises the count; ConfigChanged.
  void SetID(int32_t value);
  // A new number, unless the owner is being loaded.
  void InitID();
  // Any thread: OPC items read it for their access rights.
  bool ReadOnly() const { return readOnly_; }
  void SetReadOnly(bool value);
  TPsVarRangeMode RangeMode() const { return rangeMode_; }
  void SetRangeMode(TPsVarRangeMode value);
  TPsVarQuality EmptyTextQuality() const { return emptyTextQuality_; }
  TPsVarChangeSignal* ChangeSignal() const { return signal_.get(); }

  // ---- Text properties: vetted, stamped now, announced
  const std::string& Caption() const { return caption_; }
  virtual void SetCaption(const std::string& value);
  const std::string& Description() const { return description_; }
  void SetDescription(const std::string& value);
  const std::string& AlarmText() const { return alarmText_; }
  void SetAlarmText(const std::string& value);
  const std::string& AlarmHelp() const { return alarmHelp_; }
  void SetAlarmHelp(const std::string& value);

  // ---- Events
  TPsVarChangeEvent OnChange;
  TPsVarChangingEvent OnChanging;
  TPsGetAlarmStateEvent OnGetAlarmState;
  vcl::TNotifyEvent OnRangeChange;
  TPsVarRangeErrorEvent OnRangeError;
  vcl::TNotifyEvent OnValueChange;

  // ---- Properties by kind
  PsVariant GetValue() const { return GetPropValue(vpValue); }
  TPsVarQuality Quality() const { return PropQuality(vpValue); }
  vcl::TDateTime TimeStamp() const { return GetPropTimeStamp(vpValue); }
  TPsVarQuality PropQuality(TPsVarPropType prop) const { return quality_[prop]; }
  vcl::TDateTime GetPropTimeStamp(TPsVarPropType prop) const { return timestamp_[prop]; }
  // The timestamp is not 0.
  bool PropHasValue(TPsVarPropType prop) const { return timestamp_[prop] != 0; }
  // Empty for a bad property.
  PsVariant GetPropValue(TPsVarPropType prop) const;
  // Value, quality and timestamp under the leaf lock: safe on any thread
  // while the main thread writes.
  TPsVarSnapshot GetPropSnapshot(TPsVarPropType prop) const;
  bool PropIsArray(TPsVarPropType prop) const { return GetPropIsArray(prop); }
  bool IsPropReadOnly(TPsVarPropType prop) const;
  virtual bool IsPropSupported(TPsVarPropType prop) const;
  virtual TPsVarDataType GetPropDataType(TPsVarPropType prop) const;
  virtual bool GetPropIsArray(TPsVarPropType prop) const;
  // The quality an empty text gets when it is tested for the property.
  TPsVarQuality PropEmptyTextQuality(TPsVarPropType prop) const;
  // The property's value whatever its quality. Called under the leaf lock:
  // an override reads fields and calls nothing that locks or calls out.
  virtual PsVariant GetPropValueGood(TPsVarPropType prop) const;

  // ---- Typed reads: the Good forms convert the property's value; the plain
  // forms give the type's marker for a bad property (Boolean: EPsException
  // "Bad Quality").
  bool GetPropAsBool(TPsVarPropType prop) const;
  vcl::TDateTime GetPropAsDateTime(TPsVarPropType prop) const;
  double GetPropAsFloat(TPsVarPropType prop) const;
  int64_t GetPropAsInt64(TPsVarPropType prop) const;
  uint32_t GetPropAsLongWord(TPsVarPropType prop) const;
  int32_t GetPropAsInteger(TPsVarPropType prop) const;
  std::string GetPropAsString(TPsVarPropType prop) const;
  // vdtDefault: the property's own type. A bad property gives
  // PsBadValueAsDataType; a result that fails the validity test raises
  // EPsVarException "Value cannot be converted to a valid value".
  PsVariant GetPropAsDataType(TPsVarPropType prop, TPsVarDataType dataType) const;
  // The property's value as an array of the type; an empty one when bad.
  PsVariant GetPropAsArray(TPsVarPropType prop, TPsVarDataType dataType) const;
  virtual bool GetPropAsBoolGood(TPsVarPropType prop) const;
  virtual vcl::TDateTime GetPropAsDateTimeGood(TPsVarPropType prop) const;
  virtual double GetPropAsFloatGood(TPsVarPropType prop) const;
  virtual int64_t GetPropAsInt64Good(TPsVarPropType prop) const;
  virtual uint32_t GetPropAsLongWordGood(TPsVarPropType prop) const;
  virtual int32_t GetPropAsIntegerGood(TPsVarPropType prop) const;
  virtual std::string GetPropAsStringGood(TPsVarPropType prop) const;
  virtual PsVariant GetPropAsDataTypeGood(TPsVarPropType prop, TPsVarDataType dataType) const;

  // ---- Conversions of a value for a property (an array by its first
  // element, but for texts and arrays). Numbers that do not fit raise
  // EVariantOverflowError.
  virtual bool GetVarPropValueAsBool(TPsVarPropType prop, const PsVariant& value) const;
  virtual vcl::TDateTime GetVarPropValueAsDateTime(TPsVarPropType prop,
                                                   const PsVariant& value) const;
  virtual double GetVarPropValueAsFloat(TPsVarPropType prop, const PsVariant& value) const;
  // Halves away from zero.
  virtual int64_t GetVarPropValueAsInt64(TPsVarPropType prop, const PsVariant& value) const;
  // Halves up; a negative number raises EPsVarException "Cannot convert
  // value %d to LongWord" (or %g).
  virtual uint32_t GetVarPropValueAsLongWord(TPsVarPropType prop, const PsVariant& value) const;
  virtual int32_t GetVarPropValueAsInteger(TPsVarPropType prop, const PsVariant& value) const;
  // Arrays: one dimension delimited, two as a table, more "%d-dim array of
  // Variant"; vpAlarmState: a state's name ("No match" for a text that is none).
  virtual std::string GetVarPropValueAsString(TPsVarPropType prop, const PsVariant& value) const;
  virtual PsVariant GetVarPropValueAsArray(TPsVarPropType prop, const PsVariant& value,
                                           TPsVarDataType dataType) const;
  virtual PsVariant GetVarPropValueAsDataTypeGood(TPsVarPropType prop, const PsVariant& value,
                                                  TPsVarDataType dataType) const;
  // Unchanged when of the type, converted when valid, else the bad value.
  PsVariant GetVarPropValueAsDataType(TPsVarPropType prop, const PsVariant& value,
                                      TPsVarDataType dataType) const;
  // The conversion of one value that was read with `quality`: what
  // GetPropAsDataType gives for a property in that state. For snapshots.
  PsVariant ConvertPropValue(TPsVarPropType prop, TPsVarQuality quality, const PsVariant& value,
                             TPsVarDataType dataType) const;
  PsVariant ConvertPropArray(TPsVarPropType prop, TPsVarQuality quality, const PsVariant& value,
                             TPsVarDataType dataType) const;
  // The bad value of a type: the markers, False, 0, "#BAD", Null or empty.
  static PsVariant PsBadValueAsDataType(TPsVarDataType dataType);
  // "#BAD" for an invalid value; dates and Booleans by this variable's texts.
  std::string VarToText(const PsVariant& value, TPsVarQuality emptyQuality) const;

  // ---- Typed writes: an invalid value undefines the property.
  void SetPropAsBool(TPsVarPropType prop, bool value);
  void SetPropAsDateTime(TPsVarPropType prop, vcl::TDateTime value);
  void SetPropAsFloat(TPsVarPropType prop, double value);
  void SetPropAsInt64(TPsVarPropType prop, int64_t value);
  void SetPropAsLongWord(TPsVarPropType prop, uint32_t value);
  void SetPropAsInteger(TPsVarPropType prop, int32_t value);
  void SetPropAsString(TPsVarPropType prop, const std::string& value);
  virtual void SetPropAsBoolGood(TPsVarPropType prop, bool value);
  virtual void SetPropAsDateTimeGood(TPsVarPropType prop, vcl::TDateTime value);
  virtual void SetPropAsFloatGood(TPsVarPropType prop, double value);
  virtual void SetPropAsInt64Good(TPsVarPropType prop, int64_t value);
  virtual void SetPropAsLongWordGood(TPsVarPropType prop, uint32_t value);
  virtual void SetPropAsIntegerGood(TPsVarPropType prop, int32_t value);
  virtual void SetPropAsStringGood(TPsVarPropType prop, const std::string& value);
  // A valid value through SetPropValueGood, else Undefine.
  void SetPropValue(TPsVarPropType prop, const PsVariant& value);
  // Kinds take their own properties and pass the rest on; here the texts,
  // and EPsReadOnly "<name> cannot be changed for <class>" for the others.
  virtual void SetPropValueGood(TPsVarPropType prop, const PsVariant& value);
  virtual void SetPropAsDataType(TPsVarPropType prop, const PsVariant& value,
                                 TPsVarDataType dataType);
  virtual void SetPropAsArray(TPsVarPropType prop, const PsVariant& value, TPsVarDataType dataType);
  // Re-stamps the current value with `quality`, vetted.
  void SetPropQuality(TPsVarPropType prop, TPsVarQuality quality);
  // The general write with an explicit quality and timestamp (not above 0:
  // ignored). Storing errors make the property bad, they do not raise.
  void SetPropValueAt(TPsVarPropType prop, const PsVariant& value, TPsVarQuality quality,
                      vcl::TDateTime timestamp, bool doChangingEvents = true,
                      TPsVarDataType dataType = vdtDefault, bool asArray = false);
  // Bad with `timestamp` (0: now).
  void Undefine(TPsVarPropType prop, vcl::TDateTime timestamp);

  // ---- Texts of values
  virtual std::string BoolToStr(bool value) const;
  virtual std::string DateTimeToStr(vcl::TDateTime value) const;
  virtual bool StrToBool(const std::string& text) const;
  virtual int32_t StrToInt(const std::string& text) const;
  virtual int64_t StrToInt64(const std::string& text) const;

  // ---- Vetting
  // False when the value and quality are the current ones; True inside a
  // SetPropValueAt of the property; EPsReadOnly "%s is read-only" for a
  // read-only property; else the handlers decide. Then the range check.
  // With `indices`, `value` holds the elements written at those indices of
  // a one-dimensional array property.
  virtual bool CanChange(TPsVarPropType prop, PsVariant& value, TPsVarQuality& quality,
                         const std::vector<int32_t>* indices = nullptr);
  virtual bool CanChangeFloat(TPsVarPropType prop, double& value, TPsVarQuality& quality);
  virtual bool CanChangeInteger(TPsVarPropType prop, int32_t& value, TPsVarQuality& quality);
  virtual bool CanChangeString(TPsVarPropType prop, std::string& value, TPsVarQuality& quality);
  // OnChanging, then the slots. crReject raises EPsVarChangeReject; so does
  // any other error of theirs, with its class and message appended.
  virtual TPsVarChangingResponse DoChanging(TPsVarPropType prop, PsVariant& value,
                                            TPsVarQuality& quality);
  virtual void CheckRange(TPsVarPropType prop, const PsVariant& value, TPsVarQuality& quality);
  virtual bool InRange(TPsVarPropType prop, const PsVariant& value) const;
  virtual void RangeError(TPsVarPropType prop, const PsVariant& value, TPsVarQuality& quality);
  virtual std::string GetRangeErrorText(TPsVarPropType prop, const PsVariant& value) const;

  // ---- Update and notification
  void BeginUpdate();
  // At 0 the collected changes are announced. Without a BeginUpdate:
  // EPsException "<class>.EndUpdate: no matching BeginUpdate!", count 0.
  void EndUpdate();
  void BeginUpdateProp(TPsVarPropType prop);
  // Closes both counts on every path; when the last vetting rejects, `kept`
  // (where given) is put back first.
  void EndUpdateProp(TPsVarPropType prop, TPsVarQuality quality, vcl::TDateTime timestamp,
                     TPsVarFieldKeeper* kept = nullptr);
  int UpdateCount() const { return updateCount_; }
  // Stores quality and timestamp (negative or NaN: 0, never set; 0: now)
  // and collects the kind for the next announcement.
  virtual void UpdateProp(TPsVarPropType prop, TPsVarQuality quality, vcl::TDateTime timestamp);
  TPsVarPropTypes ChangedProps() const { return changedProps_; }
  // Announces the collected kinds; kinds that handlers change meanwhile are
  // announced in further rounds, at most 16 in all (EPsVarException "%s:
  // changes made while announcing do not settle").
  void Changed();
  void ConfigChanged();
  void RangeChanged();
  virtual void UpdateAlarmState();
  // asUnknown for an invalid value; asNormal while AlarmMode is amOff; else
  // the kind decides. Then OnGetAlarmState.
  virtual TPsVarAlarmState GetAlarmStateForValue(const PsVariant& value);
  // The kind of `props` with the latest timestamp (ties: the lower one).
  TPsVarPropType NewestProp(TPsVarPropTypes props) const;
  // Every kind bad, stamped now, announced.
  virtual void Clear();
  // Each supported kind of `props` that is not always read-only, from `source`.
  void CopyProps(TPsVarPropTypes props, const TPsVar* source);
  // Every bad kind back to timestamp 0, unannounced.
  void ResetValidity();
  virtual void Update() {}

  void Assign(const vcl::TPersistent* source) override;
  void SetName(const std::string& name) override;
  void BeforeDestruction() override;
  virtual void DebugDump(std::string_view name) const;

 protected:
  TPsVar(vcl::TComponent* owner, std::string className);

  void Loaded() override;
  void Notification(vcl::TComponent* component, vcl::TOperation operation) override;
  // The signal, OnChange, OnValueChange: only while active.
  virtual void DoChange(TPsVarPropTypes props);
  virtual TPsVarAlarmState DoGetAlarmStateForValue(const PsVariant& value) const;
  virtual void DoRangeChange();
  virtual void InternalInvalidateProp(TPsVarPropType prop);
  void InternalInvalidateProps(TPsVarPropTypes props);
  // Keeps every field that a store of SetPropValueAt may change (kinds add
  // theirs to the inherited ones).
  virtual void KeepFields(TPsVarFieldKeeper& keeper);

  // The leaf lock: held by writers of stored values (with the UpdateProp
  // that stamps them) and by snapshot readers.
  std::unique_lock<std::recursive_mutex> LockProps() const {
    return std::unique_lock<std::recursive_mutex>(propLock_);
  }
  // Runs `body` between BeginUpdate and EndUpdate; an error closes the
  // bracket (announcing what was applied) and passes on.
  template <class Body>
  void WithUpdate(Body&& body) {
    vcl::TUpdateScope update(*this, DebugException);
    body();
    update.End();
  }
  // The last step of every setter: `store` writes the value, and the
  // property takes `quality` and the current time, under the leaf lock
  // (snapshots see value and stamp together); then Changed.
  template <class Store>
  void StoreProp(TPsVarPropType prop, TPsVarQuality quality, Store&& store) {
    const vcl::TDateTime now = NowUTC();
    {
      const auto lock = LockProps();
      store();
      UpdateProp(prop, quality, now);
    }
    Changed();
  }
  // `set` when `valid`, else Undefine (now).
  template <class Set>
  void SetValidOrUndefine(TPsVarPropType prop, bool valid, Set&& set) {
    if (valid)
      set();
    else
      Undefine(prop, 0);
  }
  // Stores a text property vetted through CanChangeString.
  void SetTextProp(TPsVarPropType prop, std::string& field, std::string value,
                   TPsVarQuality emptyQuality);

  TPsVarQuality emptyTextQuality_ = vpqBad;

 private:
  // The conversion of GetPropAsDataTypeGood for a value read with `quality`.
  PsVariant ValueAsDataType(TPsVarPropType prop, TPsVarQuality quality, const PsVariant& value,
                            TPsVarDataType dataType) const;
  // EPsVarException "Value cannot be converted to a valid value" for an invalid one.
  PsVariant Validated(TPsVarPropType prop, PsVariant value) const;
  enum class Vetting { Unchanged, Allowed, Refused };
  Vetting Vet(TPsVarPropType prop, PsVariant& value, TPsVarQuality& quality,
              const std::vector<int32_t>* indices);
  bool IsSamePropValue(TPsVarPropType prop, const PsVariant& value, TPsVarQuality quality,
                       const std::vector<int32_t>* indices) const;
  std::string RejectMessage(TPsVarPropType prop, const PsVariant& value, TPsVarQuality quality,
                            const std::string& cause) const;
  // A handler or slot may be asked, and so may reject.
  bool MayVet() const;

  std::string alarmHelp_;
  TPsVarAlarmMode alarmMode_ = amOff;
  TPsVarAlarmState alarmState_ = asNormal;
  std::string alarmText_;
  std::string caption_;
  std::unique_ptr<TPsVarChangeSignal> signal_;
  std::string description_;
  std::string displayFormat_;
  int32_t id_ = 0;
  TPsVarQuality quality_[PsVarPropTypeCount] = {};
  vcl::TDateTime timestamp_[PsVarPropTypeCount] = {};
  TPsVarRangeMode rangeMode_ = rmNone;
  std::atomic<bool> readOnly_{false};
  TPsVarPropTypes changedProps_;
  int updateCount_ = 0;
  uint8_t propUpdateCount_[PsVarPropTypeCount] = {};
  mutable std::recursive_mutex propLock_;
};

}  // namespace toolkit

// The variable link and the Boolean, string, integer and float variables.
#include "toolkit/PsVarsBasic.h"  // IWYU pragma: export
#include "toolkit/PsVarsFloat.h"  // IWYU pragma: export
#include "toolkit/PsVarsLink.h"   // IWYU pragma: export
