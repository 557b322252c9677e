// Unit PsOPCTransactions: the per-item results one group operation produces.
// A transaction holds, per entry, the item's client and server handle, its
// result and a value; a read or data change adds the quality and time
// stamp; the server's own kinds know their group and source, fill entries
// from the group's items and carry a write's values to the main thread.
//
// Entries are positions 0 to 65535; a transaction grows by doubling when
// full. Threads: a transaction belongs to the call that builds it; nothing
// in it is locked.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "opcserver/OPCDA.h"
#include "opcserver/PsOPCCallbackThreads.h"
#include "vcl/Classes.h"

namespace opcserver {

class TPsOPCProviderGroup;
class TPsOPCProviderItem;

enum TPsOPCTransactionKind { tkDataChange, tkRead, tkWrite };

// "DataChange", "Read", "Write".
std::string_view TransactionKindName(TPsOPCTransactionKind kind);

class TPsOPCTransaction : public vcl::TObject {
 public:
  // The most entries a transaction holds.
  static constexpr int32_t MaxEntries = 65536;

  // ERangeError for an id outside 32 unsigned bits (a DA 2.0 client
  // chooses its ids from all of them).
  TPsOPCTransaction(int64_t id, TPsOPCTransactionKind kind);
  ~TPsOPCTransaction() override;
  TPsOPCTransaction(const TPsOPCTransaction&) = delete;
  TPsOPCTransaction& operator=(const TPsOPCTransaction&) = delete;

  DWORD ID() const { return id_; }
  TPsOPCTransactionKind Kind() const { return kind_; }
  bool Async = false;
  // The result of a commit through a remote server; unused here.
  HRESULT Result = S_OK;

  int32_t Capacity() const { return static_cast<int32_t>(errors_.size()); }
  // Keeps the entries below the new capacity; ERangeError outside 0..65536.
  void SetCapacity(int64_t capacity);
  int32_t Count() const { return count_; }
  // Grows the capacity when needed.
  void SetCount(int64_t count);

  // Appends an entry with the handles (an item's, or -1 and -1 for none);
  // its position. ERangeError once 65536 entries are held.
  int32_t AddHandle(OPCHANDLE clientHandle, OPCHANDLE serverHandle);
  int32_t Add(const TPsOPCProviderItem* item);
  // Every used entry's server handle -1, its value and result cleared;
  // Count and Result 0.
  void Clear();

  // Entries by position; ERangeError outside 0..Count-1.
  OPCHANDLE ClientHandle(int32_t index) const;
  OPCHANDLE ServerHandle(int32_t index) const;
  HRESULT Error(int32_t index) const;
  void SetError(int32_t index, HRESULT error);
  VARIANT& Value(int32_t index);
  void SetServerHandle(int32_t index, OPCHANDLE serverHandle);
  // The first entry with the client handle; -1 when none.
  int32_t IndexOfClientHandle(OPCHANDLE clientHandle) const;
  // Finds entries by client handle through an index from now on, in time
  // independent of the count (the pending data change's many lookups).
  void IndexClientHandles();
  // Takes the entry out: the last entry moves into its place.
  void RemoveEntry(int32_t index);

  // The arrays as a callback hands them on (Count entries each).
  OPCHANDLE* ClientHandles() { return clientHandles_.data(); }
  OPCHANDLE* ServerHandles() { return serverHandles_.data(); }
  HRESULT* Errors() { return errors_.data(); }
  VARIANT* Values() { return values_.data(); }

  // Some entry has a success code.
  bool HasOKItems() const;
  // S_FALSE when some entry failed, else S_OK.
  HRESULT MasterError() const;

  // "Transaction ID=%d Group=%s Kind=%s ItemCount=%d Result=$%x (%s)", and
  // with `withEntries` one line per entry.
  std::string AsString(bool withEntries) const;

 protected:
  // Resizes every array to `capacity`, keeping what fits.
  virtual void Alloc(int32_t capacity);
  void CheckIndex(int32_t index) const;
  // The group's name for AsString; empty without one.
  virtual std::string GroupName() const { return {}; }
  // The item ID of an entry's server handle; empty when unknown.
  virtual std::string ItemIDOf(OPCHANDLE /*serverHandle*/) const { return {}; }
  // One entry for the log: " %s(CH=%d, SH=%d): %s {%s}", then
  // " ErrorCode=%x (%s)" when it failed.
  virtual std::string EntryText(int32_t index) const;
  // Moves the entry at `from` into `to` (the value moves, `from` is left empty).
  virtual void MoveEntry(int32_t from, int32_t to);

