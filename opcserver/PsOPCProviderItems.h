// Unit PsOPCProviderItems: one OPC item of a group, the binding of a
// client's item definition to one property of one process variable.
// TPsOPCCustomItem holds what the OPC interfaces exchange about an item (its
// definition, handles, access rights, data types and current state);
// TPsOPCProviderItem adds the variable link, turns the variable's value,
// quality and time stamp into the item's state and tells its group of
// changes.
//
// Threads: the item lock guards the state, the cached types, the access
// rights and the link. Lock order: the group's lock before the item's; the
// item calls back into its group (OnChange) only after leaving its own lock.
// Items are freed on the main thread (the server's message 1025), where their
// variables announce their changes and may be freed: what other threads need
// of the variable they read under the link's lock (a snapshot, or
// ReadVariable), and no item holds its own lock while it writes to the
// variable, whose change other items hear under theirs.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "opcserver/OPCDA.h"
#include "platform/com/ComHandles.h"
#include "toolkit/PsVars.h"
#include "toolkit/PsVarsLink.h"
#include "vcl/Classes.h"

namespace opcserver {

class TPsOPCProviderGroup;

class TPsOPCCustomItem : public vcl::TPersistent {
 public:
  TPsOPCCustomItem();
  ~TPsOPCCustomItem() override;
  std::string ClassName() const override { return "TPsOPCCustomItem"; }

  std::string GetAccessPath() const;
  DWORD GetAccessRights() const { return accessRights_; }
  bool GetActive() const { return active_ != 0; }
  DWORD GetBlobSize() const { return blobSize_; }
  OPCHANDLE GetClientHandle() const { return clientHandle_; }
  std::string GetItemID() const;
  VARTYPE GetRequestedDataType() const { return requestedDataType_; }
  // The requested type when it is not VT_EMPTY, else the canonical one.
  VARTYPE GetDataType();
  virtual VARTYPE GetCanonicalDataType() { return canonicalDataType_; }
  OPCHANDLE ServerHandle() const { return serverHandle_; }
  void SetServerHandle(OPCHANDLE handle) { serverHandle_ = handle; }
  HRESULT Error() const;

  void SetAccessPath(const std::string& path);
  void SetItemID(const std::string& itemID);
  void SetActive(bool active);
  void SetClientHandle(OPCHANDLE handle);
  // Through SetRequestedDataType when it differs from GetDataType.
  void SetDataType(VARTYPE dataType);

 protected:
  void SetRequestedDataType(VARTYPE dataType);
  // The hooks: after the definition changed, after the active flag and the
  // client handle changed, before the requested type changes.
  virtual void Config() {}
  virtual void SetItemActive() {}
  virtual void SetItemClientHandle() {}
  virtual void SetItemDataType(VARTYPE /*dataType*/) {}

  // Guards the texts, the state and (in the provider item) the link; the
  // numbers are atomic, for readers that hold no lock.
  mutable std::recursive_mutex lock_;
  std::atomic<DWORD> accessRights_{OPC_READABLE};
  VARTYPE canonicalDataType_ = VT_EMPTY;
  HRESULT error_ = S_OK;
  // The definition.
  std::string accessPath_;
  std::string itemID_;
  std::atomic<BOOL> active_{1};
  std::atomic<OPCHANDLE> clientHandle_{0};
  DWORD blobSize_ = 0;
  std::atomic<VARTYPE> requestedDataType_{VT_EMPTY};
  std::atomic<OPCHANDLE> serverHandle_{static_cast<OPCHANDLE>(-1)};
  // The state; its value is an owned VARIANT.
  OPCITEMSTATE state_{};
};

// Whether a client may ask for the type: VT_NULL, the types no value
// converts to (VT_DISPATCH, VT_UNKNOWN, VT_DECIMAL, 15) and every code from
// 21 up (array and reference flags aside) are refused.
bool IsValidDataType(VARTYPE dataType);

class TPsOPCProviderItem : public TPsOPCCustomItem {
 public:
  // The link made inactive, bound to this item; `group` is required.
  explicit TPsOPCProviderItem(TPsOPCProviderGroup* group);
  // Inactive, the link inactive and freed.
  ~TPsOPCProviderItem() override;
  std::string ClassName() const override { return "TPsOPCProviderItem"; }

