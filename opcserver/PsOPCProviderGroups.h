// Unit PsOPCProviderGroups: the group an OPC client gets from AddGroup. It
// holds the group's state (name, active, update rate, time bias, deadband,
// locale, handles), owns the group's items and answers the group
// interfaces: state management, item management, synchronous reads and
// writes, and its subscriptions (PsOPCProviderGroupsCallbacks.cpp): one sink
// of either kind, the pending data change its callback thread sends, and
// the asynchronous reads, refreshes and writes answered through that thread.
//
// Threads: COM calls arrive on any thread. The group lock (re-entrant)
// serialises the item list, the pending data change and the per-item steps;
// the group takes it before an item's lock, and never waits for the main
// thread while it holds it. State the items read under their own lock
// (active, time bias, deleted) is atomic. Writes are committed on the main
// thread (the server's message 1024); removed items are freed there (1025).
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "opcserver/OPCDA.h"
#include "opcserver/PsComUtils.h"
#include "opcserver/PsOPCCallbackThreads.h"
#include "opcserver/PsOPCProviderItemList.h"
#include "opcserver/PsOPCTransactions.h"
#include "vcl/Messages.h"
#include "vcl/SysUtils.h"

namespace opcserver {

class TPsOPCProvider;
class TPsOPCProviderClient;
class TPsOPCProviderItem;
class TPsOPCProviderTransaction;
class TPsOPCProviderWriteTransaction;

class TPsOPCProviderGroup;
using TPsOPCGroupRequestEvent =
    std::function<void(TPsOPCProviderGroup* sender, const std::string& name, const HRESULT* errors,
                       const OPCHANDLE* serverHandles, DWORD count)>;
using TPsOPCGroupStateEvent = std::function<void(TPsOPCProviderGroup* sender)>;

class TPsOPCProviderGroup
    : public ComObject<IOPCGroupStateMgt, IOPCItemMgt, IOPCSyncIO, IOPCAsyncIO, IOPCAsyncIO2,
                       IConnectionPointContainer, IDataObject>,
      public TPsOPCCallbackGroup {
 public:
  // The state a group starts with (set by the client's AddGroup).
  struct TInitialState {
    std::string name;
    bool active = false;
    DWORD updateRate = 0;
    OPCHANDLE clientHandle = 0;
    // None: bias 0, and local time stamps when `localTimeWithoutBias`.
    const LONG* timeBias = nullptr;
    bool localTimeWithoutBias = true;
    const FLOAT* percentDeadband = nullptr;
    LCID lcid = 0;
  };

  // Enabled, no items; the client's own (not referenced).
  TPsOPCProviderGroup(TPsOPCProviderClient* client, const TInitialState& state);
  // Destroying, FinishGroup.
  ~TPsOPCProviderGroup() override;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppvObject) override;
  // A group the client removed while it was held leaves the client once
  // only the client's reference is left.
  ULONG STDMETHODCALLTYPE Release() override;

  // IOPCGroupStateMgt.
  HRESULT STDMETHODCALLTYPE GetState(DWORD* pUpdateRate, BOOL* pActive, LPWSTR* ppName,
                                     LONG* pTimeBias, FLOAT* pPercentDeadband, DWORD* pLCID,
                                     OPCHANDLE* phClientGroup, OPCHANDLE* phServerGroup) override;
  HRESULT STDMETHODCALLTYPE SetState(DWORD* pRequestedUpdateRate, DWORD* pRevisedUpdateRate,
                                     BOOL* pActive, LONG* pTimeBias, FLOAT* pPercentDeadband,
                                     DWORD* pLCID, OPCHANDLE* phClientGroup) override;
  HRESULT STDMETHODCALLTYPE SetName(LPCWSTR szName) override;
  HRESULT STDMETHODCALLTYPE CloneGroup(LPCWSTR szName, REFIID riid, LPUNKNOWN* ppUnk) override;

