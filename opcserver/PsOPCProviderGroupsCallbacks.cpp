// The group's subscriptions: the pending data change its callback thread
// takes, the one sink of either kind (a DA 1.0 advise sink through
// IDataObject, a DA 2.0 data callback through the connection point), and the
// asynchronous reads, refreshes and writes whose answers that thread sends.
#include <algorithm>

#include "opcserver/PsOPC.h"
#include "opcserver/PsOPCProvider.h"
#include "opcserver/PsOPCProviderGroups.h"
#include "opcserver/PsOPCProviderItems.h"
#include "opcserver/PsOPCTransactions.h"
#include "platform/com/ComHandles.h"
#include "toolkit/Debugs.h"
#include "vcl/Forms.h"

namespace opcserver {
namespace {

// The one connection DAdvise hands out.
constexpr DWORD kAdviseConnection = 1;

void ClearOutput(DWORD* output) {
  if (output)
    *output = 0;
}

void ClearOutput(HRESULT** output) {
  if (output)
    *output = nullptr;
}

}  // namespace

// ---- The pending data change ------------------------------------------------------

void TPsOPCProviderGroup::CreateDataChangeTransaction() {
  const GroupLock lock(*this);
  if (dataChangeTransaction_)
    return;
  dataChangeTransaction_ = std::make_unique<TPsOPCProviderTransaction>(this, 0, tkDataChange);
  dataChangeTransaction_->SetCapacity(static_cast<int64_t>(items_.size()));
  dataChangeTransaction_->IndexClientHandles();
}

void TPsOPCProviderGroup::FreeDataChangeTransaction() {
  const GroupLock lock(*this);
  dataChangeTransaction_.reset();
}

TPsOPCCallbackTransactionPtr TPsOPCProviderGroup::GetDataChangeTransaction() {
  const GroupLock lock(*this);
  if (!dataChangeTransaction_ || dataChangeTransaction_->Count() == 0)
    return nullptr;
  TPsOPCCallbackTransactionPtr taken = std::move(dataChangeTransaction_);
  CreateDataChangeTransaction();
  if (TPsOPCProviderClient* client = Client())
    client->ClientUpdated();
  return taken;
}

bool TPsOPCProviderGroup::DataChangePending() {
  const GroupLock lock(*this);
  return dataChangeTransaction_ && dataChangeTransaction_->Count() > 0;
}

void TPsOPCProviderGroup::LogLine(const std::string& line) {
  Log("%s", line);
}

// ---- Sinks -------------------------------------------------------------------------

void TPsOPCProviderGroup::ConnectCallback(std::unique_ptr<TPsOPCProviderDataCallbackThread> thread,
                                          int kind) {
  const GroupLock lock(*this);
  callbackThread_ = std::move(thread);
  sinkKind_ = kind;
  // Connected only once the thread runs: a refused sink leaves no trace.
  callbackConnected_ = true;
  CreateDataChangeTransaction();
  AckAllItems();
}

void TPsOPCProviderGroup::DisconnectCallback() {
  const GroupLock lock(*this);
  sinkKind_ = skNone;
  if (!callbackThread_)
    return;
  callbackThread_->StopThread();
  stoppedThreads_.push_back(std::move(callbackThread_));
  FreeDataChangeTransaction();
  Log("Callback Disconnected");
}

void TPsOPCProviderGroup::FinishStoppedThreads() {
  std::vector<std::unique_ptr<TPsOPCProviderDataCallbackThread>> stopped;
  {
    const GroupLock lock(*this);
    stopped.swap(stoppedThreads_);
  }
  for (auto& thread : stopped)
    TPsOPCProviderDataCallbackThread::Finish(std::move(thread));
}

ConnectionPoints& TPsOPCProviderGroup::GetConnectionPoints() {
  const GroupLock lock(*this);
  if (!connectionPoints_) {
    connectionPoints_ =
        std::make_unique<ConnectionPoints>(static_cast<IConnectionPointContainer&>(*this));
    connectionPoints_->Add(
        IID_IOPCDataCallback, ConnectKind::Single,
        [this](IUnknown* sink, bool connecting) { OnRegisterCallback(sink, connecting); });
  }
  return *connectionPoints_;
}

void TPsOPCProviderGroup::OnRegisterCallback(IUnknown* sink, bool connecting) {
  if (!connecting) {
    {
      // The leaving sink still counts; a DA 1.0 sink is not this point's.
      const GroupLock lock(*this);
      if (sinkKind_ != skDataCallback)
        return;
      callbackConnected_ = false;
      DisconnectCallback();
    }
    FinishStoppedThreads();
    return;
  }
  const GroupLock lock(*this);
  try {
    if (deleted_)
      throw EOleSysError("", E_FAIL);
    if (sinkKind_ != skNone)
      throw EOleSysError("", CONNECT_E_ADVISELIMIT);
    const ComPtr<IOPCDataCallback> callback = CheckedCast<IOPCDataCallback>(sink);
    ConnectCallback(TPsOPCProviderDataCallbackThread::Create<TPsOPCProviderOPCDataCallbackThread>(
                        *this, callback.Get()),
                    skDataCallback);
    Log("Callback Connected");
  } catch (const std::exception& error) {
    Log("Callback connection failed: %s", error.what());
    throw;
  }
}

HRESULT TPsOPCProviderGroup::EnumConnectionPoints(IEnumConnectionPoints** ppEnum) {
  return ComGuard([&] { return GetConnectionPoints().EnumConnectionPoints(ppEnum); });
}

HRESULT TPsOPCProviderGroup::FindConnectionPoint(REFIID riid, IConnectionPoint** ppCP) {
  return ComGuard([&] { return GetConnectionPoints().FindConnectionPoint(riid, ppCP); });
}

HRESULT TPsOPCProviderGroup::DAdvise(FORMATETC* pformatetc, DWORD, IAdviseSink* pAdvSink,
                                     DWORD* pdwConnection) {
  return ComGuard([&] {
    if (!pdwConnection)
      return E_POINTER;
    *pdwConnection = 0;
    if (!pformatetc || !pAdvSink)
      return E_INVALIDARG;
    HRESULT result = S_OK;
    {
      const GroupLock lock(*this);
      if (deleted_) {
        result = E_FAIL;
      } else if (sinkKind_ != skNone) {
        result = CONNECT_E_ADVISELIMIT;
      } else {
        ConnectCallback(
            TPsOPCProviderDataCallbackThread::Create<TPsOPCProviderAdviseCallbackThread>(
                *this, pformatetc->cfFormat, pAdvSink),
            skAdvise);
        *pdwConnection = kAdviseConnection;
      }
    }
    Log("IAdviseSink.DAdvise: Result=$%x", result);
    return result;
  });
}

HRESULT TPsOPCProviderGroup::DUnadvise(DWORD dwConnection) {
  return ComGuard([&] {
    {
      const GroupLock lock(*this);
      // Only the DA 1.0 connection: a DA 2.0 sink leaves through its point.
      if (sinkKind_ != skAdvise || dwConnection != kAdviseConnection)
        return OLE_E_NOCONNECTION;
      callbackConnected_ = false;
      DisconnectCallback();
    }
    FinishStoppedThreads();
    return S_OK;
  });
}

HRESULT TPsOPCProviderGroup::GetData(FORMATETC*, STGMEDIUM* pmedium) {
  if (pmedium)
    *pmedium = STGMEDIUM{};
  return E_NOTIMPL;
}

HRESULT TPsOPCProviderGroup::GetDataHere(FORMATETC*, STGMEDIUM*) {
  return E_NOTIMPL;
}

HRESULT TPsOPCProviderGroup::QueryGetData(FORMATETC*) {
  return E_NOTIMPL;
}

HRESULT TPsOPCProviderGroup::GetCanonicalFormatEtc(FORMATETC*, FORMATETC* pformatetcOut) {
  if (pformatetcOut)
    *pformatetcOut = FORMATETC{};
  return E_NOTIMPL;
}

HRESULT TPsOPCProviderGroup::SetData(FORMATETC*, STGMEDIUM*, BOOL) {
  return E_NOTIMPL;
}

HRESULT TPsOPCProviderGroup::EnumFormatEtc(DWORD, IEnumFORMATETC** ppenumFormatEtc) {
  if (ppenumFormatEtc)
    *ppenumFormatEtc = nullptr;
  return E_NOTIMPL;
}

HRESULT TPsOPCProviderGroup::EnumDAdvise(IEnumSTATDATA** ppenumAdvise) {
  if (ppenumAdvise)
    *ppenumAdvise = nullptr;
  return E_NOTIMPL;
}

// ---- Asynchronous reads and refreshes -------------------------------------------------

HRESULT TPsOPCProviderGroup::ReadOrRefreshAsync(OPCDATASOURCE source, DWORD count,
                                                const OPCHANDLE* serverHandles, DWORD id,
                                                TPsOPCTransactionKind kind, const std::string& name,
                                                HRESULT** errors) {
  *errors = nullptr;
  std::unique_ptr<TPsOPCProviderTransaction> transaction;
  HRESULT result = S_OK;
  {
    const GroupLock lock(*this);
    result = CheckStatus(true, name);
    if (FAILED(result))
      return result;
    transaction = std::make_unique<TPsOPCProviderTransaction>(this, id, kind);
    transaction->Async = true;
    transaction->Source = source;
    transaction->SetCapacity(std::min<int64_t>(count, TPsOPCTransaction::MaxEntries));
    // One entry per found item; unknown handles only in the errors.
    result = ForEachItem(
        count, serverHandles, name, false,
        [&transaction](TPsOPCProviderItem* item, DWORD) {
          return transaction->Error(transaction->AckItem(item, true));
        },
        errors);
    if (SUCCEEDED(result) && transaction->HasOKItems() && callbackThread_)
      callbackThread_->AddTransaction(std::move(transaction));
  }
  Log("%s: Result=$%x", name, result);
  return result;
}

HRESULT TPsOPCProviderGroup::Refresh1or2(OPCDATASOURCE source, DWORD id, const std::string& name) {
  std::vector<OPCHANDLE> handles;
  {
    const GroupLock lock(*this);
    if (!active_ || items_.empty())
      return E_FAIL;
    for (TPsOPCProviderItem* item : items_)
      if (item->GetActive())
        handles.push_back(item->ServerHandle());
    if (handles.empty() || handles.size() > static_cast<size_t>(TPsOPCTransaction::MaxEntries))
      return E_FAIL;
    // The refresh carries every active item.
    ClearDataChangeTransaction();
  }
  HRESULT* errors = nullptr;
  const HRESULT result = ReadOrRefreshAsync(source, static_cast<DWORD>(handles.size()),
                                            handles.data(), id, tkDataChange, name, &errors);
  TPsOPCAlloc::FreeResultList(errors);
  if (FAILED(result))
    Log("%s: Result=$%x", name, result);
  return result;
}

// ---- Asynchronous writes ----------------------------------------------------------------

HRESULT TPsOPCProviderGroup::WriteAsync(DWORD count, const OPCHANDLE* serverHandles,
                                        const VARIANT* values, DWORD id, const std::string& name,
                                        HRESULT** errors) {
  *errors = nullptr;
  if (!values)
    return E_INVALIDARG;
  std::unique_ptr<TPsOPCProviderWriteTransaction> transaction;
  HRESULT result = S_OK;
  {
    const GroupLock lock(*this);
    result = CheckStatus(true, name);
    if (FAILED(result))
      return result;
    transaction = std::make_unique<TPsOPCProviderWriteTransaction>(this, id);
    transaction->Async = true;
    transaction->SetCapacity(std::min<int64_t>(count, TPsOPCTransaction::MaxEntries));
    // Only accepted items get an entry.
    result = ForEachItem(
        count, serverHandles, name, false,
        [&transaction, values](TPsOPCProviderItem* item, DWORD position) {
          platform::com::OleVariant value;
          const HRESULT error = AcceptWrite(item, values[position], *value);
          if (error == S_OK)
            transaction->Add(item, *value);
          return error;
        },
        errors);
  }
  if (SUCCEEDED(result) && transaction->Count() > 0)
    PostTransaction(transaction);
  return result;
}

bool TPsOPCProviderGroup::PostTransaction(
    std::unique_ptr<TPsOPCProviderWriteTransaction>& transaction) {
  const vcl::TWindowHandle window = ServerWindow();
  // The message holds the group and owns the transaction until handled.
  AddRef();
  if (window && vcl::PostMessage(window, kCommitMessage, reinterpret_cast<uintptr_t>(this),
                                 reinterpret_cast<intptr_t>(transaction.get()))) {
    transaction.release();
    return true;
  }
  Release();
  return false;
}

void TPsOPCProviderGroup::FinishAsyncTransaction(
    std::unique_ptr<TPsOPCProviderWriteTransaction> transaction) {
  FinishTransaction(*transaction);
  const GroupLock lock(*this);
  // Without a thread any more there is nobody to answer: it is dropped.
  if (callbackThread_)
    callbackThread_->AddTransaction(std::move(transaction));
}

// ---- IOPCAsyncIO -----------------------------------------------------------------------

HRESULT TPsOPCProviderGroup::Read(DWORD dwConnection, OPCDATASOURCE dwSource, DWORD dwCount,
                                  OPCHANDLE* phServer, DWORD* pTransactionID, HRESULT** ppErrors) {
  ClearOutput(pTransactionID);
  ClearOutput(ppErrors);
  return ComGuard([&] {
    if (!pTransactionID || !ppErrors)
      return E_INVALIDARG;
    if (dwConnection != kAdviseConnection)
      return CONNECT_E_NOCONNECTION;
    if (!IsDataSource(dwSource))
      return E_INVALIDARG;
    const DWORD id = NextTransactionID();
    const HRESULT result =
        ReadOrRefreshAsync(dwSource, dwCount, phServer, id, tkRead, "IOPCAsyncIO.Read", ppErrors);
    if (SUCCEEDED(result))
      *pTransactionID = id;
    return result;
  });
}

HRESULT TPsOPCProviderGroup::Write(DWORD dwConnection, DWORD dwCount, OPCHANDLE* phServer,
                                   VARIANT* pItemValues, DWORD* pTransactionID,
                                   HRESULT** ppErrors) {
  ClearOutput(pTransactionID);
  ClearOutput(ppErrors);
  return ComGuard([&] {
    if (!pTransactionID || !ppErrors)
      return E_INVALIDARG;
    if (dwConnection != kAdviseConnection)
      return CONNECT_E_NOCONNECTION;
    const DWORD id = NextTransactionID();
    *pTransactionID = id;
    return WriteAsync(dwCount, phServer, pItemValues, id, "IOPCAsyncIO.Write", ppErrors);
  });
}

HRESULT TPsOPCProviderGroup::Refresh(DWORD dwConnection, OPCDATASOURCE dwSource,
                                     DWORD* pTransactionID) {
  ClearOutput(pTransactionID);
  return ComGuard([&] {
    if (!pTransactionID)
      return E_INVALIDARG;
    if (dwConnection != kAdviseConnection)
      return CONNECT_E_NOCONNECTION;
    if (!IsDataSource(dwSource))
      return E_INVALIDARG;
    const DWORD id = NextTransactionID();
    const HRESULT result = Refresh1or2(dwSource, id, "IOPCAsyncIO.Refresh");
    if (SUCCEEDED(result))
      *pTransactionID = id;
    return result;
  });
}

HRESULT TPsOPCProviderGroup::Cancel(DWORD) {
  return E_FAIL;
}

// ---- IOPCAsyncIO2 ----------------------------------------------------------------------

HRESULT TPsOPCProviderGroup::Read(DWORD dwCount, OPCHANDLE* phServer, DWORD dwTransactionID,
                                  DWORD* pdwCancelID, HRESULT** ppErrors) {
  ClearOutput(pdwCancelID);
  ClearOutput(ppErrors);
  return ComGuard([&] {
    if (!pdwCancelID || !ppErrors)
      return E_INVALIDARG;
    const HRESULT result = ReadOrRefreshAsync(OPC_DS_DEVICE, dwCount, phServer, dwTransactionID,
                                              tkRead, "IOPCAsyncIO2.Read", ppErrors);
    if (SUCCEEDED(result))
      *pdwCancelID = dwTransactionID;
    return result;
  });
}

HRESULT TPsOPCProviderGroup::Write(DWORD dwCount, OPCHANDLE* phServer, VARIANT* pItemValues,
                                   DWORD dwTransactionID, DWORD* pdwCancelID, HRESULT** ppErrors) {
  ClearOutput(pdwCancelID);
  ClearOutput(ppErrors);
  return ComGuard([&] {
    if (!pdwCancelID || !ppErrors)
      return E_INVALIDARG;
    *pdwCancelID = dwTransactionID;
    return WriteAsync(dwCount, phServer, pItemValues, dwTransactionID, "IOPCAsyncIO2.Write",
                      ppErrors);
  });
}

HRESULT TPsOPCProviderGroup::Refresh2(OPCDATASOURCE dwSource, DWORD dwTransactionID,
                                      DWORD* pdwCancelID) {
  ClearOutput(pdwCancelID);
  return ComGuard([&] {
    if (!pdwCancelID || !IsDataSource(dwSource))
      return E_INVALIDARG;
    const HRESULT result = Refresh1or2(dwSource, dwTransactionID, "IOPCAsyncIO2.Refresh2");
    if (SUCCEEDED(result))
      *pdwCancelID = dwTransactionID;
    return result;
  });
}

HRESULT TPsOPCProviderGroup::Cancel2(DWORD) {
  return E_FAIL;
}

}  // namespace opcserver
