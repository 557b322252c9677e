// The stand-in's component categories manager: what a class implements or
// requires, kept as the platform keeps it, as keys below the class's key in
// HKEY_CLASSES_ROOT.
#include <atomic>

#include "platform/com/StandInCategories.h"

namespace {

using platform::com::GuidToWide;
using platform::com::WideString;

const OLECHAR kImplemented[] = OLESTR("Implemented Categories");
const OLECHAR kRequired[] = OLESTR("Required Categories");

WideString CategoryKey(REFCLSID clsid, const OLECHAR* list, REFGUID catid) {
  return OLESTR("CLSID\\") + GuidToWide(clsid) + OLESTR("\\") + list + OLESTR("\\") +
         GuidToWide(catid);
}

HRESULT AddCategories(REFCLSID clsid, const OLECHAR* list, ULONG count, const CATID* catids) {
  if (count > 0 && !catids)
    return E_POINTER;
  for (ULONG i = 0; i < count; ++i) {
    HKEY key = nullptr;
    const WideString path = CategoryKey(clsid, list, catids[i]);
    const LSTATUS status =
        RegCreateKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                        KEY_WRITE, nullptr, &key, nullptr);
    if (status != ERROR_SUCCESS)
      return HRESULT_FROM_WIN32(status);
    RegCloseKey(key);
  }
  return S_OK;
}

HRESULT RemoveCategories(REFCLSID clsid, const OLECHAR* list, ULONG count, const CATID* catids) {
  if (count > 0 && !catids)
    return E_POINTER;
  for (ULONG i = 0; i < count; ++i) {
    const WideString path = CategoryKey(clsid, list, catids[i]);
    const LSTATUS status = RegDeleteKeyW(HKEY_CLASSES_ROOT, path.c_str());
    if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND)
      return HRESULT_FROM_WIN32(status);
  }
  return S_OK;
}

// Lives as long as the process, as do the class objects of the stand-in.
template <class Interface>
class Static : public Interface {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    if (!ppv)
      return E_POINTER;
    const bool known = IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IidOf());
    *ppv = known ? static_cast<Interface*>(this) : nullptr;
    return known ? S_OK : E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }

 private:
  static const IID& IidOf() { return platform::com::IidOf<Interface>(); }
};

class CategoriesManager final : public Static<ICatRegister> {
 public:
  HRESULT STDMETHODCALLTYPE RegisterCategories(ULONG, CATEGORYINFO[]) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE UnRegisterCategories(ULONG, CATID[]) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE RegisterClassImplCategories(REFCLSID rclsid, ULONG cCategories,
                                                        CATID rgcatid[]) override {
    return AddCategories(rclsid, kImplemented, cCategories, rgcatid);
  }
  HRESULT STDMETHODCALLTYPE UnRegisterClassImplCategories(REFCLSID rclsid, ULONG cCategories,
                                                          CATID rgcatid[]) override {
    return RemoveCategories(rclsid, kImplemented, cCategories, rgcatid);
  }
  HRESULT STDMETHODCALLTYPE RegisterClassReqCategories(REFCLSID rclsid, ULONG cCategories,
                                                       CATID rgcatid[]) override {
    return AddCategories(rclsid, kRequired, cCategories, rgcatid);
  }
  HRESULT STDMETHODCALLTYPE UnRegisterClassReqCategories(REFCLSID rclsid, ULONG cCategories,
                                                         CATID rgcatid[]) override {
    return RemoveCategories(rclsid, kRequired, cCategories, rgcatid);
  }
};

class CategoriesManagerClass final : public Static<IClassFactory> {
 public:
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* pUnkOuter, REFIID riid,
                                           void** ppvObject) override {
    if (!ppvObject)
      return E_POINTER;
    *ppvObject = nullptr;
    if (pUnkOuter)
      return CLASS_E_NOAGGREGATION;
    // One manager serves every caller: it keeps nothing of its own.
    static CategoriesManager manager;
    return manager.QueryInterface(riid, ppvObject);
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }
};

}  // namespace

namespace comstandin {

IClassFactory* BuiltInClass(REFCLSID clsid) {
  static CategoriesManagerClass categories;
  return IsEqualCLSID(clsid, CLSID_StdComponentCategoriesMgr) ? &categories : nullptr;
}

}  // namespace comstandin
