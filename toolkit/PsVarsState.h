// Unit PsVars, the state and bit-set variables. A TPsState holds an integer
// that stands for one of a list of named states, each with an alarm state; a
// TPsBitSet holds up to 32 bits, each of which may carry a name and an alarm
// state. Their items live in keyed lists, sorted by value, owned by the
// variable (TPsCustomState).
//
// Threads: conversions may run on other threads (snapshots), so they never
// read the item list itself but a table of the items' values, names and
// alarm states that the variable rebuilds, under its leaf lock, whenever the
// list announces a change.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "toolkit/PsClassesPersistent.h"
#include "toolkit/PsVars.h"
#include "toolkit/PsVarsBasic.h"

namespace toolkit {

class TPsCustomState;
class TPsStateItemlist;

// ---- Items ----------------------------------------------------------------

// One state: its value (a bit number for a bit item), its name and its alarm
// state. Changes reach the owning variable through its list.
class TPsCustomStateItem : public TPsPersistent {
 public:
  std::string ClassName() const override { return "TPsCustomStateItem"; }
  static const TPsClassMeta& ClassMeta();

  TPsVarAlarmState AlarmState() const { return alarmState_; }
  void SetAlarmState(TPsVarAlarmState state);
  const std::string& Name() const { return name_; }
  void SetName(const std::string& name);
  int32_t StateValue() const { return value_; }
  // Stores a new value, moves the item to its key and widens the variable's
  // range to it; vcl::Exception "Duplicate state value: %d" with the old
  // value kept when another item has it (or the rest fails).
  void SetStateValue(int32_t value);
  // The list the item is in, or none.
  TPsStateItemlist* List() const { return list_; }

  // From another state item: alarm state, name and value (through the
  // value's setter).
  void Assign(const vcl::TPersistent* source) override;

 protected:
  TPsCustomStateItem() = default;
  // Raises for a value the item cannot take; the old one stays.
  virtual void CheckStateValue(int32_t /*value*/) const {}

 private:
  friend class TPsStateItemlist;

  TPsVarAlarmState alarmState_ = asNormal;
  std::string name_;
  int32_t value_ = 0;
  TPsStateItemlist* list_ = nullptr;
};

class TPsStateItem : public TPsCustomStateItem {
 public:
  TPsStateItem() = default;
  std::string ClassName() const override { return "TPsStateItem"; }
  static const TPsClassMeta& ClassMeta();

  int32_t Value() const { return StateValue(); }
  void SetValue(int32_t value) { SetStateValue(value); }
};

class TPsBitItem : public TPsCustomStateItem {
 public:
  TPsBitItem() = default;
  std::string ClassName() const override { return "TPsBitItem"; }
  static const TPsClassMeta& ClassMeta();

  int32_t BitNr() const { return StateValue(); }
  // EPsRangeError outside 0..31, the old number kept.
  void SetBitNr(int32_t bitNr) { SetStateValue(bitNr); }
  uint32_t Mask() const { return 1u << static_cast<unsigned>(BitNr()); }

  // Reads the number that older streams stored as "Value"; never writes it.
  void DefineProperties(vcl::TFiler* filer) override;

 protected:
  void CheckStateValue(int32_t value) const override;
};

// ---- Item lists -------------------------------------------------------------

// State items sorted by value: the key of an item is its value as ten
// decimal digits after adding 2^31, so that the keys' text order is the
// numbers' order over the whole 32-bit range and no two items share a value.
class TPsStateItemlist : public TPsPersistentList {
 public:
  explicit TPsStateItemlist(vcl::TObject* owner);
  ~TPsStateItemlist() override;
  std::string ClassName() const override { return "TPsStateItemlist"; }
  static const TPsClassMeta& ClassMeta();

  static std::string ValueToKey(int32_t value);
  std::string GetItemKey(const TPsPersistent* item) const override;

  // The variable that owns the list, or none.
  TPsCustomState* Variable() const;
  // EPsException for an item that is no state item.
  TPsCustomStateItem* GetItems(int index) const;
  // The first item with exactly this name; -1 when none.
  int IndexOfName(const std::string& name) const;
  // The item with this value (none) and its position (-1).
  TPsCustomStateItem* FindValue(int32_t value, int& index) const;
  TPsCustomStateItem* FindValue(int32_t value) const;