 private:
  void RebuildIndex();

  DWORD id_;
  TPsOPCTransactionKind kind_;
  int32_t count_ = 0;
  bool indexed_ = false;
  // Client handle -> its first entry, while indexed_.
  std::unordered_map<OPCHANDLE, int32_t> index_;
  std::vector<OPCHANDLE> clientHandles_;
  std::vector<HRESULT> errors_;
  std::vector<OPCHANDLE> serverHandles_;
  std::vector<VARIANT> values_;
};

// Adds a quality word and a time stamp per entry.
class TPsOPCReadTransaction : public TPsOPCTransaction {
 public:
  using TPsOPCTransaction::TPsOPCTransaction;

  WORD Quality(int32_t index) const;
  void SetQuality(int32_t index, WORD quality);
  const FILETIME& TimeStamp(int32_t index) const;
  void SetTimeStamp(int32_t index, const FILETIME& timeStamp);
  WORD* Qualities() { return qualities_.data(); }
  FILETIME* TimeStamps() { return timeStamps_.data(); }

  // S_FALSE when some entry's quality is below good (0xC0), else S_OK.
  HRESULT MasterQuality() const;

 protected:
  void Alloc(int32_t capacity) override;
  // " %s(CH=%d, SH=%d): %s %s %s" with time stamp, quality and value, or
  // " %d/%d %s: ErrorCode=%x" when it failed.
  std::string EntryText(int32_t index) const override;
  void MoveEntry(int32_t from, int32_t to) override;

 private:
  std::vector<WORD> qualities_;
  std::vector<FILETIME> timeStamps_;
};

class TPsOPCDataChangeTransaction : public TPsOPCReadTransaction {
 public:
  using TPsOPCReadTransaction::TPsOPCReadTransaction;
};

// A transaction of one of the server's groups (not referenced: the group
// outlives the call that builds it).
class TPsOPCProviderTransaction : public TPsOPCDataChangeTransaction,
                                  public TPsOPCCallbackTransaction {
 public:
  TPsOPCProviderTransaction(TPsOPCProviderGroup* group, int64_t id, TPsOPCTransactionKind kind);

  TPsOPCProviderGroup* Group() const { return group_; }
  // OPC_DS_CACHE or OPC_DS_DEVICE for a read; 0 otherwise.
  OPCDATASOURCE Source = static_cast<OPCDATASOURCE>(0);

  // The item's entry (by its client handle, unless `alwaysAdd`), appended
  // when there is none, filled with the item's state for Source; an item
  // that is write-only gives OPC_E_BADRIGHTS, no item OPC_E_INVALIDHANDLE.
  // An entry that items sharing a client handle share carries the state,
  // and the server handle, of the item that came last. The entry's position.
  int32_t AckItem(TPsOPCProviderItem* item, bool alwaysAdd);
  // Takes out the entry that carries the item's state (the one of its
  // client handle, when the item changed last of those sharing it): the
  // last entry moves into its place. False when there is none. An item
  // whose client handle changes takes its entry along before (the group's
  // SetClientHandles), so no entry of an earlier handle is left.
  bool RemoveItem(const TPsOPCProviderItem* item);

  // What the callback thread sends: a data change, a read's or a write's
  // answer over the transaction's arrays, with the group's handle.
  TPsOPCAnswer Answer() override;

 protected:
  std::string GroupName() const override;
  std::string ItemIDOf(OPCHANDLE serverHandle) const override;

 private:
  TPsOPCProviderGroup* group_;
};

// A write: each entry carries the value to write. Committed on the main
// thread, which sets Committed.
class TPsOPCProviderWriteTransaction : public TPsOPCProviderTransaction {
 public:
  TPsOPCProviderWriteTransaction(TPsOPCProviderGroup* group, int64_t id)
      : TPsOPCProviderTransaction(group, id, tkWrite) {}

  // An entry for the item (or none) with a copy of the value.
  int32_t Add(const TPsOPCProviderItem* item, const VARIANT& value);

  // The main thread has handled the entries.
  bool Committed = false;
};

}  // namespace opcserver