  // IOPCItemMgt. Counts above 65536 are refused before anything is allocated.
  HRESULT STDMETHODCALLTYPE AddItems(DWORD dwCount, OPCITEMDEF* pItemArray,
                                     OPCITEMRESULT** ppAddResults, HRESULT** ppErrors) override;
  HRESULT STDMETHODCALLTYPE ValidateItems(DWORD dwCount, OPCITEMDEF* pItemArray, BOOL bBlobUpdate,
                                          OPCITEMRESULT** ppValidationResults,
                                          HRESULT** ppErrors) override;
  HRESULT STDMETHODCALLTYPE RemoveItems(DWORD dwCount, OPCHANDLE* phServer,
                                        HRESULT** ppErrors) override;
  HRESULT STDMETHODCALLTYPE SetActiveState(DWORD dwCount, OPCHANDLE* phServer, BOOL bActive,
                                           HRESULT** ppErrors) override;
  HRESULT STDMETHODCALLTYPE SetClientHandles(DWORD dwCount, OPCHANDLE* phServer,
                                             OPCHANDLE* phClient, HRESULT** ppErrors) override;
  HRESULT STDMETHODCALLTYPE SetDatatypes(DWORD dwCount, OPCHANDLE* phServer,
                                         VARTYPE* pRequestedDatatypes, HRESULT** ppErrors) override;
  HRESULT STDMETHODCALLTYPE CreateEnumerator(REFIID riid, LPUNKNOWN* ppUnk) override;

  // IOPCSyncIO.
  HRESULT STDMETHODCALLTYPE Read(OPCDATASOURCE dwSource, DWORD dwCount, OPCHANDLE* phServer,
                                 OPCITEMSTATE** ppItemValues, HRESULT** ppErrors) override;
  HRESULT STDMETHODCALLTYPE Write(DWORD dwCount, OPCHANDLE* phServer, VARIANT* pItemValues,
                                  HRESULT** ppErrors) override;

  // IOPCAsyncIO: connection 1 only (the one DAdvise hands out); the ids
  // come from NextTransactionID. Answers go to the connected sink.
  HRESULT STDMETHODCALLTYPE Read(DWORD dwConnection, OPCDATASOURCE dwSource, DWORD dwCount,
                                 OPCHANDLE* phServer, DWORD* pTransactionID,
                                 HRESULT** ppErrors) override;
  HRESULT STDMETHODCALLTYPE Write(DWORD dwConnection, DWORD dwCount, OPCHANDLE* phServer,
                                  VARIANT* pItemValues, DWORD* pTransactionID,
                                  HRESULT** ppErrors) override;
  HRESULT STDMETHODCALLTYPE Refresh(DWORD dwConnection, OPCDATASOURCE dwSource,
                                    DWORD* pTransactionID) override;
  HRESULT STDMETHODCALLTYPE Cancel(DWORD dwTransactionID) override;

  // IOPCAsyncIO2. Without a connected sink every asynchronous call answers
  // CONNECT_E_NOCONNECTION; a transaction cannot be cancelled (E_FAIL). The
  // client's id comes back as the cancel id and in the answer.
  HRESULT STDMETHODCALLTYPE Read(DWORD dwCount, OPCHANDLE* phServer, DWORD dwTransactionID,
                                 DWORD* pdwCancelID, HRESULT** ppErrors) override;
  HRESULT STDMETHODCALLTYPE Write(DWORD dwCount, OPCHANDLE* phServer, VARIANT* pItemValues,
                                  DWORD dwTransactionID, DWORD* pdwCancelID,
                                  HRESULT** ppErrors) override;
  HRESULT STDMETHODCALLTYPE Refresh2(OPCDATASOURCE dwSource, DWORD dwTransactionID,
                                     DWORD* pdwCancelID) override;
  HRESULT STDMETHODCALLTYPE Cancel2(DWORD dwCancelID) override;
  HRESULT STDMETHODCALLTYPE SetEnable(BOOL bEnable) override;
  HRESULT STDMETHODCALLTYPE GetEnable(BOOL* pbEnable) override;

