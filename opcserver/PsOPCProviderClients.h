// Unit PsOPCProviderClients: what an OPC client meets. One
// TPsOPCProviderClient per connecting client, made by the server's class
// object: the server interfaces (IOPCServer, IOPCCommon, IOPCItemProperties),
// browsing through a copy of the address space of its own, the IOPCShutdown
// connection point and ISupportErrorInfo. Also the string enumerator that
// browsing and the group names hand out.
//
// Every interface method keeps its exceptions inside (ComGuard) and answers
// E_FAIL once the client has no server: the server detaches its clients when
// it shuts down. The server holds one reference on each listed client; when
// a release leaves only that one, the client asks the server to let it go,
// and it is freed on the main thread.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "opcserver/OPCDA.h"
#include "opcserver/PsComUtils.h"
#include "opcserver/PsOPCProviderAddressSpace.h"
#include "toolkit/PsVariant.h"
#include "toolkit/PsVars.h"
#include "vcl/SysUtils.h"

namespace opcserver {

class TPsOPCProvider;
class TPsOPCProviderClient;
class TPsOPCProviderGroup;

// The value of item property `id` of a component, for an item of the
// variable property `varProp`: a component that is no variable answers only
// 101 (its name); other IDs unknown for it raise EPsOPCProviderError
// E_INVALIDARG "Unsupported ItemProperty, %d". Any thread.
toolkit::PsVariant GetComponentPropertyValue(TPsOPCProvider& server, DWORD id,
                                             vcl::TComponent* component,
                                             toolkit::TPsVarPropType varProp);

// The version fields of a server status from the four words of the program
// file's version (as PsGetFileVersion gives them: for 3.1.2.11 the words 3,
// 1, 11, 2): major, minor and build 3, 1, 2. Without a version: `fallback`,
// 0 and 0.
void SetStatusVersion(OPCSERVERSTATUS& status, const std::optional<std::array<uint16_t, 4>>& words,
                      int32_t fallback);

// Whether a name matches a browse filter (both in lower case, the filter
// without brackets). The filter's first '*' alone decides: none asks for the
// exact name, "*" for any, a final one for a prefix, a leading one for a
// suffix (where the first occurrence of the rest must end the name) or,
// when the rest holds another '*', for the rest without its last character
// anywhere in the name. A '*' anywhere else matches nothing.
bool IsMatch(std::string_view name, std::string_view filter);

// IEnumString over its own copy of a list of texts (UTF-8; each handed out
// as a new task-allocated wide string). Clone starts at the first text.
class TPsStringsEnumerator : public ComObject<IEnumString> {
 public:
  explicit TPsStringsEnumerator(std::vector<std::string> strings);

  // rgelt must hold celt entries; pceltFetched may be null only for one.
  HRESULT STDMETHODCALLTYPE Next(ULONG celt, LPOLESTR* rgelt, ULONG* pceltFetched) override;
  HRESULT STDMETHODCALLTYPE Skip(ULONG celt) override;
  HRESULT STDMETHODCALLTYPE Reset() override;
  HRESULT STDMETHODCALLTYPE Clone(IEnumString** ppEnum) override;

 private:
  std::mutex mutex_;
  const std::vector<std::string> strings_;
  size_t index_ = 0;
};

// A client's copy of the server's address space with a browse position of
// its own (-1: the root). Its references are its client's.
class TPsOPCProviderClientAddressSpace : public TPsOPCProviderAddressSpace,
                                         public IOPCBrowseServerAddressSpace {
 public:
  // Made for the client's server, with its separator and quote character,
  // and refreshed at once.
  TPsOPCProviderClientAddressSpace(TPsOPCProviderClient& client, TPsOPCProvider& server);
  std::string ClassName() const override { return "TPsOPCProviderClientAddressSpace"; }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppvObject) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;

  HRESULT STDMETHODCALLTYPE QueryOrganization(OPCNAMESPACETYPE* pNameSpaceType) override;
  HRESULT STDMETHODCALLTYPE ChangeBrowsePosition(OPCBROWSEDIRECTION dwBrowseDirection,
                                                 LPCWSTR szString) override;
  HRESULT STDMETHODCALLTYPE BrowseOPCItemIDs(OPCBROWSETYPE dwBrowseFilterType,
                                             LPCWSTR szFilterCriteria, VARTYPE vtDataTypeFilter,
                                             DWORD dwAccessRightsFilter,
                                             LPENUMSTRING* ppIEnumString) override;
  HRESULT STDMETHODCALLTYPE GetItemID(LPWSTR szItemDataID, LPWSTR* szItemID) override;
  HRESULT STDMETHODCALLTYPE BrowseAccessPaths(LPCWSTR szItemID,
                                              LPENUMSTRING* ppIEnumString) override;

