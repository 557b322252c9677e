#include "opcserver/PsOPCProvider.h"

#include <algorithm>
#include <thread>

#include "opcserver/PsOPC.h"
#include "opcserver/PsOPCProviderClients.h"
#include "opcserver/PsOPCProviderGroups.h"
#include "opcserver/PsOPCTransactions.h"
#include "platform/EventLoop.h"
#include "toolkit/Debugs.h"
#include "toolkit/PsUtils.h"
#include "toolkit/psRTTI.h"
#include "vcl/Forms.h"

namespace opcserver {

// ---- TPsOPCProviderClientFactory ------------------------------------------------

TPsOPCProviderClientFactory::TPsOPCProviderClientFactory(TPsOPCProvider& provider,
                                                         const CLSID& classID,
                                                         std::string className,
                                                         std::string description)
    : provider_(&provider),
      classID_(classID),
      className_(std::move(className)),
      description_(std::move(description)) {}

TPsOPCProviderClientFactory::~TPsOPCProviderClientFactory() {
  RevokeClassObject();
}

void TPsOPCProviderClientFactory::Activate() {
  {
    const std::lock_guard lock(startupMutex_);
    started_ = true;
  }
  startup_.notify_all();
}

bool TPsOPCProviderClientFactory::Activated() const {
  const std::lock_guard lock(startupMutex_);
  return started_;
}

void TPsOPCProviderClientFactory::Detach() {
  {
    const std::lock_guard lock(startupMutex_);
    provider_ = nullptr;
    started_ = true;
  }
  startup_.notify_all();
}

HRESULT TPsOPCProviderClientFactory::RegisterClassObject() {
  if (cookie_ != 0)
    return S_OK;
  return CoRegisterClassObject(classID_, static_cast<IClassFactory*>(this), CLSCTX_LOCAL_SERVER,
                               REGCLS_MULTIPLEUSE, &cookie_);
}

void TPsOPCProviderClientFactory::RevokeClassObject() {
  if (cookie_ == 0)
    return;
  CoRevokeClassObject(cookie_);
  cookie_ = 0;
}

ComPtr<IUnknown> TPsOPCProviderClientFactory::CreateObject() {
  TPsOPCProvider* provider = nullptr;
  {
    std::unique_lock lock(startupMutex_);
    startup_.wait(lock, [this] { return started_; });
    provider = provider_;
    if (provider)
      provider->EnterCall();
  }
  struct LeaveOnExit {
    TPsOPCProvider* provider;
    ~LeaveOnExit() {
      if (provider)
        provider->LeaveCall();
    }
  } leave{provider};
  if (!provider || provider->State() == OPC_STATUS_SUSPENDED)
    throw vcl::EAbort("Server shut down.");
  const ComPtr<TPsOPCProviderClient> client = MakeComObject<TPsOPCProviderClient>();
  client->SetProvider(provider);
  return ComPtr<IUnknown>(static_cast<IOPCServer*>(client.Get()));
}

// ---- TPsOPCProvider ------------------------------------------------------------

TPsOPCProvider::TPsOPCProvider()
    : startTime_(toolkit::NowUTC()),
      log_(std::make_unique<toolkit::TPsLog>()),
      addressSpace_(std::make_unique<TPsOPCProviderAddressSpace>(this)),
      window_(std::make_unique<vcl::TMessageWindow>([this](vcl::TMessage& message) {
        message.Result = HandleMessage(message.Msg, message.WParam, message.LParam);
      })) {
  const toolkit::DebugScope trace("TPsOPCProvider.Create", this);
  active_ = true;
  // The server's lines are kept in memory; nobody names a file for them.
  log_->Active = true;
}

TPsOPCProvider::~TPsOPCProvider() {
  const toolkit::DebugScope trace("TPsOPCProvider.Destroy", this);
  try {
    // The program's end shuts the server down before its windows go; the
    // clients are told once.
    if (state_ != OPC_STATUS_SUSPENDED)
      Shutdown("");
  } catch (const std::exception& error) {
    toolkit::DebugException(error);
  }
  if (factory_) {
    factory_->Detach();
    factory_->RevokeClassObject();
  }
  WaitForCalls();
  // What was posted to the window meanwhile owns what it carries (an
  // asynchronous write holds its group): handled, not dropped.
  platform::MainLoop().ProcessMessages();
  window_.reset();
  factory_.Reset();
}

void TPsOPCProvider::SetClassID(const CLSID& classID) {
  if (IsEqualCLSID(classID, classID_))
    return;
  CheckNotRunning("ClassID/CLSID");
  classID_ = classID;
  Changed();
}

void TPsOPCProvider::SetCLSID(const std::string& text) {
  CLSID classID{};
  OleCheck(CLSIDFromString(platform::com::Utf8ToWide(text).c_str(), &classID));
  SetClassID(classID);
}

std::string TPsOPCProvider::GetCLSID() const {
  return platform::com::GuidToString(classID_);
}

void TPsOPCProvider::SetServerName(const std::string& name) {
  if (name == serverName_)
    return;
  CheckNotRunning("ServerName");
  serverName_ = name;
  Changed();
}

void TPsOPCProvider::CheckNotRunning(const std::string& propertyName) const {
  const OPCSERVERSTATE state = state_;
  if (state == OPC_STATUS_RUNNING || state == OPC_STATUS_SUSPENDED)
    throw EPsOPCProviderException(
        vcl::Format("Cannot change TPsOPCProvider.%s when running.", propertyName));
}

void TPsOPCProvider::Initialize() {
  const toolkit::DebugScope trace("TPsOPCProvider.Initialize", this);
  InitObjectFactory();
  state_ = OPC_STATUS_NOCONFIG;
  // Run follows once the event loop handles messages, after every window
  // of the program is made.
  if (active_)
    vcl::PostMessage(Window(), kRunMessage, 1, 0);
}

void TPsOPCProvider::InitObjectFactory() {
  factory_ = MakeComObject<TPsOPCProviderClientFactory>(*this, classID_, serverName_, Description);
}

void TPsOPCProvider::Run() {
  const toolkit::DebugScope trace("TPsOPCProvider.Run", this);
  if (state_ == OPC_STATUS_RUNNING)
    return;
  if (factory_)
    factory_->Activate();
  state_ = OPC_STATUS_RUNNING;
  DoActivate();
}

void TPsOPCProvider::DoActivate() {
  addressSpace_->Refresh(false);
  if (OnActivate)
    OnActivate(this);
  Log("Server started. ProgID=%s, CLSID=%s, Version=%d, Vendor=%s, VendorInfo=%s, ReadOnly=%s",
      serverName_, GetCLSID(), Version, Vendor, VendorInfo, toolkit::BoolToText(ReadOnly));
}

void TPsOPCProvider::Shutdown(const std::string& reason) {
  const toolkit::DebugScope trace("TPsOPCProvider.Shutdown", this);
  std::vector<ComPtr<TPsOPCProviderClient>> clients;
  {
    // Clients that join from now on are refused (AddClient), so this list
    // holds every client there is.
    const std::lock_guard lock(clientsLock_);
    state_ = OPC_STATUS_SUSPENDED;
    clients = ClientList();
  }
  for (auto client = clients.rbegin(); client != clients.rend(); ++client) {
    (*client)->Shutdown(reason);
    std::this_thread::yield();
    // No group of a client that is gone reads a variable any more.
    (*client)->RemoveAllGroups();
    DoDisconnect(client->Get());
  }
  clients.clear();
  active_ = false;
  DoShutdown(reason);
  if (factory_)
    factory_->Activate();
  platform::MainLoop().Sleep(100);
}

void TPsOPCProvider::DoShutdown(const std::string& reason) {
  if (OnShutdown)
    OnShutdown(this, reason);
}

int TPsOPCProvider::AddClient(TPsOPCProviderClient* client) {
  int index = 0;
  {
    const std::lock_guard lock(clientsLock_);
    if (state_ == OPC_STATUS_SUSPENDED)
      throw vcl::EAbort("Server shut down.");
    client->AddRef();
    clients_.push_back(client);
    index = static_cast<int>(clients_.size()) - 1;
  }
  if (client->ClientName().empty())
    client->SetName(vcl::Format("Client %d", index));
  DoConnect(client);
  return index;
}

void TPsOPCProvider::DoConnect(TPsOPCProviderClient* client) {
  if (OnConnect)
    OnConnect(this, client);
  Log("Client '%s' connected.", client->ClientName());
}

int TPsOPCProvider::RemoveClient(TPsOPCProviderClient* client) {
  int index = -1;
  uint64_t serial = 0;
  {
    const std::lock_guard lock(clientsLock_);
    const auto found = std::find(clients_.begin(), clients_.end(), client);
    if (found == clients_.end())
      return -1;
    index = static_cast<int>(found - clients_.begin());
    serial = client->Serial();
  }
  // The client is named by its serial: the message may find it gone, and
  // its address taken by a newer client.
  vcl::SendNotifyMessage(Window(), kDisconnectMessage, static_cast<uintptr_t>(serial), 0);
  return index;
}

void TPsOPCProvider::DisconnectClient(uint64_t serial) {
  TPsOPCProviderClient* client = nullptr;
  {
    const std::lock_guard lock(clientsLock_);
    for (TPsOPCProviderClient* listed : clients_)
      if (listed->Serial() == serial)
        client = listed;
  }
  // Listed clients leave the list on this thread only: it stays alive.
  if (client)
    DoDisconnect(client);
}

void TPsOPCProvider::DoDisconnect(TPsOPCProviderClient* client) {
  const toolkit::DebugScope trace("TPsOPCProvider.DoDisconnect", this);
  {
    const std::lock_guard lock(clientsLock_);
    if (std::find(clients_.begin(), clients_.end(), client) == clients_.end())
      return;
  }
  Log("Client '%s' disconnected.", client->ClientName());
  {
    const std::lock_guard lock(clientsLock_);
    clients_.erase(std::find(clients_.begin(), clients_.end(), client));
  }
  if (OnDisconnect)
    OnDisconnect(this, client);
  // Detached before the server's reference goes: once it is given up,
  // another thread's release may free the client at any moment.
  if (client->Provider() == this)
    client->Detach();
  client->Release();
}

int TPsOPCProvider::GetClientCount() const {
  const std::lock_guard lock(clientsLock_);
  return static_cast<int>(clients_.size());
}

ComPtr<TPsOPCProviderClient> TPsOPCProvider::GetClients(int index) const {
  const std::lock_guard lock(clientsLock_);
  if (index < 0 || index >= static_cast<int>(clients_.size()))
    throw vcl::EListError(vcl::Format("List index out of bounds (%d)", index));
  return ComPtr<TPsOPCProviderClient>(clients_[index]);
}

std::vector<ComPtr<TPsOPCProviderClient>> TPsOPCProvider::ClientList() const {
  const std::lock_guard lock(clientsLock_);
  std::vector<ComPtr<TPsOPCProviderClient>> list;
  for (TPsOPCProviderClient* client : clients_)
    list.emplace_back(client);
  return list;
}

OPCHANDLE TPsOPCProvider::AddGroup(TPsOPCProviderClient* client, TPsOPCProviderGroup* group) {
  ++groupCount_;
  const OPCHANDLE handle = NextHandle();
  DoAddGroup(client, group);
  return handle;
}

void TPsOPCProvider::RemoveGroup(TPsOPCProviderClient* client, TPsOPCProviderGroup* group) {
  DoRemoveGroup(client, group);
  --groupCount_;
}

void TPsOPCProvider::DoAddGroup(TPsOPCProviderClient* client, TPsOPCProviderGroup* group) {
  if (OnAddGroup)
    OnAddGroup(this, client, group);
}

void TPsOPCProvider::DoRemoveGroup(TPsOPCProviderClient* client, TPsOPCProviderGroup* group) {
  if (OnRemoveGroup)
    OnRemoveGroup(this, client, group);
}

TPsOPCItemKind TPsOPCProvider::FindItem(const std::string& itemID, vcl::TComponent*& component,
                                        toolkit::TPsVarPropType& varProp) {
  if (itemID.empty())
    throw EPsOPCProviderInvalidItemID();
  const char separator = addressSpace_->PathSeparator();
  std::string componentPath = itemID;
  varProp = toolkit::vpValue;
  TPsOPCItemKind kind = addressSpace_->PropertyLeaves() ? ikAllProperties : ikStandardProperties;
  const size_t split = itemID.rfind(separator);
  if (split != std::string::npos) {
    const std::vector<std::string>& names = toolkit::VarPropTypeInfo().EnumNames;
    const auto name = std::find(names.begin(), names.end(), itemID.substr(split + 1));
    if (name != names.end()) {
      varProp = static_cast<toolkit::TPsVarPropType>(name - names.begin());
      componentPath = itemID.substr(0, split);
      kind = ikStandardProperties;
    }
  }
  component = nullptr;
  {
    const TreeLock lock(*addressSpace_);
    const int node = addressSpace_->IndexOfItemID(itemID);
    if (node >= 0)
      component = dynamic_cast<vcl::TComponent*>(addressSpace_->GetObj(node));
    else if (toolkit::PsApplication())
      component = toolkit::PsApplication()->FindComponent(componentPath, separator);
  }
  DoFindItem(itemID, component, varProp);
  if (!component)
    throw EPsOPCProviderUnknownItemID(itemID);
  return kind;
}

void TPsOPCProvider::DoFindItem(const std::string& itemID, vcl::TComponent*& component,
                                toolkit::TPsVarPropType& varProp) {
  if (OnFindItem)
    OnFindItem(this, itemID, component, varProp);
}

DWORD TPsOPCProvider::GetComponentAccessRights(vcl::TComponent* component,
                                               toolkit::TPsVarPropType varProp) {
  const auto* variable = dynamic_cast<const toolkit::TPsVar*>(component);
  if (ReadOnly || !variable)
    return OPC_READABLE;
  DWORD rights = OPC_READABLE | OPC_WRITEABLE;
  switch (varProp) {
    case toolkit::vpValue:
      if (variable->ReadOnly())
        rights = OPC_READABLE;
      break;
    case toolkit::vpAlarmLow:
    case toolkit::vpAlarmHigh:
    case toolkit::vpWarnLow:
    case toolkit::vpWarnHigh:
    case toolkit::vpSetpoint:
      break;
    default:
      rights = OPC_READABLE;
  }
  DoGetAccessRights(component, varProp, rights);
  return rights;
}

void TPsOPCProvider::DoGetAccessRights(vcl::TComponent* component, toolkit::TPsVarPropType varProp,
                                       DWORD& accessRights) {
  if (OnGetAccessRights)
    OnGetAccessRights(this, component, varProp, accessRights);
}

VARTYPE TPsOPCProvider::GetComponentDataType(vcl::TComponent* component,
                                             toolkit::TPsVarPropType varProp) {
  VARTYPE dataType = VT_EMPTY;
  if (const auto* variable = dynamic_cast<const toolkit::TPsVar*>(component))
    dataType = toolkit::PsVarDataTypeToVarType(variable->GetPropDataType(varProp),
                                               variable->GetPropIsArray(varProp));
  if (OnGetItemDataType)
    OnGetItemDataType(this, component, varProp, dataType);
  return dataType;
}

std::string TPsOPCProvider::VarPropToItemID(toolkit::TPsVarPropType varProp,
                                            vcl::TComponent* variable) const {
  std::string itemID = toolkit::VarPropTypeInfo().EnumNames.at(varProp);
  if (!dynamic_cast<const toolkit::TPsVar*>(variable))
    return itemID;
  const char separator = addressSpace_->PathSeparator();
  itemID = variable->Name() + separator + itemID;
  if (variable->Owner())
    itemID = variable->Owner()->Name() + separator + itemID;
  return itemID;
}

OPCHANDLE TPsOPCProvider::NextHandle() {
  const std::lock_guard lock(lock_);
  return ++lastHandle_;
}

void TPsOPCProvider::LogText(const std::function<std::string()>& format) {
  {
    const std::lock_guard lock(lock_);
    pendingLog_.push_back(format());
  }
  // Sent after the lock is given back: on the main thread the line is
  // written at once, and OnLog must not run under the server lock.
  vcl::SendNotifyMessage(Window(), kLogMessage, 0, 0);
}

void TPsOPCProvider::DoLog(const std::string& text) {
  const std::string line = log_->AddLine(text);
  if (OnLog)
    OnLog(this, line);
}

intptr_t TPsOPCProvider::HandleMessage(uint32_t msg, uintptr_t wParam, intptr_t lParam) {
  switch (msg) {
    case kShutdownMessage:
      if ((wParam & 0xFF) == 0)
        Shutdown("");
      return 0;
    case kRunMessage:
      if ((wParam & 0xFF) != 0 && active_)
        Run();
      return 0;
    case kCommitMessage: {
      auto* group = reinterpret_cast<TPsOPCProviderGroup*>(wParam);
      auto* transaction = reinterpret_cast<TPsOPCProviderWriteTransaction*>(lParam);
      // An asynchronous write was posted with its group held and hands its
      // transaction over: both are let go here on every path.
      ComPtr<TPsOPCProviderGroup> held;
      std::unique_ptr<TPsOPCProviderWriteTransaction> owned;
      if (transaction->Async) {
        held = ComPtr<TPsOPCProviderGroup>::Adopt(group);
        owned.reset(transaction);
      }
      if (state_ == OPC_STATUS_RUNNING) {
        try {
          CommitTransaction(group, *transaction, std::move(owned));
        } catch (const std::exception& error) {
          toolkit::DebugException(error);
        } catch (...) {
        }
      }
      return 0;
    }
    case kFreeObjectMessage:
      try {
        vcl::FreeObject(reinterpret_cast<vcl::TObject*>(wParam));
      } catch (const std::exception& error) {
        toolkit::DebugException(error);
      } catch (...) {
      }
      return 0;
    case kLogMessage: {
      std::string text;
      {
        const std::lock_guard lock(lock_);
        if (pendingLog_.empty())
          return 0;
        text = std::move(pendingLog_.front());
        pendingLog_.pop_front();
      }
      DoLog(text);
      return 0;
    }
    case kDisconnectMessage:
      DisconnectClient(static_cast<uint64_t>(wParam));
      return 0;
    default:
      return -1;
  }
}

void TPsOPCProvider::CommitTransaction(TPsOPCProviderGroup* group,
                                       TPsOPCProviderWriteTransaction& transaction,
                                       std::unique_ptr<TPsOPCProviderWriteTransaction> owned) {
  TPsOPCProviderClient* client = group->Client();
  {
    const std::lock_guard lock(clientsLock_);
    if (!client || std::find(clients_.begin(), clients_.end(), client) == clients_.end())
      return;
  }
  if (owned)
    group->FinishAsyncTransaction(std::move(owned));
  else
    group->FinishTransaction(transaction);
}

void TPsOPCProvider::WaitForCalls() {
  platform::EventLoop& loop = platform::MainLoop();
  while (calls_ > 0) {
    loop.ProcessMessages();
    std::this_thread::yield();
  }
}

}  // namespace opcserver