  // IConnectionPointContainer: one point, for one IOPCDataCallback.
  HRESULT STDMETHODCALLTYPE EnumConnectionPoints(IEnumConnectionPoints** ppEnum) override;
  HRESULT STDMETHODCALLTYPE FindConnectionPoint(REFIID riid, IConnectionPoint** ppCP) override;

  // IDataObject: DAdvise and DUnadvise connect one DA 1.0 sink (connection
  // 1); the rest answer E_NOTIMPL with their outputs null. A group serves
  // one sink of either kind: a second gets CONNECT_E_ADVISELIMIT.
  HRESULT STDMETHODCALLTYPE GetData(FORMATETC* pformatetcIn, STGMEDIUM* pmedium) override;
  HRESULT STDMETHODCALLTYPE GetDataHere(FORMATETC* pformatetc, STGMEDIUM* pmedium) override;
  HRESULT STDMETHODCALLTYPE QueryGetData(FORMATETC* pformatetc) override;
  HRESULT STDMETHODCALLTYPE GetCanonicalFormatEtc(FORMATETC* pformatectIn,
                                                  FORMATETC* pformatetcOut) override;
  HRESULT STDMETHODCALLTYPE SetData(FORMATETC* pformatetc, STGMEDIUM* pmedium,
                                    BOOL fRelease) override;
  HRESULT STDMETHODCALLTYPE EnumFormatEtc(DWORD dwDirection,
                                          IEnumFORMATETC** ppenumFormatEtc) override;
  HRESULT STDMETHODCALLTYPE DAdvise(FORMATETC* pformatetc, DWORD advf, IAdviseSink* pAdvSink,
                                    DWORD* pdwConnection) override;
  HRESULT STDMETHODCALLTYPE DUnadvise(DWORD dwConnection) override;
  HRESULT STDMETHODCALLTYPE EnumDAdvise(IEnumSTATDATA** ppenumAdvise) override;

  // ---- State
  void Lock() { lock_.lock(); }
  void Unlock() { lock_.unlock(); }
  TPsOPCProviderClient* Client() const { return client_; }
  bool Deleted() const { return deleted_; }
  bool Active() const { return active_; }
  bool Enabled() const { return enabled_; }
  bool CallbackConnected() const { return callbackConnected_; }
  std::string GroupName() const;
  DWORD UpdateRate() const override { return updateRate_; }
  OPCHANDLE ClientHandle() const { return clientHandle_; }
  OPCHANDLE ServerHandle() const { return serverHandle_; }
  void SetServerHandle(OPCHANDLE handle) { serverHandle_ = handle; }
  bool UseLocalTime() const { return useLocalTime_; }
  // The machine's bias (minutes, UTC = local + bias) with local time
  // stamps, else the stored one.
  LONG GetTimeBias() const;
  // A variable's UTC time stamp as the client sees it: local time, or UTC
  // minus the bias.
  FILETIME ConvertTimeStamp(vcl::TDateTime utc) const;

  // The setters; each does nothing when the value does not change.
  void SetActive(bool active);
  void SetEnabled(bool enabled);
  // E_INVALIDARG for an empty name, OPC_E_DUPLICATENAME for a sibling's.
  void SetGroupName(const std::string& name);
  // A rate below 10 becomes 10.
  void SetUpdateRate(DWORD rate);
  void SetTimeBias(LONG bias);
  void SetPercentDeadband(FLOAT deadband);
  void SetLCID(LCID lcid);
  // Stores the name without asking the client (its AddGroup checked it).
  void StoreName(const std::string& name);

  // ---- Items (each under the group lock)
  int GetItemCount();
  TPsOPCProviderItem* GetItems(int index);
  // The item with the server handle, or none.
  TPsOPCProviderItem* FindItem(OPCHANDLE serverHandle);
  std::string ItemIDOf(OPCHANDLE serverHandle);