  // The node of the browse position; -1 for the root.
  int BrowsePosition() const { return position_; }
  void ResetBrowsePosition() { position_ = -1; }
  // The server's tree refreshed (not forced) first; then whether the copy
  // is older than the server's tree.
  bool NeedsRefresh() override;
  // Deleting the node at the browse position returns it to the root.
  void Delete(int index) override;

 protected:
  // The server's tree copied under its lock; the browse position at the root.
  void DoRefresh() override;

 private:
  TPsOPCProviderClient& client_;
  TPsOPCProvider& server_;
  int position_ = -1;
};

class TPsOPCProviderClient : public ComObject<IOPCServer, IOPCCommon, IOPCItemProperties,
                                              IConnectionPointContainer, ISupportErrorInfo> {
 public:
  // Locale 2048, no server; the user name from the call's credentials
  // (empty when they cannot be read).
  TPsOPCProviderClient();
  ~TPsOPCProviderClient() override;

  // Adds IOPCBrowseServerAddressSpace: the client's copy of the address
  // space, made on first use and refreshed when it needs it.
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppvObject) override;
  // A release that leaves one reference, the server's, asks the server to
  // let the client go.
  ULONG STDMETHODCALLTYPE Release() override;

  // IOPCServer. A group's name is unique among the client's groups that are
  // not removed (PsOPCProviderClientsGroups.cpp).
  HRESULT STDMETHODCALLTYPE AddGroup(LPCWSTR szName, BOOL bActive, DWORD dwRequestedUpdateRate,
                                     OPCHANDLE hClientGroup, LONG* pTimeBias,
                                     FLOAT* pPercentDeadband, DWORD dwLCID,
                                     OPCHANDLE* phServerGroup, DWORD* pRevisedUpdateRate,
                                     REFIID riid, LPUNKNOWN* ppUnk) override;
  HRESULT STDMETHODCALLTYPE GetErrorString(HRESULT dwError, LCID dwLocale,
                                           LPWSTR* ppString) override;
  HRESULT STDMETHODCALLTYPE GetGroupByName(LPCWSTR szName, REFIID riid, LPUNKNOWN* ppUnk) override;
  HRESULT STDMETHODCALLTYPE GetStatus(OPCSERVERSTATUS** ppServerStatus) override;
  HRESULT STDMETHODCALLTYPE RemoveGroup(OPCHANDLE hServerGroup, BOOL bForce) override;
  HRESULT STDMETHODCALLTYPE CreateGroupEnumerator(OPCENUMSCOPE dwScope, REFIID riid,
                                                  LPUNKNOWN* ppUnk) override;

  // IOPCCommon.
  HRESULT STDMETHODCALLTYPE SetLocaleID(LCID dwLcid) override;
  HRESULT STDMETHODCALLTYPE GetLocaleID(LCID* pdwLcid) override;
  HRESULT STDMETHODCALLTYPE QueryAvailableLocaleIDs(DWORD* pdwCount, LCID** pdwLcid) override;
  HRESULT STDMETHODCALLTYPE GetErrorString(HRESULT dwError, LPWSTR* ppString) override;
  HRESULT STDMETHODCALLTYPE SetClientName(LPCWSTR szName) override;

  // IOPCItemProperties.
  HRESULT STDMETHODCALLTYPE QueryAvailableProperties(LPWSTR szItemID, DWORD* pdwCount,
                                                     DWORD** ppPropertyIDs, LPWSTR** ppDescriptions,
                                                     VARTYPE** ppvtDataTypes) override;
  HRESULT STDMETHODCALLTYPE GetItemProperties(LPWSTR szItemID, DWORD dwCount, DWORD* pdwPropertyIDs,
                                              VARIANT** ppvData, HRESULT** ppErrors) override;
  HRESULT STDMETHODCALLTYPE LookupItemIDs(LPWSTR szItemID, DWORD dwCount, DWORD* pdwPropertyIDs,
                                          LPWSTR** ppszNewItemIDs, HRESULT** ppErrors) override;

  // IConnectionPointContainer: one multi-connection point for IOPCShutdown,
  // made on first request.
  HRESULT STDMETHODCALLTYPE EnumConnectionPoints(IEnumConnectionPoints** ppEnum) override;
  HRESULT STDMETHODCALLTYPE FindConnectionPoint(REFIID riid, IConnectionPoint** ppCP) override;

  // ISupportErrorInfo: S_OK for the interfaces the client has, else S_FALSE.
  HRESULT STDMETHODCALLTYPE InterfaceSupportsErrorInfo(REFIID riid) override;

  // ---- The server's side
  // An identity no later client shares (messages name clients by it).
  uint64_t Serial() const { return serial_; }
  // The name from SetClientName, else the one the server gave (UTF-8).
  std::string ClientName() const;
  void SetName(const std::string& name);
  const std::string& UserName() const { return userName_; }
  LCID LocaleID() const { return LOCALE_SYSTEM_DEFAULT; }
  // The server, or none once detached.
  TPsOPCProvider* Provider() const;
  // Leaves the old server (RemoveClient), joins the new one (AddClient).
  void SetProvider(TPsOPCProvider* provider);
  // The server is none from now on; the server's own reference is not touched.
  void Detach();
  // The last update time (UTC) := now.
  void ClientUpdated();
  vcl::TDateTime LastUpdateTime() const;
  // ShutdownRequest(reason) to every advised sink, the last first.
  void Shutdown(const std::string& reason);
  // "%s: " and the client's name before the line, to the server's log.
  template <class... Args>
  void Log(std::string_view format, const Args&... args);
  // Sinks of the shutdown point (for tests and the server).
  size_t ShutdownSinkCount();

  // ---- Groups
  int GetGroupCount();
  // The listed group at the index, with a reference of its own.
  ComPtr<TPsOPCProviderGroup> GetGroups(int index);
  // Renames the group: OPC_E_DUPLICATENAME when a sibling has the name.
  void RenameGroup(TPsOPCProviderGroup* group, const std::string& name);
  // A group removed while held, now held by the client alone, leaves.
  void DropRemovedGroup(TPsOPCProviderGroup* group);
  // Every group removed as with force; the server's count follows.
  void RemoveAllGroups();

  // An interface call's hold on the server: the server while the client
  // has one, counted as a call in progress until the hold ends.
  class ServerCall {
   public:
    explicit ServerCall(const TPsOPCProviderClient& client);
    ~ServerCall();
    ServerCall(const ServerCall&) = delete;
    ServerCall& operator=(const ServerCall&) = delete;
    TPsOPCProvider* Get() const { return provider_; }
    // EOleSysError E_FAIL without a server.
    TPsOPCProvider& Required() const;

   private:
    TPsOPCProvider* provider_;
  };

 private:
  ConnectionPoints& Points();
  // Under groupsLock_: the first live group with the name, or -1.
  int IndexOfName(const std::string& name) const;
  std::string UniqueGroupName() const;
  // Takes the group off the list and gives up the client's reference.
  void DropGroup(TPsOPCProviderGroup* group, TPsOPCProvider* server);
  TPsOPCProviderClientAddressSpace& BrowseSpace(TPsOPCProvider& server);

  const uint64_t serial_;
  mutable std::recursive_mutex lock_;
  TPsOPCProvider* provider_ = nullptr;
  std::string name_;
  std::string userName_;
  vcl::TDateTime lastUpdate_ = 0;
  std::unique_ptr<ConnectionPoints> points_;
  ConnectionPoint* shutdownPoint_ = nullptr;
  std::unique_ptr<TPsOPCProviderClientAddressSpace> addressSpace_;
  // Each listed group holds one reference taken by the client.
  mutable std::recursive_mutex groupsLock_;
  std::vector<TPsOPCProviderGroup*> groups_;
};

}  // namespace opcserver

#include "opcserver/PsOPCProvider.h"

namespace opcserver {

template <class... Args>
void TPsOPCProviderClient::Log(std::string_view format, const Args&... args) {
  const ServerCall call(*this);
  if (call.Get())
    call.Get()->Log(std::string("%s: ").append(format), ClientName(), args...);
}

}  // namespace opcserver
