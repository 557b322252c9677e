// Unit PsOPCProvider: the one OPC server object of the process. It owns the
// class object that hands a client object to every connecting OPC client,
// the list of those clients, the address space, the server's line log, the
// server handle counter and a message window on the main thread, through
// which everything that must not run on a COM thread (starting, stopping,
// logging, disconnecting clients, committing writes) reaches the main
// thread.
//
// States: not configured (3) from creation, running (1) from Run, suspended
// (4) from Shutdown. Client creations wait while the server is not
// configured and fail once it is suspended.
//
// Threads: Run, Shutdown, DoLog, DoDisconnect and the window's messages run
// on the main thread; AddClient, RemoveClient, NextHandle and Log on any.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "opcserver/OPCDA.h"
#include "opcserver/PsComUtils.h"
#include "opcserver/PsOPCProviderAddressSpace.h"
#include "toolkit/PsClasses.h"
#include "toolkit/PsVars.h"
#include "vcl/Classes.h"
#include "vcl/MessageWindow.h"
#include "vcl/SysUtils.h"

namespace opcserver {

class TPsOPCProvider;
class TPsOPCProviderClient;
class TPsOPCProviderGroup;
class TPsOPCProviderWriteTransaction;

// The messages of the server's window.
inline constexpr uint32_t kShutdownMessage = 10;      // wParam low byte 0: Shutdown("")
inline constexpr uint32_t kRunMessage = 28;           // wParam low byte not 0: Run
inline constexpr uint32_t kCommitMessage = 1024;      // wParam group, lParam write transaction
inline constexpr uint32_t kFreeObjectMessage = 1025;  // wParam a vcl::TObject to free
inline constexpr uint32_t kLogMessage = 1027;         // the next queued log text
inline constexpr uint32_t kDisconnectMessage = 1028;  // wParam a client's Serial

// The class object. CreateInstance waits until the server runs (the startup
// event), fails once it is shut down, and otherwise makes a client object
// and gives it the server.
class TPsOPCProviderClientFactory : public ComClassFactory {
 public:
  TPsOPCProviderClientFactory(TPsOPCProvider& provider, const CLSID& classID, std::string className,
                              std::string description);
  ~TPsOPCProviderClientFactory() override;

  const CLSID& ClassID() const { return classID_; }
  const std::string& ClassName() const { return className_; }
  const std::string& Description() const { return description_; }
  // The class name as it stands.
  const std::string& GetProgID() const { return className_; }

  // Sets the startup event: waiting and later creations go on.
  void Activate();
  bool Activated() const;
  // The server is going away: creations fail from now on.
  void Detach();

  // Registers the class object for local-server activation by every client
  // (multiple use); RevokeClassObject takes it back. Registering twice, or
  // revoking what is not registered, does nothing.
  HRESULT RegisterClassObject();
  void RevokeClassObject();
  bool Registered() const { return cookie_ != 0; }

 protected:
  // Waits without a time limit for the startup event; raises EAbort
  // "Server shut down." when the server is then suspended.
  ComPtr<IUnknown> CreateObject() override;

 private:
  TPsOPCProvider* provider_;  // under startupMutex_
  const CLSID classID_;
  const std::string className_;
  const std::string description_;
  mutable std::mutex startupMutex_;
  std::condition_variable startup_;
  bool started_ = false;
  DWORD cookie_ = 0;
};

using TPsOPCClientEvent = std::function<void(vcl::TObject* sender, TPsOPCProviderClient* client)>;
using TPsOPCGroupEvent = std::function<void(vcl::TObject* sender, TPsOPCProviderClient* client,
                                            TPsOPCProviderGroup* group)>;
using TPsOPCLogEvent = std::function<void(vcl::TObject* sender, const std::string& line)>;
using TPsOPCShutdownEvent = std::function<void(vcl::TObject* sender, const std::string& reason)>;
using TPsOPCFindItemEvent =
    std::function<void(vcl::TObject* sender, const std::string& itemID, vcl::TComponent*& component,
                       toolkit::TPsVarPropType& varProp)>;
using TPsOPCAccessRightsEvent =
    std::function<void(vcl::TObject* sender, vcl::TComponent* component,
                       toolkit::TPsVarPropType varProp, DWORD& accessRights)>;
using TPsOPCItemDataTypeEvent =
    std::function<void(vcl::TObject* sender, vcl::TComponent* component,
                       toolkit::TPsVarPropType varProp, VARTYPE& dataType)>;

// What an item ID names: one property of a component, offering all item
// properties (1) or the standard ones (2).
enum TPsOPCItemKind { ikAllProperties = 1, ikStandardProperties = 2 };

class TPsOPCProvider : public vcl::TObject {
 public:
  // Active, not configured, started now; its log (active, no file),
  // address space and window made.
  TPsOPCProvider();
  // Shutdown with no reason, unless it was shut down already; the class
  // object revoked and told that the server goes; waits for interface calls
  // in progress; then frees the window, the factory, the log and the address
  // space.
  ~TPsOPCProvider() override;
  TPsOPCProvider(const TPsOPCProvider&) = delete;
  TPsOPCProvider& operator=(const TPsOPCProvider&) = delete;