  // The per-item step: item (or none) and request position; its result.
  using TItemStep = std::function<HRESULT(TPsOPCProviderItem* item, DWORD position)>;
  // Runs `step` for every handle under the group lock (an unknown handle
  // gives OPC_E_INVALIDHANDLE unless `passMissing`), returns the results in
  // a new task block (*errors), then DoRequest. S_OK, S_FALSE when an item
  // failed, E_INVALIDARG for no handles or more than 65536.
  HRESULT ForEachItem(DWORD count, const OPCHANDLE* serverHandles, const std::string& name,
                      bool passMissing, const TItemStep& step, HRESULT** errors);

  uint32_t NextTransactionID() { return ++transactionCounter_; }

  // ---- The pending data change and the callback thread (under the lock)
  // An item's state changed while it is active: its entry in the pending
  // data change is its latest state. An item no longer listed is ignored.
  void ItemChange(TPsOPCProviderItem* item);
  TPsOPCCallbackTransactionPtr GetDataChangeTransaction() override;
  bool DataChangePending() override;
  void LogLine(const std::string& line) override;
  void StateChange();
  void UpdateItemsActiveState();
  // Callback disconnected, deleted, every item removed, no client.
  void FinishGroup();
  void Clear();

  // The window of the group's server, where writes are committed; 0 without
  // a client or a server. Takes the group lock.
  vcl::TWindowHandle ServerWindow();
  // Carries a write to the main thread and waits for it; false when it was
  // not committed there.
  bool SynchronizeTransaction(TPsOPCProviderWriteTransaction& transaction);
  // Main thread: writes each accepted entry's value to its item.
  void FinishTransaction(TPsOPCProviderWriteTransaction& transaction);
  // Main thread, an asynchronous write posted with the group held: commits
  // it, then queues its answer, or frees it when no sink is left.
  void FinishAsyncTransaction(std::unique_ptr<TPsOPCProviderWriteTransaction> transaction);

  // "%s: " and the group's name before the line, to the client's log.
  template <class... Args>
  void Log(std::string_view format, const Args&... args);

  TPsOPCGroupRequestEvent OnRequest;
  TPsOPCGroupStateEvent OnStateChange;

 private:
  friend class TPsOPCProviderClient;
  // Item changes reach the group through it; the group's end waits for
  // changes in progress.
  struct ChangeGate {
    std::mutex mutex;
    std::condition_variable idle;
    TPsOPCProviderGroup* group = nullptr;
    int inProgress = 0;
  };

  void LogText(const std::string& text);
  void DoRequest(const std::string& name, const HRESULT* errors, const OPCHANDLE* handles,
                 DWORD count, HRESULT result);
  HRESULT AddOrValidateItems(DWORD count, OPCITEMDEF* definitions, bool add,
                             OPCITEMRESULT** results, HRESULT** errors);
  void RemoveItemAsync(TPsOPCProviderItem* item);
  // An item taken out of the list (or never in it): inactive, out of the
  // pending data change when it was listed, and freed on the main thread.
  // Under the group lock, which the caller took to take the item out.
  void ReleaseItem(TPsOPCProviderItem* item, bool listed);
  // SetClientHandles' step: the item's pending change, if any, moves to its
  // new handle.
  void ChangeClientHandle(TPsOPCProviderItem* item, OPCHANDLE handle);
  void SetItemStates();
  HRESULT CheckStatus(bool async, const std::string& name);
  // A read or refresh reads the cache or the device, nothing else.
  static bool IsDataSource(OPCDATASOURCE source) {
    return source == OPC_DS_CACHE || source == OPC_DS_DEVICE;
  }
  // An asynchronous read (kind tkRead) or refresh (tkDataChange): queued
  // when some item answered; the per-item results in *errors.
  HRESULT ReadOrRefreshAsync(OPCDATASOURCE source, DWORD count, const OPCHANDLE* serverHandles,
                             DWORD id, TPsOPCTransactionKind kind, const std::string& name,
                             HRESULT** errors);
  HRESULT Refresh1or2(OPCDATASOURCE source, DWORD id, const std::string& name);
  HRESULT WriteAsync(DWORD count, const OPCHANDLE* serverHandles, const VARIANT* values, DWORD id,
                     const std::string& name, HRESULT** errors);
  // Whether the item (or none) takes the value of a write; the value as the
  // write's own in `copy` (empty when refused), committed after the call.
  static HRESULT AcceptWrite(TPsOPCProviderItem* item, const VARIANT& value, VARIANT& copy);
  // Posts an asynchronous write to the main thread; false (nothing posted)
  // without the server's window.
  bool PostTransaction(std::unique_ptr<TPsOPCProviderWriteTransaction>& transaction);
  void CreateDataChangeTransaction();
  void FreeDataChangeTransaction();
  // Connects a sink: its thread runs, then the group counts as connected.
  void ConnectCallback(std::unique_ptr<TPsOPCProviderDataCallbackThread> thread, int kind);
  // Stops the callback thread (waited for when the group ends), frees the
  // pending data change.
  void DisconnectCallback();
  // Waits for the threads stopped so far (each that is not the caller's
  // own). Never under the group lock: a sink in a call may need it.
  void FinishStoppedThreads();
  void OnRegisterCallback(IUnknown* sink, bool connecting);
  ConnectionPoints& GetConnectionPoints();
  // The client's item change handler for a new item.
  void BindItem(TPsOPCProviderItem* item);
  void ClearDataChangeTransaction();
  void AckAllItems();
  // The listing client, held, unless it is going; then none.
  ComPtr<TPsOPCProviderClient> HoldOwner();
  void ClearOwner();