  // A new item takes the value after the last one (the first keeps 0) and
  // the variable's range widens to it.
  void ItemInit(TPsPersistent* item) override;
  // Items inserted by hand belong to the list as well.
  TPsPersistent* Insert(int index, TPsPersistent* item) override;
  void ItemFinish(TPsPersistent* item) override;
  // Copies take the copied values without widening for the values new
  // items start with.
  void Assign(const vcl::TPersistent* source) override;

 protected:
  TPsStateItemlist(vcl::TObject* owner, const TPsClassMeta& itemClass);
  // The value of a new item after `last`.
  virtual int32_t NextValue(int32_t last) const;

 private:
  bool copying_ = false;
};

class TPsBitItemList : public TPsStateItemlist {
 public:
  explicit TPsBitItemList(vcl::TObject* owner);
  std::string ClassName() const override { return "TPsBitItemList"; }
  static const TPsClassMeta& ClassMeta();

  // EPsException for an item that is no bit item.
  TPsBitItem* GetItems(int index) const;
  // The first item with this bit number; -1 when none.
  int IndexOfBitNr(int32_t bitNr) const;

 protected:
  // The bit after `last`, or the lowest free one after bit 31;
  // EPsRangeError when all 32 have items.
  int32_t NextValue(int32_t last) const override;
};

// ---- Variables -----------------------------------------------------------------

// What conversions read of an item.
struct TPsStateEntry {
  int32_t Value = 0;
  std::string Name;
  TPsVarAlarmState AlarmState = asNormal;
};

class TPsCustomState : public TPsCustomInteger {
 public:
  ~TPsCustomState() override;
  static const TPsClassMeta& ClassMeta();

  // An image list for the states; only kept here (none when it is freed).
  vcl::TComponent* Images() const { return images_; }
  void SetImages(vcl::TComponent* images);
  TPsStateItemlist* States() const { return states_.get(); }
  // Copies the items of `states` (none: no items); ConfigChanged.
  void SetStates(TPsStateItemlist* states);
  const TPsClassMeta& GetStateListClass() const { return *stateListClass_; }
  // The prefix of the names of new and unnamed items.
  virtual std::string GetDefaultItemName() const { return "State"; }
  // value - RangeMin; EPsRangeError "Index out of range: %d [%d-%d]" outside
  // the range.
  virtual int64_t InternalIndex(int32_t value) const;

  // The items' names in list order: safe on any thread.
  std::vector<std::string> StateNames() const;

  // Widens the range so that an item's value lies in it.
  virtual void IncludeStateValue(int32_t value);

 protected:
  TPsCustomState(vcl::TComponent* owner, std::string className, const TPsClassMeta& stateListClass);

  void Notification(vcl::TComponent* component, vcl::TOperation operation) override;

  // The table as the list last announced it; read it under LockProps.
  const std::vector<TPsStateEntry>& Table() const { return table_; }
  // The entry with this value, or none; under LockProps.
  const TPsStateEntry* TableEntry(int32_t value) const;
  // The first entry with exactly this name, or none; under LockProps.
  const TPsStateEntry* TableEntryNamed(const std::string& name) const;

  // While one lives, the list's announcements are held back; the last one
  // to go announces once.
  class HeldAnnouncements {
   public:
    explicit HeldAnnouncements(TPsCustomState& state);
    ~HeldAnnouncements();
    HeldAnnouncements(const HeldAnnouncements&) = delete;
    HeldAnnouncements& operator=(const HeldAnnouncements&) = delete;

   private:
    TPsCustomState& state_;
  };

 private:
  // The set of items changed (a value among them): table, ConfigChanged,
  // RangeChanged. An item's name or alarm state: table, ConfigChanged.
  void ItemsChanged(bool rangeToo);
  void RebuildTable();

  const TPsClassMeta* stateListClass_;
  std::unique_ptr<TPsStateItemlist> states_;
  std::vector<TPsStateEntry> table_;
  vcl::TComponent* images_ = nullptr;
  int held_ = 0;
  bool heldConfig_ = false;
  bool heldRange_ = false;
};

class TPsState : public TPsCustomState {
 public:
  explicit TPsState(vcl::TComponent* owner);
  static const TPsClassMeta& ClassMeta();