  // ---- Identity (changeable only while not configured)
  const CLSID& ClassID() const { return classID_; }
  // EPsOPCProviderException "Cannot change TPsOPCProvider.%s when running."
  // with "ClassID/CLSID" when running or suspended and the id differs.
  void SetClassID(const CLSID& classID);
  // The braced text; CO_E_CLASSSTRING (EOleSysError) for a malformed one.
  void SetCLSID(const std::string& text);
  std::string GetCLSID() const;
  const std::string& ServerName() const { return serverName_; }
  void SetServerName(const std::string& name);
  void CheckNotRunning(const std::string& propertyName) const;
  // After the identity is set: the factory (InitObjectFactory), state 3,
  // and message 28 posted when Active.
  virtual void Initialize();

  std::string Description;
  std::string Vendor;
  std::string VendorInfo;
  int32_t Version = 0;
  bool ReadOnly = false;
  // Copied into UseLocalTime by groups made without a time bias.
  bool LocalTimeWithoutBias = true;

  // ---- State
  bool Active() const { return active_; }
  void SetActive(bool active) { active_ = active; }
  OPCSERVERSTATE State() const { return state_; }
  vcl::TDateTime StartTime() const { return startTime_; }
  // Starts the server when it is not running: the startup event set, state
  // 1, DoActivate. Main thread.
  void Run();
  // State 4; every client, last first, told ShutdownRequest(reason) and
  // disconnected; inactive; OnShutdown; the startup event set so that
  // waiting creations fail; then a pause of 100 ms. Main thread.
  void Shutdown(const std::string& reason);

  // ---- Clients
  // Takes a reference on the client and lists it (its index is the
  // result); an unnamed client is named "Client %d" with that index;
  // DoConnect.
  int AddClient(TPsOPCProviderClient* client);
  // Asks the main thread to disconnect the client (message 1028, without
  // waiting; at once on the main thread). Its index, or -1 when unlisted.
  int RemoveClient(TPsOPCProviderClient* client);
  int GetClientCount() const;
  // The client at the index, with a reference of its own.
  ComPtr<TPsOPCProviderClient> GetClients(int index) const;
  // The listed clients, each with a reference.
  std::vector<ComPtr<TPsOPCProviderClient>> ClientList() const;

  // ---- Groups of all clients
  // The group count up, the next server handle for the group (returned),
  // OnAddGroup; RemoveGroup: OnRemoveGroup, the count down.
  OPCHANDLE AddGroup(TPsOPCProviderClient* client, TPsOPCProviderGroup* group);
  void RemoveGroup(TPsOPCProviderClient* client, TPsOPCProviderGroup* group);
  int32_t GroupCount() const { return groupCount_; }

  // ---- Server lock, handles, log
  // The last handle given out, plus one; the first is 1.
  OPCHANDLE NextHandle();
  void Lock() { lock_.lock(); }
  void Unlock() { lock_.unlock(); }
  // Formats the line under the server lock and hands it to the main thread
  // (message 1027, without waiting), where DoLog writes it. Any thread.
  template <class... Args>
  void Log(std::string_view format, const Args&... args) {
    LogText([&] { return vcl::Format(format, args...); });
  }
  toolkit::TPsLog& GetLog() { return *log_; }