  // The client that lists the group (not referenced), until it lets the
  // group go; under ownerMutex_.
  std::mutex ownerMutex_;
  TPsOPCProviderClient* owner_;
  std::atomic<bool> destroying_{false};
  std::atomic<bool> callbackConnected_{false};
  std::atomic<TPsOPCProviderClient*> client_;
  std::atomic<uint32_t> transactionCounter_{100};
  std::recursive_mutex lock_;
  std::unique_ptr<TPsOPCProviderTransaction> dataChangeTransaction_;
  // The sink's kind (none, DA 1.0 advise, DA 2.0 callback), its thread,
  // and the threads stopped since, waited for when the group ends (never
  // under a lock: a sink in a call may need it).
  enum SinkKind { skNone, skAdvise, skDataCallback };
  int sinkKind_ = skNone;
  std::unique_ptr<TPsOPCProviderDataCallbackThread> callbackThread_;
  std::vector<std::unique_ptr<TPsOPCProviderDataCallbackThread>> stoppedThreads_;
  std::unique_ptr<ConnectionPoints> connectionPoints_;
  std::atomic<bool> deleted_{false};
  std::atomic<bool> enabled_{true};
  // Removed by the client while held: leaves the client's list with the
  // last outside reference.
  std::atomic<bool> removalPending_{false};
  TPsOPCProviderItemList items_;
  std::shared_ptr<ChangeGate> gate_;
  std::atomic<bool> useLocalTime_{false};
  std::atomic<bool> active_{false};
  std::atomic<OPCHANDLE> clientHandle_{0};
  mutable std::mutex nameMutex_;
  std::string groupName_;
  std::atomic<LCID> lcid_{0};
  std::atomic<FLOAT> percentDeadband_{0};
  std::atomic<OPCHANDLE> serverHandle_{0};
  std::atomic<LONG> timeBias_{0};
  std::atomic<DWORD> updateRate_{0};
};

// Holds the group lock for a scope.
class GroupLock {
 public:
  explicit GroupLock(TPsOPCProviderGroup& group) : group_(group) { group_.Lock(); }
  ~GroupLock() { group_.Unlock(); }
  GroupLock(const GroupLock&) = delete;
  GroupLock& operator=(const GroupLock&) = delete;

 private:
  TPsOPCProviderGroup& group_;
};

}  // namespace opcserver

#include "opcserver/PsOPCProviderClients.h"

namespace opcserver {

template <class... Args>
void TPsOPCProviderGroup::Log(std::string_view format, const Args&... args) {
  if (Client())
    LogText(vcl::Format(format, args...));
}

}  // namespace opcserver
