// Unit PsVars: the state and bit-set variables, their items and item lists.
#include "toolkit/PsVarsState.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <exception>

#include "toolkit/Debugs.h"
#include "toolkit/psRTTI.h"
#include "vcl/ClassesFiler.h"

namespace toolkit {
namespace {

constexpr int kMaxBits = 32;

uint32_t BitMask(int32_t bitNr) {
  return 1u << static_cast<unsigned>(bitNr);
}

// A bit set has at most 32 bits, with one item each; `count` bits would be
// too many (a count in 64 bits: an array's length is checked before it is
// narrowed).
void CheckBitCount(int64_t count) {
  if (count > kMaxBits)
    throw EPsException("Max BitCount is 32");
}

}  // namespace

// ---- Items ---------------------------------------------------------------------------

const TPsClassMeta& TPsCustomStateItem::ClassMeta() {
  static const TPsClassMeta meta =
      TPsClassMetaBuilder<TPsCustomStateItem>("TPsCustomStateItem", &TPsPersistent::ClassMeta())
          .Enumeration("AlarmState", VarAlarmStateTypeInfo(), &TPsCustomStateItem::AlarmState,
                       &TPsCustomStateItem::SetAlarmState)
          .String("Name", &TPsCustomStateItem::Name, &TPsCustomStateItem::SetName)
          .Build();
  return meta;
}

void TPsCustomStateItem::SetAlarmState(TPsVarAlarmState state) {
  if (state == alarmState_)
    return;
  alarmState_ = state;
  ConfigChanged();
}

void TPsCustomStateItem::SetName(const std::string& name) {
  if (name == name_)
    return;
  name_ = name;
  ConfigChanged();
}

void TPsCustomStateItem::SetStateValue(int32_t value) {
  CheckStateValue(value);
  if (value == value_)
    return;
  const int32_t old = value_;
  value_ = value;
  if (TPsStateItemlist* list = list_) {
    try {
      list->UpdateKeyValue(this, TPsStateItemlist::ValueToKey(old));
      if (TPsCustomState* variable = list->Variable())
        variable->IncludeStateValue(value);
    } catch (const std::exception&) {
      value_ = old;
      // Back under the old key when the move went through.
      try {
        int index = -1;
        if (list->FindValue(value, index) == this)
          list->UpdateKeyValue(this, TPsStateItemlist::ValueToKey(value));
      } catch (const std::exception& error) {
        DebugException(error);
      }
      throw vcl::Exception(vcl::Format("Duplicate state value: %d", value));
    }
  }
  ConfigChanged();
}

void TPsCustomStateItem::Assign(const vcl::TPersistent* source) {
  if (const auto* other = dynamic_cast<const TPsCustomStateItem*>(source)) {
    SetAlarmState(other->alarmState_);
    SetName(other->name_);
    SetStateValue(other->value_);
    return;
  }
  TPsPersistent::Assign(source);
}

const TPsClassMeta& TPsStateItem::ClassMeta() {
  static const TPsClassMeta meta =
      TPsClassMetaBuilder<TPsStateItem>("TPsStateItem", &TPsCustomStateItem::ClassMeta())
          .Integer("Value", &TPsStateItem::Value, &TPsStateItem::SetValue)
          .Build();
  return meta;
}

const TPsClassMeta& TPsBitItem::ClassMeta() {
  static const TPsClassMeta meta =
      TPsClassMetaBuilder<TPsBitItem>("TPsBitItem", &TPsCustomStateItem::ClassMeta())
          .Integer("BitNr", &TPsBitItem::BitNr, &TPsBitItem::SetBitNr)
          .Build();
  return meta;
}

void TPsBitItem::CheckStateValue(int32_t value) const {
  if (value < 0 || value >= kMaxBits)
    throw EPsRangeError(vcl::Format("BitNr %d out of range [0-31]", value));
}

void TPsBitItem::DefineProperties(vcl::TFiler* filer) {
  TPsCustomStateItem::DefineProperties(filer);
  filer->DefineProperty(
      "Value",
      [this](vcl::TReader& reader) {
        const int64_t value = reader.ReadInteger();
        if (value < INT32_MIN || value > INT32_MAX)
          throw vcl::EReadError("Invalid property value");
        SetBitNr(static_cast<int32_t>(value));
      },
      [](vcl::TWriter&) {}, false);
}

// ---- Item lists ------------------------------------------------------------------------

TPsStateItemlist::TPsStateItemlist(vcl::TObject* owner)
    : TPsStateItemlist(owner, TPsStateItem::ClassMeta()) {}

TPsStateItemlist::TPsStateItemlist(vcl::TObject* owner, const TPsClassMeta& itemClass)
    : TPsPersistentList(owner, &itemClass, true) {
  SetSorted(true);
}

TPsStateItemlist::~TPsStateItemlist() = default;

const TPsClassMeta& TPsStateItemlist::ClassMeta() {
  static const TPsClassMeta meta =
      TPsClassMetaBuilder<TPsStateItemlist>("TPsStateItemlist", &TPsPersistentList::ClassMeta())
          .Build();
  return meta;
}

std::string TPsStateItemlist::ValueToKey(int32_t value) {
  // Adding 2^31 flips the sign bit: the numbers' order as unsigned ones.
  const std::string digits = std::to_string(static_cast<uint32_t>(value) ^ 0x80000000u);
  return std::string(10 - digits.size(), '0') + digits;
}

std::string TPsStateItemlist::GetItemKey(const TPsPersistent* item) const {
  const auto* state = dynamic_cast<const TPsCustomStateItem*>(item);
  if (!state)
    throw EPsException("TPsStateItemlist: the item is no state item");
  return ValueToKey(state->StateValue());
}

TPsCustomState* TPsStateItemlist::Variable() const {
  return dynamic_cast<TPsCustomState*>(Owner());
}

TPsCustomStateItem* TPsStateItemlist::GetItems(int index) const {
  auto* item = dynamic_cast<TPsCustomStateItem*>(Items(index));
  if (!item)
    throw EPsException(vcl::Format("Item %d is no state item", index));
  return item;
}

int TPsStateItemlist::IndexOfName(const std::string& name) const {
  for (int i = 0; i < Count(); ++i) {
    if (GetItems(i)->Name() == name)
      return i;
  }
  return -1;
}

TPsCustomStateItem* TPsStateItemlist::FindValue(int32_t value, int& index) const {
  TPsPersistent* item = Find(ValueToKey(value), index);
  return item ? GetItems(index) : nullptr;
}

TPsCustomStateItem* TPsStateItemlist::FindValue(int32_t value) const {
  int index = -1;
  return FindValue(value, index);
}

int32_t TPsStateItemlist::NextValue(int32_t last) const {
  if (last == INT32_MAX)
    throw EPsRangeError(vcl::Format("No state value after %d", last));
  return last + 1;
}

void TPsStateItemlist::ItemInit(TPsPersistent* item) {
  auto* state = dynamic_cast<TPsCustomStateItem*>(item);
  if (!state)
    throw EPsException("TPsStateItemlist: the item is no state item");
  TPsPersistentList::ItemInit(item);
  state->list_ = this;
  if (Count() > 0) {
    const int32_t next = NextValue(GetItems(Count() - 1)->StateValue());
    state->CheckStateValue(next);
    state->value_ = next;
  }
  TPsCustomState* variable = Variable();
  if (variable && !copying_)
    variable->IncludeStateValue(state->value_);
}

TPsPersistent* TPsStateItemlist::Insert(int index, TPsPersistent* item) {
  TPsPersistent* inserted = TPsPersistentList::Insert(index, item);
  auto* state = static_cast<TPsCustomStateItem*>(inserted);  // the class is checked
  state->list_ = this;
  state->OnConfigChanged = [this, inserted](vcl::TObject*) { ItemConfig(inserted); };
  return inserted;
}

void TPsStateItemlist::ItemFinish(TPsPersistent* item) {
  TPsPersistentList::ItemFinish(item);
  if (auto* state = dynamic_cast<TPsCustomStateItem*>(item); state && state->list_ == this)
    state->list_ = nullptr;
}

void TPsStateItemlist::Assign(const vcl::TPersistent* source) {
  struct Copying {
    bool& flag;
    bool before;
    ~Copying() { flag = before; }
  } copying{copying_, copying_};
  copying_ = true;
  TPsPersistentList::Assign(source);
}

TPsBitItemList::TPsBitItemList(vcl::TObject* owner)
    : TPsStateItemlist(owner, TPsBitItem::ClassMeta()) {}

const TPsClassMeta& TPsBitItemList::ClassMeta() {
  static const TPsClassMeta meta =
      TPsClassMetaBuilder<TPsBitItemList>("TPsBitItemList", &TPsStateItemlist::ClassMeta()).Build();
  return meta;
}

TPsBitItem* TPsBitItemList::GetItems(int index) const {
  auto* item = dynamic_cast<TPsBitItem*>(Items(index));
  if (!item)
    throw EPsException(vcl::Format("Item %d is no bit item", index));
  return item;
}

int TPsBitItemList::IndexOfBitNr(int32_t bitNr) const {
  for (int i = 0; i < Count(); ++i) {
    if (GetItems(i)->BitNr() == bitNr)
      return i;
  }
  return -1;
}

int32_t TPsBitItemList::NextValue(int32_t last) const {
  if (last < kMaxBits - 1)
    return last + 1;
  // The lowest free bit; with none, the new item would be bit 32.
  int32_t bit = 0;
  while (bit < kMaxBits && IndexOfBitNr(bit) >= 0)
    ++bit;
  CheckBitCount(bit + 1);
  return bit;
}

// ---- TPsCustomState ------------------------------------------------------------------------

TPsCustomState::TPsCustomState(vcl::TComponent* owner, std::string className,
                               const TPsClassMeta& stateListClass)
    : TPsCustomInteger(owner, std::move(className)), stateListClass_(&stateListClass) {
  std::unique_ptr<vcl::TObject> made(stateListClass.Create(this));
  auto* list = dynamic_cast<TPsStateItemlist*>(made.get());
  if (!list)
    throw EPsException(vcl::Format("%s is no state list class", stateListClass.Name()));
  made.release();
  states_.reset(list);
  states_->OnChange() = [this](vcl::TObject*) { ItemsChanged(true); };
  states_->OnItemConfig = [this](vcl::TObject*, TPsPersistent*) { ItemsChanged(false); };
  SetRangeMode(rmException);
}

TPsCustomState::~TPsCustomState() {
  states_->OnChange() = nullptr;
  states_->OnItemConfig = nullptr;
  states_.reset();
  if (images_)
    images_->RemoveFreeNotification(this);
}

const TPsClassMeta& TPsCustomState::ClassMeta() {
  static const TPsClassMeta meta =
      TPsClassMetaBuilder<TPsCustomState>("TPsCustomState", &TPsCustomInteger::ClassMeta())
          .Object("Images", ComponentClassMeta(), &TPsCustomState::Images,
                  &TPsCustomState::SetImages)
          .Build();
  return meta;
}

void TPsCustomState::SetImages(vcl::TComponent* images) {
  if (images == images_)
    return;
  if (images_)
    images_->RemoveFreeNotification(this);
  images_ = images;
  if (images_)
    images_->FreeNotification(this);
  ConfigChanged();
}

void TPsCustomState::Notification(vcl::TComponent* component, vcl::TOperation operation) {
  TPsCustomInteger::Notification(component, operation);
  if (operation == vcl::TOperation::opRemove && component == images_)
    images_ = nullptr;
}

void TPsCustomState::SetStates(TPsStateItemlist* states) {
  if (states)
    states_->Assign(states);
  else
    states_->Clear();
  ConfigChanged();
}

int64_t TPsCustomState::InternalIndex(int32_t value) const {
  const int32_t min = GetRangeMin();
  const int32_t max = GetRangeMax();
  if (value < min || value > max)
    throw EPsRangeError(vcl::Format("Index out of range: %d [%d-%d]", value, min, max));
  return int64_t{value} - min;
}

std::vector<std::string> TPsCustomState::StateNames() const {
  const auto lock = LockProps();
  std::vector<std::string> names;
  names.reserve(table_.size());
  for (const TPsStateEntry& entry : table_)
    names.push_back(entry.Name);
  return names;
}

void TPsCustomState::IncludeStateValue(int32_t value) {
  if (InRange(vpValue, value))
    return;
  if (value < GetRangeMin())
    SetRangeMin(value);
  if (value > GetRangeMax())
    SetRangeMax(value);
}

const TPsStateEntry* TPsCustomState::TableEntry(int32_t value) const {
  const auto found = std::lower_bound(
      table_.begin(), table_.end(), value,
      [](const TPsStateEntry& entry, int32_t wanted) { return entry.Value < wanted; });
  return found != table_.end() && found->Value == value ? &*found : nullptr;
}

const TPsStateEntry* TPsCustomState::TableEntryNamed(const std::string& name) const {
  const auto found = std::find_if(table_.begin(), table_.end(),
                                  [&](const TPsStateEntry& entry) { return entry.Name == name; });
  return found != table_.end() ? &*found : nullptr;
}

void TPsCustomState::ItemsChanged(bool rangeToo) {
  if (held_ > 0) {
    heldConfig_ = true;
    heldRange_ = heldRange_ || rangeToo;
    return;
  }
  RebuildTable();
  ConfigChanged();
  if (rangeToo)
    RangeChanged();
}

void TPsCustomState::RebuildTable() {
  std::vector<TPsStateEntry> table;
  table.reserve(static_cast<size_t>(states_->Count()));
  for (int i = 0; i < states_->Count(); ++i) {
    const TPsCustomStateItem* item = states_->GetItems(i);
    table.push_back({item->StateValue(), item->Name(), item->AlarmState()});
  }
  const auto lock = LockProps();
  table_.swap(table);
}

TPsCustomState::HeldAnnouncements::HeldAnnouncements(TPsCustomState& state) : state_(state) {
  ++state_.held_;
}

TPsCustomState::HeldAnnouncements::~HeldAnnouncements() {
  if (--state_.held_ > 0 || !state_.heldConfig_)
    return;
  const bool rangeToo = state_.heldRange_;
  state_.heldConfig_ = state_.heldRange_ = false;
  try {
    state_.ItemsChanged(rangeToo);
  } catch (const std::exception& error) {
    DebugException(error);
  }
}

// ---- TPsState ------------------------------------------------------------------------------

TPsState::TPsState(vcl::TComponent* owner)
    : TPsCustomState(owner, "TPsState", TPsStateItemlist::ClassMeta()) {}

const TPsClassMeta& TPsState::ClassMeta() {
  static const TPsClassMeta meta =
      TPsClassMetaBuilder<TPsState>("TPsState", &TPsCustomState::ClassMeta())
          .Integer("RangeMax", &TPsCustomInteger::GetRangeMax, &TPsCustomInteger::SetRangeMax)
          .Integer("RangeMin", &TPsCustomInteger::GetRangeMin, &TPsCustomInteger::SetRangeMin)
          .Enumeration("RangeMode", VarRangeModeTypeInfo(), &TPsVar::RangeMode,
                       &TPsVar::SetRangeMode)
          .Object("States", TPsStateItemlist::ClassMeta(), &TPsCustomState::States,
                  &TPsCustomState::SetStates)
          .Event("OnGetAlarmState")
          .Event("OnRangeChange")
          .Build();
  return meta;
}

void TPsState::SetPropAsStringGood(TPsVarPropType prop, const std::string& value) {
  if (prop == vpValue) {
    std::optional<int32_t> named;
    {
      const auto lock = LockProps();
      if (const TPsStateEntry* entry = TableEntryNamed(value))
        named = entry->Value;
    }
    if (named) {
      SetValue(*named);
      return;
    }
  }
  TPsCustomState::SetPropAsStringGood(prop, value);
}

int32_t TPsState::GetVarPropValueAsInteger(TPsVarPropType prop, const PsVariant& value) const {
  if (prop == vpValue && !value.IsArray() && VariantClass(value) == vcString &&
      IsValidValue(value, EmptyTextQuality()) == vpqGood) {
    const std::string text = value.AsText();
    const auto lock = LockProps();
    if (const TPsStateEntry* entry = TableEntryNamed(text))
      return entry->Value;
  }
  return TPsCustomState::GetVarPropValueAsInteger(prop, value);
}

std::string TPsState::GetVarPropValueAsString(TPsVarPropType prop, const PsVariant& value) const {
  if (prop != vpValue || value.IsArray() || IsValidValue(value, EmptyTextQuality()) != vpqGood)
    return TPsCustomState::GetVarPropValueAsString(prop, value);
  int32_t number = 0;
  if (VariantClass(value) == vcString) {
    const std::string text = value.AsText();
    {
      const auto lock = LockProps();
      if (TableEntryNamed(text))
        return text;
    }
    // A text that is no number is no state either.
    if (!vcl::TryStrToInt(text, number))
      return TPsCustomState::GetVarPropValueAsString(prop, value);
  } else {
    number = TPsCustomState::GetVarPropValueAsInteger(prop, value);
  }
  {
    const auto lock = LockProps();
    if (const TPsStateEntry* entry = TableEntry(number))
      return entry->Name.empty() ? vcl::IntToStr(number) : entry->Name;
  }
  return TPsCustomState::GetVarPropValueAsString(prop, value);
}

int64_t TPsState::InternalIndex(int32_t value) const {
  const auto lock = LockProps();
  const TPsStateEntry* entry = TableEntry(value);
  return entry ? entry - Table().data() : -1;
}

TPsVarAlarmState TPsState::DoGetAlarmStateForValue(const PsVariant& value) const {
  if (!VarHasValue(value) || IsValidValue(value, EmptyTextQuality()) == vpqBad)
    return asUnknown;
  const int32_t number = GetVarPropValueAsInteger(vpValue, value);
  const auto lock = LockProps();
  const TPsStateEntry* entry = TableEntry(number);
  return entry ? entry->AlarmState : asUnknown;
}

// ---- TPsBitSet ---------------------------------------------------------------------------

TPsBitSet::TPsBitSet(vcl::TComponent* owner)
    : TPsCustomState(owner, "TPsBitSet", TPsBitItemList::ClassMeta()) {}

const TPsClassMeta& TPsBitSet::ClassMeta() {
  static const TPsClassMeta meta =
      TPsClassMetaBuilder<TPsBitSet>("TPsBitSet", &TPsCustomState::ClassMeta())
          .Integer("BitCount", &TPsBitSet::BitCount, &TPsBitSet::SetBitCount)
          .Boolean("StrictStates", &TPsBitSet::StrictStates, &TPsBitSet::SetStrictStates)
          .Enumeration("RangeMode", VarRangeModeTypeInfo(), &TPsVar::RangeMode,
                       &TPsVar::SetRangeMode)
          .Object("States", TPsBitItemList::ClassMeta(), &TPsBitSet::States,
                  &TPsCustomState::SetStates)
          .Event("OnGetAlarmState")
          .Build();
  return meta;
}

// BitCount and StrictStates shape the conversions, which other threads run
// too: read and written under the lock.
int32_t TPsBitSet::BitCount() const {
  const auto lock = LockProps();
  return bitCount_;
}

void TPsBitSet::SetBitCount(int32_t count) {
  CheckBitCount(count);
  if (count < 0)
    throw EPsRangeError(vcl::Format("BitCount %d is below 0", count));
  {
    const auto lock = LockProps();
    if (count == bitCount_)
      return;
    bitCount_ = count;
  }
  if (StrictStates())
    InitStates();
  ConfigChanged();
}

bool TPsBitSet::StrictStates() const {
  const auto lock = LockProps();
  return strictStates_;
}

void TPsBitSet::SetStrictStates(bool strict) {
  {
    const auto lock = LockProps();
    if (strict == strictStates_)
      return;
    strictStates_ = strict;
  }
  if (strict)
    InitStates();
  ConfigChanged();
}

uint32_t TPsBitSet::GetBitMask() const {
  const auto lock = LockProps();
  return MaskLocked();
}

uint32_t TPsBitSet::MaskLocked() const {
  if (strictStates_) {
    uint32_t mask = 0;
    for (const TPsStateEntry& entry : Table())
      mask |= BitMask(entry.Value);
    return mask;
  }
  return bitCount_ >= kMaxBits ? UINT32_MAX : BitMask(bitCount_) - 1;
}

void TPsBitSet::InitStates() {
  const int32_t target = BitCount();
  TPsBitItemList* list = States();
  const HeldAnnouncements held(*this);
  while (list->Count() < target) {
    TPsPersistent* item = list->Add();
    static_cast<TPsBitItem*>(item)->SetName(GetDefaultItemName() +
                                            std::to_string(list->IndexOf(item)));
  }
  while (list->Count() > target)
    list->Delete(list->Count() - 1);
}

int32_t TPsBitSet::GetRangeMin() const {
  return BitCount() < kMaxBits ? 0 : INT32_MIN;
}

int32_t TPsBitSet::GetRangeMax() const {
  return BitCount() >= kMaxBits - 1 ? INT32_MAX : static_cast<int32_t>(GetBitMask());
}

void TPsBitSet::SetRangeMax(int32_t value) {
  if (value < 1)
    throw EPsRangeError(vcl::Format("RangeMax %d of a bit set is below 1", value));
  // ceil(log2(value)) + 1 bits, as many as there are.
  const int bits = std::bit_width(static_cast<uint32_t>(value) - 1) + 1;
  const auto lock = LockProps();
  bitCount_ = std::min(bits, kMaxBits);
}

void TPsBitSet::IncludeStateValue(int32_t bitNr) {
  // Strict: the mask follows the items already.
  const auto lock = LockProps();
  if (!strictStates_ && bitNr >= bitCount_ && bitNr < kMaxBits)
    bitCount_ = bitNr + 1;
}

bool TPsBitSet::InRange(TPsVarPropType prop, const PsVariant& value) const {
  if (prop != vpValue)
    return TPsCustomState::InRange(prop, value);
  return (RawBits(value) & ~GetBitMask()) == 0;
}

uint32_t TPsBitSet::RawBits(const PsVariant& value) const {
  return static_cast<uint32_t>(TPsVar::GetVarPropValueAsInt64(vpValue, value));
}

TPsVarDataType TPsBitSet::GetPropDataType(TPsVarPropType prop) const {
  return prop == vpValue ? vdtLongWord : TPsCustomState::GetPropDataType(prop);
}

PsVariant TPsBitSet::GetPropValueGood(TPsVarPropType prop) const {
  if (prop == vpValue)
    return PsVariant(static_cast<uint32_t>(Value()));
  return TPsCustomState::GetPropValueGood(prop);
}

int TPsBitSet::BitOfName(const std::string& name, bool ignoreCase) const {
  const auto same = [ignoreCase](const std::string& a, const std::string& b) {
    return ignoreCase ? vcl::SameText(a, b) : a == b;
  };
  for (const TPsStateEntry& entry : Table()) {
    if (same(entry.Name, name))
      return entry.Value;
  }
  if (strictStates_)
    return -1;
  const std::string prefix = GetDefaultItemName();
  for (int32_t bit = 0; bit < std::min(bitCount_, kMaxBits); ++bit) {
    if (!TableEntry(bit) && same(prefix + std::to_string(bit), name))
      return bit;
  }
  return -1;
}

void TPsBitSet::SetPropAsStringGood(TPsVarPropType prop, const std::string& value) {
  if (prop != vpValue) {
    TPsCustomState::SetPropAsStringGood(prop, value);
    return;
  }
  TPsStringList entries;
  entries.SetDelimitedText(value);
  uint32_t bits = 0;
  {
    const auto lock = LockProps();
    for (int i = 0; i < entries.Count(); ++i) {
      const int bit = BitOfName(entries.Strings(i), false);
      if (bit < 0)
        throw vcl::EStringListError(vcl::Format("No bit is named '%s'", entries.Strings(i)));
      bits |= BitMask(bit);
    }
  }
  SetValue(static_cast<int32_t>(bits));
}

void TPsBitSet::SetPropValueGood(TPsVarPropType prop, const PsVariant& value) {
  if (prop != vpValue) {
    TPsCustomState::SetPropValueGood(prop, value);
    return;
  }
  if (value.IsArray()) {
    // Element i of the first dimension is bit i - low bound.
    const int64_t length = VarArrayLength(value);
    if (length < 1)
      return;
    CheckBitCount(length);
    WithUpdate([&] {
      SetBitCount(static_cast<int32_t>(length));
      uint32_t bits = 0;
      for (int64_t i = 0; i < length; ++i) {
        if (GetVarPropValueAsBool(vpValue, value.ElementAt(i)))
          bits |= BitMask(static_cast<int32_t>(i));
      }
      SetValue(static_cast<int32_t>(bits));
    });
    return;
  }
  switch (VariantClass(value)) {
    case vcInteger:
    case vcBigInt:
      SetValue(static_cast<int32_t>(static_cast<uint32_t>(value.AsInt64())));
      return;
    case vcFloat:
    case vcDate: {
      const double whole = std::trunc(value.AsDouble());
      if (!(whole >= 0 && whole <= UINT32_MAX))  // NaN fails too
        throw vcl::ERangeError("Range check error");
      SetValue(static_cast<int32_t>(static_cast<uint32_t>(whole)));
      return;
    }
    case vcString:
      SetPropAsStringGood(vpValue, value.AsText());
      return;
    default:
      TPsCustomState::SetPropValueGood(prop, value);
  }
}

uint32_t TPsBitSet::GetVarPropValueAsLongWord(TPsVarPropType prop, const PsVariant& value) const {
  if (prop != vpValue || value.IsArray() || IsValidValue(value, EmptyTextQuality()) != vpqGood)
    return TPsCustomState::GetVarPropValueAsLongWord(prop, value);
  if (VariantClass(value) != vcString)
    return RawBits(value) & GetBitMask();
  TPsStringList entries;
  entries.SetDelimitedText(value.AsText());
  const auto lock = LockProps();
  uint32_t bits = 0;
  for (const TPsStateEntry& entry : Table()) {
    const uint32_t mask = BitMask(entry.Value);
    if (entries.IndexOf(entry.Name) >= 0 || entries.IndexOf(std::to_string(mask)) >= 0)
      bits |= mask;
  }
  // The names the text form gives bits without an item.
  for (int i = 0; i < entries.Count(); ++i) {
    if (const int bit = BitOfName(entries.Strings(i), true); bit >= 0 && !TableEntry(bit))
      bits |= BitMask(bit);
  }
  return bits;
}

int64_t TPsBitSet::GetVarPropValueAsInt64(TPsVarPropType prop, const PsVariant& value) const {
  if (prop != vpValue)
    return TPsCustomState::GetVarPropValueAsInt64(prop, value);
  return GetVarPropValueAsLongWord(prop, value);
}

int32_t TPsBitSet::GetVarPropValueAsInteger(TPsVarPropType prop, const PsVariant& value) const {
  if (prop != vpValue)
    return TPsCustomState::GetVarPropValueAsInteger(prop, value);
  return static_cast<int32_t>(GetVarPropValueAsLongWord(prop, value));
}

std::string TPsBitSet::GetVarPropValueAsString(TPsVarPropType prop, const PsVariant& value) const {
  if (prop != vpValue || value.IsArray() || IsValidValue(value, EmptyTextQuality()) != vpqGood)
    return TPsCustomState::GetVarPropValueAsString(prop, value);
  if (VariantClass(value) == vcString)
    return value.AsText();
  const uint32_t bits = RawBits(value);
  TPsStringList names;
  const auto lock = LockProps();
  const uint32_t shown = bits & MaskLocked();
  const std::string prefix = GetDefaultItemName();
  // A strict set's items may stand at BitCount or above: their bits count
  // in the number, but the text names the bits in use alone.
  for (int32_t bit = 0; bit < std::min(bitCount_, kMaxBits); ++bit) {
    if ((shown & BitMask(bit)) == 0)
      continue;
    if (const TPsStateEntry* entry = TableEntry(bit))
      names.Add(entry->Name);
    else if (!strictStates_)
      names.Add(prefix + std::to_string(bit));
  }
  return names.GetDelimitedText();
}

TPsVarAlarmState TPsBitSet::DoGetAlarmStateForValue(const PsVariant& value) const {
  const uint32_t bits = RawBits(value);
  const auto lock = LockProps();
  TPsVarAlarmState state = asNormal;
  for (const TPsStateEntry& entry : Table()) {
    if ((bits & BitMask(entry.Value)) == 0)
      continue;
    if (entry.AlarmState == asAlarm)
      return asAlarm;
    if (entry.AlarmState == asWarning)
      state = asWarning;
  }
  return state;
}

void TPsBitSet::KeepFields(TPsVarFieldKeeper& keeper) {
  TPsCustomState::KeepFields(keeper);
  keeper.Then([this, count = BitCount()] { SetBitCount(count); });
}

// ---- Registration ----------------------------------------------------------------------

void RegisterStateClasses() {
  RegisterClass(TPsStateItem::ClassMeta());
  RegisterClass(TPsBitItem::ClassMeta());
  RegisterClass(TPsStateItemlist::ClassMeta());
  RegisterClass(TPsBitItemList::ClassMeta());
  RegisterClass(TPsState::ClassMeta());
  RegisterClass(TPsBitSet::ClassMeta());
}

}  // namespace toolkit