  // ---- Items (see TPsOPCProviderAddressSpace)
  TPsOPCProviderAddressSpace& AddressSpace() { return *addressSpace_; }
  // The component and property kind an item ID names: the whole ID as a
  // path of the tree (exactly, case included), else the part before a
  // final property name ("vpCaption") as a component path of the
  // application; then OnFindItem. An empty ID raises
  // EPsOPCProviderInvalidItemID, one naming nothing
  // EPsOPCProviderUnknownItemID. Any thread.
  TPsOPCItemKind FindItem(const std::string& itemID, vcl::TComponent*& component,
                          toolkit::TPsVarPropType& varProp);
  // OPC_READABLE, and OPC_WRITEABLE for the value of a writable variable
  // and its limits and set point, unless the server is ReadOnly; then
  // OnGetAccessRights. Any thread: an item asks under its link's lock,
  // which keeps the variable, so OnGetAccessRights reads the component and
  // takes no lock.
  DWORD GetComponentAccessRights(vcl::TComponent* component, toolkit::TPsVarPropType varProp);
  // The variant type of the property of a variable (with VT_ARRAY for an
  // array), VT_EMPTY for other components; then OnGetItemDataType.
  VARTYPE GetComponentDataType(vcl::TComponent* component, toolkit::TPsVarPropType varProp);
  // The item ID of a property of a variable by component names:
  // "Owner/Variable/vpCaption"; the bare property name without a variable.
  std::string VarPropToItemID(toolkit::TPsVarPropType varProp, vcl::TComponent* variable) const;

  TPsOPCProviderClientFactory& Factory() { return *factory_.Get(); }
  vcl::TWindowHandle Window() const { return window_->Handle(); }

  // ---- Events
  vcl::TNotifyEvent OnActivate;
  TPsOPCClientEvent OnConnect;
  TPsOPCClientEvent OnDisconnect;
  TPsOPCFindItemEvent OnFindItem;
  TPsOPCAccessRightsEvent OnGetAccessRights;
  TPsOPCItemDataTypeEvent OnGetItemDataType;
  TPsOPCLogEvent OnLog;
  TPsOPCShutdownEvent OnShutdown;
  TPsOPCGroupEvent OnAddGroup;
  TPsOPCGroupEvent OnRemoveGroup;

  // ---- Main thread
  // The window's messages (see the constants above); -1 for any other.
  virtual intptr_t HandleMessage(uint32_t msg, uintptr_t wParam, intptr_t lParam);
  // When still listed: "Client '%s' disconnected.", off the list,
  // OnDisconnect, detached from this server, the server's reference given up.
  virtual void DoDisconnect(TPsOPCProviderClient* client);
  // The line log's line, then OnLog.
  virtual void DoLog(const std::string& text);

  // ---- Interface calls in progress (see TPsOPCProviderClient)
  void EnterCall() { ++calls_; }
  void LeaveCall() { --calls_; }
  // Handles the event loop's messages until no call is in progress.
  void WaitForCalls();

 protected:
  virtual void InitObjectFactory();
  virtual void DoFindItem(const std::string& itemID, vcl::TComponent*& component,
                          toolkit::TPsVarPropType& varProp);
  virtual void DoGetAccessRights(vcl::TComponent* component, toolkit::TPsVarPropType varProp,
                                 DWORD& accessRights);
  virtual void Changed() {}
  // The address space refreshed, OnActivate, the start line.
  virtual void DoActivate();
  virtual void DoAddGroup(TPsOPCProviderClient* client, TPsOPCProviderGroup* group);
  // OnConnect, then "Client '%s' connected.".
  virtual void DoConnect(TPsOPCProviderClient* client);
  virtual void DoRemoveGroup(TPsOPCProviderClient* client, TPsOPCProviderGroup* group);
  virtual void DoShutdown(const std::string& reason);
  // Message 1024 while running and the group's client is connected: the
  // group commits its write transaction; an asynchronous one (`owned`) is
  // then answered through the group's callback thread.
  virtual void CommitTransaction(TPsOPCProviderGroup* group,
                                 TPsOPCProviderWriteTransaction& transaction,
                                 std::unique_ptr<TPsOPCProviderWriteTransaction> owned);

 private:
  void LogText(const std::function<std::string()>& format);
  void DisconnectClient(uint64_t serial);

  std::atomic<bool> active_{false};
  CLSID classID_{};
  std::string serverName_;
  std::atomic<OPCSERVERSTATE> state_{OPC_STATUS_NOCONFIG};
  vcl::TDateTime startTime_;

  mutable std::recursive_mutex clientsLock_;
  std::vector<TPsOPCProviderClient*> clients_;  // each with the server's reference
  std::atomic<int32_t> groupCount_{0};
  std::recursive_mutex lock_;
  OPCHANDLE lastHandle_ = 0;
  std::deque<std::string> pendingLog_;  // under lock_
  std::atomic<int> calls_{0};

  std::unique_ptr<toolkit::TPsLog> log_;
  std::unique_ptr<TPsOPCProviderAddressSpace> addressSpace_;
  ComPtr<TPsOPCProviderClientFactory> factory_;
  std::unique_ptr<vcl::TMessageWindow> window_;
};

}  // namespace opcserver
