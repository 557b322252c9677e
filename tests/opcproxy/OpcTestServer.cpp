// A local OPC server for the proxy/stub test, started by COM through its
// LocalServer32 key. Its one class answers a few methods of IOPCServer,
// IOPCCommon, IOPCBrowseServerAddressSpace and IOPCItemProperties with the
// values of OpcTestServer.h, each different, so a method called in another's
// slot or a field out of place shows in the client; the rest answer
// E_NOTIMPL. It ends when its last object is gone, or after a minute without.
#include <atomic>
#include <string>

#include "OpcTestServer.h"
#include "opcserver/PsComUtils.h"

namespace {

using namespace korva_test;
using opcserver::ComPtr;
using platform::com::Utf8ToWide;
using platform::com::WideToTaskMem;
using platform::com::WideToUtf8;

HANDLE lastObjectGone = nullptr;

template <class T>
T* TaskArray(size_t count) {
  return static_cast<T*>(CoTaskMemAlloc(count * sizeof(T)));
}

HRESULT TaskText(const std::string& text, LPWSTR* out) {
  if (!out)
    return E_POINTER;
  *out = WideToTaskMem(Utf8ToWide(text));
  return *out ? S_OK : E_OUTOFMEMORY;
}

class TestServer final
    : public opcserver::ComObject<IOPCServer, IOPCCommon, IOPCBrowseServerAddressSpace,
                                  IOPCItemProperties> {
 public:
  TestServer() { CoAddRefServerProcess(); }
  ~TestServer() override {
    if (CoReleaseServerProcess() == 0)
      SetEvent(lastObjectGone);
  }

  // IOPCServer
  HRESULT STDMETHODCALLTYPE AddGroup(LPCWSTR, BOOL, DWORD, OPCHANDLE, LONG*, FLOAT*, DWORD,
                                     OPCHANDLE*, DWORD*, REFIID, LPUNKNOWN*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE GetErrorString(HRESULT dwError, LCID dwLocale,
                                           LPWSTR* ppString) override {
    return TaskText(TestErrorText(dwError, dwLocale), ppString);
  }
  HRESULT STDMETHODCALLTYPE GetGroupByName(LPCWSTR, REFIID, LPUNKNOWN*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE GetStatus(OPCSERVERSTATUS** ppServerStatus) override {
    if (!ppServerStatus)
      return E_POINTER;
    OPCSERVERSTATUS* status = TaskArray<OPCSERVERSTATUS>(1);
    if (!status)
      return E_OUTOFMEMORY;
    *status = {};
    status->ftStartTime = TestTime(0);
    status->ftCurrentTime = TestTime(1);
    status->ftLastUpdateTime = TestTime(2);
    status->dwServerState = OPC_STATUS_TEST;
    status->dwGroupCount = kStatusGroupCount;
    status->dwBandWidth = kStatusBandWidth;
    status->wMajorVersion = kStatusMajor;
    status->wMinorVersion = kStatusMinor;
    status->wBuildNumber = kStatusBuild;
    status->szVendorInfo = WideToTaskMem(Utf8ToWide(kVendorInfo));
    *ppServerStatus = status;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE RemoveGroup(OPCHANDLE, BOOL) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE CreateGroupEnumerator(OPCENUMSCOPE, REFIID, LPUNKNOWN*) override {
    return E_NOTIMPL;
  }

  // IOPCCommon
  HRESULT STDMETHODCALLTYPE SetLocaleID(LCID dwLcid) override {
    for (LCID offered : kTestLocales)
      if (offered == dwLcid) {
        locale_ = dwLcid;
        return S_OK;
      }
    return E_INVALIDARG;
  }
  HRESULT STDMETHODCALLTYPE GetLocaleID(LCID* pdwLcid) override {
    if (!pdwLcid)
      return E_POINTER;
    *pdwLcid = locale_;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE QueryAvailableLocaleIDs(DWORD* pdwCount, LCID** pdwLcid) override {
    if (!pdwCount || !pdwLcid)
      return E_POINTER;
    *pdwLcid = TaskArray<LCID>(std::size(kTestLocales));
    if (!*pdwLcid)
      return E_OUTOFMEMORY;
    *pdwCount = static_cast<DWORD>(std::size(kTestLocales));
    for (size_t i = 0; i < std::size(kTestLocales); ++i)
      (*pdwLcid)[i] = kTestLocales[i];
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetErrorString(HRESULT dwError, LPWSTR* ppString) override {
    return TaskText(TestErrorText(dwError, locale_), ppString);
  }
  HRESULT STDMETHODCALLTYPE SetClientName(LPCWSTR) override { return S_OK; }

  // IOPCBrowseServerAddressSpace
  HRESULT STDMETHODCALLTYPE QueryOrganization(OPCNAMESPACETYPE* pNameSpaceType) override {
    if (!pNameSpaceType)
      return E_POINTER;
    *pNameSpaceType = OPC_NS_FLAT;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE ChangeBrowsePosition(OPCBROWSEDIRECTION, LPCWSTR) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE BrowseOPCItemIDs(OPCBROWSETYPE, LPCWSTR, VARTYPE, DWORD,
                                             LPENUMSTRING*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE GetItemID(LPWSTR szItemDataID, LPWSTR* szItemID) override {
    return TaskText(TestItemId(WideToUtf8(szItemDataID)), szItemID);
  }
  HRESULT STDMETHODCALLTYPE BrowseAccessPaths(LPCWSTR, LPENUMSTRING*) override { return E_NOTIMPL; }

  // IOPCItemProperties
  HRESULT STDMETHODCALLTYPE QueryAvailableProperties(LPWSTR, DWORD* pdwCount, DWORD** ppPropertyIDs,
                                                     LPWSTR** ppDescriptions,
                                                     VARTYPE** ppvtDataTypes) override {
    if (!pdwCount || !ppPropertyIDs || !ppDescriptions || !ppvtDataTypes)
      return E_POINTER;
    const size_t count = std::size(kTestPropertyIds);
    *pdwCount = static_cast<DWORD>(count);
    *ppPropertyIDs = TaskArray<DWORD>(count);
    *ppDescriptions = TaskArray<LPWSTR>(count);
    *ppvtDataTypes = TaskArray<VARTYPE>(count);
    for (size_t i = 0; i < count; ++i) {
      (*ppPropertyIDs)[i] = kTestPropertyIds[i];
      (*ppDescriptions)[i] = WideToTaskMem(Utf8ToWide(kTestPropertyNames[i]));
      (*ppvtDataTypes)[i] = kTestPropertyTypes[i];
    }
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetItemProperties(LPWSTR, DWORD, DWORD*, VARIANT**,
                                              HRESULT**) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE LookupItemIDs(LPWSTR szItemID, DWORD dwCount, DWORD* pdwPropertyIDs,
                                          LPWSTR** ppszNewItemIDs, HRESULT** ppErrors) override {
    if (!szItemID || !pdwPropertyIDs || !ppszNewItemIDs || !ppErrors)
      return E_POINTER;
    *ppszNewItemIDs = TaskArray<LPWSTR>(dwCount);
    *ppErrors = TaskArray<HRESULT>(dwCount);
    for (DWORD i = 0; i < dwCount; ++i) {
      (*ppszNewItemIDs)[i] =
          WideToTaskMem(Utf8ToWide(TestPropertyItemId(WideToUtf8(szItemID), pdwPropertyIDs[i])));
      (*ppErrors)[i] = S_OK;
    }
    return S_OK;
  }

 private:
  std::atomic<LCID> locale_{kTestLocales[0]};
};

class TestServerFactory final : public opcserver::ComClassFactory {
 protected:
  ComPtr<IUnknown> CreateObject() override {
    return opcserver::MakeComObject<TestServer>().As<IUnknown>();
  }
};

}  // namespace

int main() {
  lastObjectGone = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (!lastObjectGone || FAILED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)))
    return 1;
  int status = 1;
  {
    const ComPtr<TestServerFactory> factory = opcserver::MakeComObject<TestServerFactory>();
    DWORD cookie = 0;
    if (SUCCEEDED(CoRegisterClassObject(CLSID_KorvaTestOpcServer, factory.Get(),
                                        CLSCTX_LOCAL_SERVER, REGCLS_MULTIPLEUSE, &cookie))) {
      status = WaitForSingleObject(lastObjectGone, 60000) == WAIT_OBJECT_0 ? 0 : 2;
      CoRevokeClassObject(cookie);
    }
  }
  CoUninitialize();
  CloseHandle(lastObjectGone);
  return status;
}