  void Lock() { lock_.lock(); }
  void UnLock() { lock_.unlock(); }

  TPsOPCProviderGroup* Group() const;
  // Cleared when the item leaves its group.
  void SetGroup(TPsOPCProviderGroup* group);
  // On the main thread: other threads read the variable through the link's
  // ReadVariable, as the item itself does.
  toolkit::TPsVar* Variable() const { return link_->Variable(); }
  toolkit::TPsVarPropType VarProp() const { return link_->VarProp(); }

  // Called with the item, while it is active, after its state was refreshed.
  // The group sets it on a COM thread while the main thread's variable
  // changes call it: set and read under a lock of its own.
  class TChangeEvent {
   public:
    using THandler = std::function<void(TPsOPCProviderItem* item)>;
    TChangeEvent& operator=(THandler handler) {
      const std::lock_guard lock(mutex_);
      handler_ = std::move(handler);
      return *this;
    }
    THandler Get() const {
      const std::lock_guard lock(mutex_);
      return handler_;
    }

   private:
    mutable std::mutex mutex_;
    THandler handler_;
  };
  TChangeEvent OnChange;

  // The definition's error, or S_OK with the variable and property found.
  HRESULT ValidateItemDef(const OPCITEMDEF& definition, toolkit::TPsVar*& variable,
                          toolkit::TPsVarPropType& varProp);
  // Validates, then stores the definition, links the variable, updates the
  // access rights and takes the first state. Its result.
  HRESULT SetOPCItemDef(const OPCITEMDEF& definition);
  // The stored definition; its item ID is `itemID`, which the caller keeps.
  OPCITEMDEF GetOPCItemDef(const platform::com::WideString& itemID) const;
  void GetItemResult(OPCITEMRESULT& result);
  // Fills the caller's record (a new task copy of the item ID, the EU info).
  void GetItemAttributes(OPCITEMATTRIBUTES& attributes);
  OPCEUTYPE GetEUType() const;
  // The EU info into `info` (an empty VARIANT the caller owns).
  void GetEUInfo(VARIANT& info) const;

  // The state copied into `state` (whose value must be empty) as the source
  // sees it: OPC_DS_DEVICE refreshes it first (SetItemState, outside the
  // item lock); OPC_DS_CACHE reports an inactive item or group as out of
  // service, now. Its result is Error.
  HRESULT GetItemState(OPCITEMSTATE& state, OPCDATASOURCE source);
  // Refreshes the state from the variable, then Change.
  void SetItemState();
  // Writes the value to the variable as the item's type; S_OK or the
  // result the failure maps to.
  HRESULT SetValue(const VARIANT& value);
  void UpdateAccessRights();

  VARTYPE GetCanonicalDataType() override;

 protected:
  void Config() override { UpdateAccessRights(); }
  void SetItemActive() override;
  void SetItemClientHandle() override;
  // Refuses a type IsValidDataType refuses (EVariantTypeCastError "DataType
  // %d not supported"); otherwise stores it and refreshes the state.
  void SetItemDataType(VARTYPE dataType) override;

 private:
  void SetItemStateValue(WORD quality, const toolkit::PsVariant& value, HRESULT error,
                         vcl::TDateTime timeStamp);
  FILETIME ConvertTime(vcl::TDateTime utc) const;
  void Change();
  // The variable's configuration changed (its rights, its type, its
  // range), or the link's own: Config with the type found anew.
  void VarConfig();
  // The server of the item's group, when the group is live and has one.
  class TPsOPCProvider* Server() const;

  std::unique_ptr<toolkit::TPsVarLink> link_;
  TPsOPCProviderGroup* group_;
};

}  // namespace opcserver
