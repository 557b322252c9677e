#include "opcserver/PsOPCTransactions.h"

#include <algorithm>
#include <cstdint>

#include "opcserver/PsOPC.h"
#include "opcserver/PsOPCProviderGroups.h"
#include "opcserver/PsOPCProviderItems.h"
#include "toolkit/PsUtils.h"

namespace opcserver {
namespace {

constexpr OPCHANDLE kNoHandle = static_cast<OPCHANDLE>(-1);

void CheckEntries(int64_t count) {
  if (count < 0 || count > TPsOPCTransaction::MaxEntries)
    throw vcl::ERangeError(vcl::Format("Transaction size %d out of range", count));
}

std::string ValueText(const VARIANT& value) {
  try {
    return toolkit::VariantToText(VariantToPsVariant(value), false);
  } catch (const std::exception&) {
    return "?";
  }
}

std::string FileTimeText(const FILETIME& time) {
  const uint64_t fileTime = (static_cast<uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
  try {
    return vcl::DateTimeToStr(toolkit::FileTimeToDateTime(fileTime));
  } catch (const std::exception&) {
    return "?";
  }
}

}  // namespace

std::string_view TransactionKindName(TPsOPCTransactionKind kind) {
  switch (kind) {
    case tkDataChange:
      return "DataChange";
    case tkRead:
      return "Read";
    case tkWrite:
      return "Write";
  }
  return "";
}

// ---- TPsOPCTransaction -----------------------------------------------------------

TPsOPCTransaction::TPsOPCTransaction(int64_t id, TPsOPCTransactionKind kind) : kind_(kind) {
  if (id < 0 || id > UINT32_MAX)
    throw vcl::ERangeError(vcl::Format("Transaction ID %d out of range", id));
  id_ = static_cast<DWORD>(id);
}

TPsOPCTransaction::~TPsOPCTransaction() {
  for (VARIANT& value : values_)
    VariantClear(&value);
}

void TPsOPCTransaction::SetCapacity(int64_t capacity) {
  CheckEntries(capacity);
  if (capacity != Capacity())
    Alloc(static_cast<int32_t>(capacity));
  if (count_ > capacity) {
    count_ = static_cast<int32_t>(capacity);
    RebuildIndex();
  }
}

void TPsOPCTransaction::Alloc(int32_t capacity) {
  for (size_t i = static_cast<size_t>(capacity); i < values_.size(); ++i)
    VariantClear(&values_[i]);
  clientHandles_.resize(capacity, kNoHandle);
  errors_.resize(capacity, S_OK);
  serverHandles_.resize(capacity, kNoHandle);
  VARIANT empty;
  VariantInit(&empty);
  values_.resize(capacity, empty);
}

void TPsOPCTransaction::SetCount(int64_t count) {
  CheckEntries(count);
  if (count > Capacity())
    SetCapacity(count);
  const bool shrinks = count < count_;
  count_ = static_cast<int32_t>(count);
  if (shrinks)
    RebuildIndex();
}

int32_t TPsOPCTransaction::AddHandle(OPCHANDLE clientHandle, OPCHANDLE serverHandle) {
  if (count_ >= Capacity()) {
    if (count_ >= MaxEntries)
      throw vcl::ERangeError(vcl::Format("Transaction index %d out of range", count_));
    // Doubling from an empty transaction starts at one entry.
    SetCapacity(std::min<int64_t>(MaxEntries, std::max<int64_t>(1, int64_t{Capacity()} * 2)));
  }
  const int32_t index = count_++;
  clientHandles_[index] = clientHandle;
  serverHandles_[index] = serverHandle;
  errors_[index] = S_OK;
  VariantClear(&values_[index]);
  if (indexed_)
    index_.emplace(clientHandle, index);
  return index;
}

int32_t TPsOPCTransaction::Add(const TPsOPCProviderItem* item) {
  return item ? AddHandle(item->GetClientHandle(), item->ServerHandle())
              : AddHandle(kNoHandle, kNoHandle);
}

void TPsOPCTransaction::Clear() {
  for (int32_t i = 0; i < count_; ++i) {
    serverHandles_[i] = kNoHandle;
    VariantClear(&values_[i]);
    errors_[i] = S_OK;
  }
  count_ = 0;
  Result = S_OK;
  index_.clear();
}

void TPsOPCTransaction::CheckIndex(int32_t index) const {
  if (index < 0 || index >= count_)
    throw vcl::ERangeError(vcl::Format("Transaction index %d out of range", index));
}

OPCHANDLE TPsOPCTransaction::ClientHandle(int32_t index) const {
  CheckIndex(index);
  return clientHandles_[index];
}

OPCHANDLE TPsOPCTransaction::ServerHandle(int32_t index) const {
  CheckIndex(index);
  return serverHandles_[index];
}

HRESULT TPsOPCTransaction::Error(int32_t index) const {
  CheckIndex(index);
  return errors_[index];
}

void TPsOPCTransaction::SetError(int32_t index, HRESULT error) {
  CheckIndex(index);
  errors_[index] = error;
}

VARIANT& TPsOPCTransaction::Value(int32_t index) {
  CheckIndex(index);
  return values_[index];
}

void TPsOPCTransaction::SetServerHandle(int32_t index, OPCHANDLE serverHandle) {
  CheckIndex(index);
  serverHandles_[index] = serverHandle;
}

int32_t TPsOPCTransaction::IndexOfClientHandle(OPCHANDLE clientHandle) const {
  if (indexed_) {
    const auto found = index_.find(clientHandle);
    return found == index_.end() ? -1 : found->second;
  }
  for (int32_t i = 0; i < count_; ++i)
    if (clientHandles_[i] == clientHandle)
      return i;
  return -1;
}

void TPsOPCTransaction::IndexClientHandles() {
  indexed_ = true;
  RebuildIndex();
}

void TPsOPCTransaction::RebuildIndex() {
  if (!indexed_)
    return;
  index_.clear();
  for (int32_t i = 0; i < count_; ++i)
    index_.emplace(clientHandles_[i], i);
}

bool TPsOPCTransaction::HasOKItems() const {
  for (int32_t i = 0; i < count_; ++i)
    if (SUCCEEDED(errors_[i]))
      return true;
  return false;
}

HRESULT TPsOPCTransaction::MasterError() const {
  for (int32_t i = 0; i < count_; ++i)
    if (FAILED(errors_[i]))
      return S_FALSE;
  return S_OK;
}

void TPsOPCTransaction::RemoveEntry(int32_t index) {
  CheckIndex(index);
  const int32_t last = count_ - 1;
  const OPCHANDLE removed = clientHandles_[index];
  const OPCHANDLE moved = clientHandles_[last];
  if (index != last)
    MoveEntry(last, index);
  VariantClear(&values_[last]);
  count_ = last;
  if (!indexed_)
    return;
  // Two entries change: the index follows without being built anew.
  if (const auto found = index_.find(removed); found != index_.end() && found->second == index)
    index_.erase(found);
  if (const auto found = index_.find(moved); found != index_.end() && found->second == last)
    found->second = index;
}

void TPsOPCTransaction::MoveEntry(int32_t from, int32_t to) {
  clientHandles_[to] = clientHandles_[from];
  serverHandles_[to] = serverHandles_[from];
  errors_[to] = errors_[from];
  VariantClear(&values_[to]);
  values_[to] = values_[from];
  VariantInit(&values_[from]);
}

std::string TPsOPCTransaction::EntryText(int32_t index) const {
  const VARIANT& value = values_[index];
  std::string text = vcl::Format(" %s(CH=%d, SH=%d): %s {%s}", ItemIDOf(serverHandles_[index]),
                                 clientHandles_[index], serverHandles_[index], ValueText(value),
                                 toolkit::VarTypeToText(value.vt));
  if (FAILED(errors_[index]))
    text += vcl::Format(" ErrorCode=%x (%s)", errors_[index], GetReason(errors_[index]));
  return text;
}

std::string TPsOPCTransaction::AsString(bool withEntries) const {
  std::string text = vcl::Format("Transaction ID=%d Group=%s Kind=%s ItemCount=%d Result=$%x (%s)",
                                 id_, GroupName(), std::string(TransactionKindName(kind_)), count_,
                                 Result, GetReason(Result));
  if (withEntries)
    for (int32_t i = 0; i < count_; ++i)
      text += "\r\n" + EntryText(i);
  return text;
}

// ---- TPsOPCReadTransaction -------------------------------------------------------

void TPsOPCReadTransaction::Alloc(int32_t capacity) {
  TPsOPCTransaction::Alloc(capacity);
  qualities_.resize(capacity, 0);
  timeStamps_.resize(capacity, FILETIME{});
}

WORD TPsOPCReadTransaction::Quality(int32_t index) const {
  CheckIndex(index);
  return qualities_[index];
}

void TPsOPCReadTransaction::SetQuality(int32_t index, WORD quality) {
  CheckIndex(index);
  qualities_[index] = quality;
}

const FILETIME& TPsOPCReadTransaction::TimeStamp(int32_t index) const {
  CheckIndex(index);
  return timeStamps_[index];
}

void TPsOPCReadTransaction::SetTimeStamp(int32_t index, const FILETIME& timeStamp) {
  CheckIndex(index);
  timeStamps_[index] = timeStamp;
}

HRESULT TPsOPCReadTransaction::MasterQuality() const {
  for (int32_t i = 0; i < Count(); ++i)
    if (qualities_[i] < OPC_QUALITY_GOOD)
      return S_FALSE;
  return S_OK;
}

void TPsOPCReadTransaction::MoveEntry(int32_t from, int32_t to) {
  TPsOPCTransaction::MoveEntry(from, to);
  qualities_[to] = qualities_[from];
  timeStamps_[to] = timeStamps_[from];
}

std::string TPsOPCReadTransaction::EntryText(int32_t index) const {
  if (FAILED(Error(index)))
    return vcl::Format(" %d/%d %s: ErrorCode=%x", ClientHandle(index), ServerHandle(index),
                       ItemIDOf(ServerHandle(index)), Error(index));
  return vcl::Format(" %s(CH=%d, SH=%d): %s %s %s", ItemIDOf(ServerHandle(index)),
                     ClientHandle(index), ServerHandle(index), FileTimeText(timeStamps_[index]),
                     OPCQualityText(qualities_[index]),
                     ValueText(const_cast<TPsOPCReadTransaction*>(this)->Value(index)));
}

// ---- TPsOPCProviderTransaction ---------------------------------------------------

TPsOPCProviderTransaction::TPsOPCProviderTransaction(TPsOPCProviderGroup* group, int64_t id,
                                                     TPsOPCTransactionKind kind)
    : TPsOPCDataChangeTransaction(id, kind), group_(group) {}

std::string TPsOPCProviderTransaction::GroupName() const {
  return group_ ? group_->GroupName() : std::string();
}

std::string TPsOPCProviderTransaction::ItemIDOf(OPCHANDLE serverHandle) const {
  return group_ ? group_->ItemIDOf(serverHandle) : std::string();
}

int32_t TPsOPCProviderTransaction::AckItem(TPsOPCProviderItem* item, bool alwaysAdd) {
  int32_t index = -1;
  if (item && !alwaysAdd)
    index = IndexOfClientHandle(item->GetClientHandle());
  if (index < 0)
    index = Add(item);
  else
    SetServerHandle(index, item->ServerHandle());
  if (!item) {
    SetError(index, OPC_E_INVALIDHANDLE);
  } else if (item->GetAccessRights() == OPC_WRITEABLE) {
    SetError(index, OPC_E_BADRIGHTS);
  } else {
    OPCITEMSTATE state{};
    VariantInit(&state.vDataValue);
    const HRESULT error = item->GetItemState(state, Source);
    SetError(index, error);
    VARIANT& value = Value(index);
    VariantClear(&value);
    // The state's value is handed over, not copied.
    value = state.vDataValue;
    SetQuality(index, state.wQuality);
    SetTimeStamp(index, state.ftTimeStamp);
  }
  return index;
}

bool TPsOPCProviderTransaction::RemoveItem(const TPsOPCProviderItem* item) {
  if (!item)
    return false;
  // An item's entry is the one of its client handle, unless another item
  // of that handle changed after it.
  const int32_t index = IndexOfClientHandle(item->GetClientHandle());
  if (index < 0 || ServerHandle(index) != item->ServerHandle())
    return false;
  RemoveEntry(index);
  return true;
}

TPsOPCAnswer TPsOPCProviderTransaction::Answer() {
  TPsOPCAnswer answer;
  answer.kind = Kind() == tkRead    ? akReadComplete
                : Kind() == tkWrite ? akWriteComplete
                                    : akDataChange;
  answer.transactionID = ID();
  answer.groupClientHandle = group_ ? group_->ClientHandle() : 0;
  answer.masterQuality = MasterQuality();
  answer.masterError = MasterError();
  answer.count = static_cast<DWORD>(Count());
  answer.clientHandles = ClientHandles();
  answer.serverHandles = ServerHandles();
  answer.values = Values();
  answer.qualities = Qualities();
  answer.timeStamps = TimeStamps();
  answer.errors = Errors();
  return answer;
}

// ---- TPsOPCProviderWriteTransaction ----------------------------------------------

int32_t TPsOPCProviderWriteTransaction::Add(const TPsOPCProviderItem* item, const VARIANT& value) {
  const int32_t index = TPsOPCTransaction::Add(item);
  // The platform declares the source without const; it is only read.
  OleCheck(VariantCopy(&Value(index), const_cast<VARIANT*>(&value)));
  return index;
}

}  // namespace opcserver