  // A state's exact name sets its value; any other text is read as an
  // integer.
  void SetPropAsStringGood(TPsVarPropType prop, const std::string& value) override;
  // A good text that is a state's name gives its value.
  int32_t GetVarPropValueAsInteger(TPsVarPropType prop, const PsVariant& value) const override;
  // A good value gives its state's name (its number for an unnamed state); a
  // state's name stays as it is.
  std::string GetVarPropValueAsString(TPsVarPropType prop, const PsVariant& value) const override;
  // The position of the state with this value; -1 when there is none.
  int64_t InternalIndex(int32_t value) const override;

 protected:
  // The state's alarm state; asUnknown for a value without a state.
  TPsVarAlarmState DoGetAlarmStateForValue(const PsVariant& value) const override;
};

// Up to 32 bits, read as an unsigned value. Texts are lists of bit names
// joined by the list separator; a bit without an item is named by the
// prefix and its number ("Bit2"), unless StrictStates.
class TPsBitSet : public TPsCustomState {
 public:
  explicit TPsBitSet(vcl::TComponent* owner);
  static const TPsClassMeta& ClassMeta();

  TPsBitItemList* States() const { return static_cast<TPsBitItemList*>(TPsCustomState::States()); }

  int32_t BitCount() const;
  // 0 to 32 (EPsException "Max BitCount is 32" above, the old count kept);
  // rebuilds the items when StrictStates; ConfigChanged.
  void SetBitCount(int32_t count);
  // Only bits with an item count, and there are BitCount items.
  bool StrictStates() const;
  void SetStrictStates(bool strict);
  // StrictStates: the items' bits; otherwise the lowest BitCount bits.
  uint32_t GetBitMask() const;
  // Adds items named by the prefix and their position, or deletes the last
  // ones, until there are BitCount.
  void InitStates();

  int32_t GetRangeMin() const override;
  int32_t GetRangeMax() const override;
  // BitCount := the bits that `value` needs, plus one, at most 32;
  // EPsRangeError below 1.
  void SetRangeMax(int32_t value) override;
  // No bit outside the mask.
  bool InRange(TPsVarPropType prop, const PsVariant& value) const override;
  std::string GetDefaultItemName() const override { return "Bit"; }
  void IncludeStateValue(int32_t bitNr) override;

  TPsVarDataType GetPropDataType(TPsVarPropType prop) const override;
  PsVariant GetPropValueGood(TPsVarPropType prop) const override;
  // Each name its bit; EStringListError for a name of no bit, nothing stored.
  void SetPropAsStringGood(TPsVarPropType prop, const std::string& value) override;
  // An array sets bit (i - low bound) for each true element i and makes
  // BitCount its length; numbers are cut to 32 bits (floats outside
  // 0..4294967295 raise ERangeError); texts as in SetPropAsStringGood.
  void SetPropValueGood(TPsVarPropType prop, const PsVariant& value) override;
  // A good text: the bits of the names it lists (ignoring case; a bit's
  // mask in decimal names it too; unknown names count for nothing); a good
  // number: its low 32 bits within the mask.
  uint32_t GetVarPropValueAsLongWord(TPsVarPropType prop, const PsVariant& value) const override;
  int64_t GetVarPropValueAsInt64(TPsVarPropType prop, const PsVariant& value) const override;
  int32_t GetVarPropValueAsInteger(TPsVarPropType prop, const PsVariant& value) const override;
  // A good number: the names of its bits below BitCount.
  std::string GetVarPropValueAsString(TPsVarPropType prop, const PsVariant& value) const override;

 protected:
  // asAlarm when a set bit's item has it, else asWarning when one has that.
  TPsVarAlarmState DoGetAlarmStateForValue(const PsVariant& value) const override;
  // An array's store sets BitCount: it goes back through its setter.
  void KeepFields(TPsVarFieldKeeper& keeper) override;

 private:
  // The value's low 32 bits, as stored.
  uint32_t RawBits(const PsVariant& value) const;
  // The bit named `name` (exactly, or ignoring case): an item's name first,
  // then, unless StrictStates, the default name of a bit without an item;
  // -1 when none. Under LockProps.
  int BitOfName(const std::string& name, bool ignoreCase) const;
  uint32_t MaskLocked() const;

  int32_t bitCount_ = 32;
  bool strictStates_ = false;
};

// Registers the state and bit-set variables, their items and item lists.
void RegisterStateClasses();

}  // namespace toolkit
