// The COM and OLE automation functions the OPC server calls, for the native
// build: memory, BSTR, VARIANT, SAFEARRAY, GUID text, the process's class
// table and security, clipboard format names and a small in-memory
// HKEY_CLASSES_ROOT. In-process only; nothing is ever a proxy.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/com/StandInInterfaces.h"

// --- Memory -------------------------------------------------------------

LPVOID CoTaskMemAlloc(SIZE_T cb);
LPVOID CoTaskMemRealloc(LPVOID pv, SIZE_T cb);
void CoTaskMemFree(LPVOID pv);

inline constexpr UINT GMEM_FIXED = 0x0000;
inline constexpr UINT GMEM_MOVEABLE = 0x0002;
inline constexpr UINT GMEM_ZEROINIT = 0x0040;
inline constexpr UINT GPTR = GMEM_FIXED | GMEM_ZEROINIT;

// Fixed blocks only: the handle is the block's address. A moveable request
// fails (null). Without GMEM_ZEROINIT the bytes are 0xCD, never zeros.
HGLOBAL GlobalAlloc(UINT uFlags, SIZE_T dwBytes);
LPVOID GlobalLock(HGLOBAL hMem);
BOOL GlobalUnlock(HGLOBAL hMem);
SIZE_T GlobalSize(HGLOBAL hMem);
// Null when freed; the handle again when it is not a live block.
HGLOBAL GlobalFree(HGLOBAL hMem);

// --- Text ---------------------------------------------------------------

// A length prefix of 4 bytes (the byte count) before the characters, a
// terminating zero after them; embedded zeros are kept.
BSTR SysAllocString(const OLECHAR* psz);
BSTR SysAllocStringLen(const OLECHAR* strIn, UINT ui);
BSTR SysAllocStringByteLen(const char* psz, UINT len);
UINT SysStringLen(BSTR pbstr);
UINT SysStringByteLen(BSTR bstr);
void SysFreeString(BSTR bstrString);

// --- VARIANT --------------------------------------------------------------

void VariantInit(VARIANTARG* pvarg);
// Frees what the variant owns (BSTR, SAFEARRAY, a reference) and empties it.
HRESULT VariantClear(VARIANTARG* pvarg);
// A deep copy of strings and arrays; a reference more for interfaces.
HRESULT VariantCopy(VARIANTARG* pvargDest, const VARIANTARG* pvargSrc);
// VariantCopy of what a reference (VT_BYREF) points to, one level deep; a
// reference to a reference of a variant is E_INVALIDARG, as is a reference
// to nothing; a reference to a type the stand-in does not hold
// DISP_E_BADVARTYPE.
HRESULT VariantCopyInd(VARIANT* pvarDest, const VARIANTARG* pvargSrc);

// --- SAFEARRAY ------------------------------------------------------------

// The bounds are given first dimension first.
SAFEARRAY* SafeArrayCreate(VARTYPE vt, UINT cDims, SAFEARRAYBOUND* rgsabound);
SAFEARRAY* SafeArrayCreateVector(VARTYPE vt, LONG lLbound, ULONG cElements);
HRESULT SafeArrayDestroy(SAFEARRAY* psa);
UINT SafeArrayGetDim(SAFEARRAY* psa);
UINT SafeArrayGetElemsize(SAFEARRAY* psa);
HRESULT SafeArrayGetVartype(SAFEARRAY* psa, VARTYPE* pvt);
// nDim counts from 1, the first (leftmost) dimension.
HRESULT SafeArrayGetLBound(SAFEARRAY* psa, UINT nDim, LONG* plLbound);
HRESULT SafeArrayGetUBound(SAFEARRAY* psa, UINT nDim, LONG* plUbound);
HRESULT SafeArrayAccessData(SAFEARRAY* psa, void** ppvData);
HRESULT SafeArrayUnaccessData(SAFEARRAY* psa);
HRESULT SafeArrayLock(SAFEARRAY* psa);
HRESULT SafeArrayUnlock(SAFEARRAY* psa);
// rgIndices first dimension first. BSTR and interface elements are passed
// as the BSTR or interface itself, everything else by address.
HRESULT SafeArrayGetElement(SAFEARRAY* psa, LONG* rgIndices, void* pv);
HRESULT SafeArrayPutElement(SAFEARRAY* psa, LONG* rgIndices, void* pv);
HRESULT SafeArrayCopy(SAFEARRAY* psa, SAFEARRAY** ppsaOut);

// --- GUID text ------------------------------------------------------------

// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" in upper case; the characters
// written with the terminating zero (39), or 0 when cchMax is too small.
int StringFromGUID2(REFGUID rguid, LPOLESTR lpsz, int cchMax);
// The braced form, upper or lower case; anything else CO_E_CLASSSTRING.
HRESULT CLSIDFromString(LPCOLESTR lpsz, LPCLSID pclsid);
HRESULT IIDFromString(LPCOLESTR lpsz, IID* lpiid);

// --- The process's COM ----------------------------------------------------

inline constexpr DWORD COINIT_MULTITHREADED = 0x0;
inline constexpr DWORD COINIT_APARTMENTTHREADED = 0x2;

inline constexpr DWORD CLSCTX_INPROC_SERVER = 0x1;
inline constexpr DWORD CLSCTX_INPROC_HANDLER = 0x2;
inline constexpr DWORD CLSCTX_LOCAL_SERVER = 0x4;
inline constexpr DWORD CLSCTX_REMOTE_SERVER = 0x10;
inline constexpr DWORD CLSCTX_INPROC = CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER;
inline constexpr DWORD CLSCTX_SERVER =
    CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER | CLSCTX_REMOTE_SERVER;
inline constexpr DWORD CLSCTX_ALL = CLSCTX_INPROC_HANDLER | CLSCTX_SERVER;

inline constexpr DWORD REGCLS_SINGLEUSE = 0;
inline constexpr DWORD REGCLS_MULTIPLEUSE = 1;
inline constexpr DWORD REGCLS_MULTI_SEPARATE = 2;
inline constexpr DWORD REGCLS_SUSPENDED = 4;

inline constexpr DWORD RPC_C_AUTHN_NONE = 0;
inline constexpr DWORD RPC_C_AUTHN_WINNT = 10;
inline constexpr DWORD RPC_C_AUTHN_DEFAULT = 0xFFFFFFFF;
inline constexpr DWORD RPC_C_AUTHZ_NONE = 0;
inline constexpr DWORD RPC_C_AUTHN_LEVEL_DEFAULT = 0;
inline constexpr DWORD RPC_C_AUTHN_LEVEL_NONE = 1;
inline constexpr DWORD RPC_C_AUTHN_LEVEL_CONNECT = 2;
inline constexpr DWORD RPC_C_IMP_LEVEL_DEFAULT = 0;
inline constexpr DWORD RPC_C_IMP_LEVEL_ANONYMOUS = 1;
inline constexpr DWORD RPC_C_IMP_LEVEL_IDENTIFY = 2;
inline constexpr DWORD RPC_C_IMP_LEVEL_IMPERSONATE = 3;
inline constexpr DWORD EOAC_NONE = 0;
inline constexpr ULONG SEC_WINNT_AUTH_IDENTITY_UNICODE = 2;
inline constexpr LCID LOCALE_SYSTEM_DEFAULT = 0x0800;

using PSECURITY_DESCRIPTOR = void*;
using RPC_AUTHZ_HANDLE = void*;
using RPC_AUTH_IDENTITY_HANDLE = void*;
struct SOLE_AUTHENTICATION_SERVICE {
  DWORD dwAuthnSvc;
  DWORD dwAuthzSvc;
  OLECHAR* pPrincipalName;
  HRESULT hr;
};
struct COSERVERINFO;

// Counted per thread: the first call S_OK, later ones S_FALSE; another
// threading model than the thread's first RPC_E_CHANGED_MODE.
HRESULT CoInitializeEx(LPVOID pvReserved, DWORD dwCoInit);
HRESULT CoInitialize(LPVOID pvReserved);
void CoUninitialize();

// Records its arguments; once per process, later calls RPC_E_TOO_LATE; a
// thread outside any apartment gets CO_E_NOTINITIALIZED.
HRESULT CoInitializeSecurity(PSECURITY_DESCRIPTOR pSecDesc, LONG cAuthSvc,
                             SOLE_AUTHENTICATION_SERVICE* asAuthSvc, void* pReserved1,
                             DWORD dwAuthnLevel, DWORD dwImpLevel, void* pAuthList,
                             DWORD dwCapabilities, void* pReserved3);

// The class table: in-process and local-server requests both reach it;
// in-process ones also reach the stand-in's own classes (below).
HRESULT CoRegisterClassObject(REFCLSID rclsid, IUnknown* pUnk, DWORD dwClsContext, DWORD flags,
                              LPDWORD lpdwRegister);
HRESULT CoRevokeClassObject(DWORD dwRegister);
HRESULT CoGetClassObject(REFCLSID rclsid, DWORD dwClsContext, COSERVERINFO* pServerInfo,
                         REFIID riid, LPVOID* ppv);
HRESULT CoCreateInstance(REFCLSID rclsid, IUnknown* pUnkOuter, DWORD dwClsContext, REFIID riid,
                         LPVOID* ppv);
ULONG CoAddRefServerProcess();
// When the count falls to 0 the class table is suspended: no class object
// registered there is found until CoResumeClassObjects.
ULONG CoReleaseServerProcess();
HRESULT CoResumeClassObjects();

// The blanket of the current call: unauthenticated unless a test said
// otherwise (comstandin::SetClientBlanket).
HRESULT CoQueryClientBlanket(DWORD* pAuthnSvc, DWORD* pAuthzSvc, LPOLESTR* pServerPrincName,
                             DWORD* pAuthnLevel, DWORD* pImpLevel, RPC_AUTHZ_HANDLE* pPrivs,
                             DWORD* pCapabilities);
// Nothing in-process is a proxy: E_NOINTERFACE.
HRESULT CoQueryProxyBlanket(IUnknown* pProxy, DWORD* pwAuthnSvc, DWORD* pAuthzSvc,
                            LPOLESTR* pServerPrincName, DWORD* pAuthnLevel, DWORD* pImpLevel,
                            RPC_AUTH_IDENTITY_HANDLE* pAuthInfo, DWORD* pCapabilites);
HRESULT CoSetProxyBlanket(IUnknown* pProxy, DWORD dwAuthnSvc, DWORD dwAuthzSvc,
                          OLECHAR* pServerPrincName, DWORD dwAuthnLevel, DWORD dwImpLevel,
                          RPC_AUTH_IDENTITY_HANDLE pAuthInfo, DWORD dwCapabilities);

// Ids from 0xC000 on; the same name (compared without case) the same id;
// an empty or missing name 0.
UINT RegisterClipboardFormatW(LPCWSTR lpszFormat);

// --- HKEY_CLASSES_ROOT ----------------------------------------------------

struct HKEY__;
using HKEY = HKEY__*;
using PHKEY = HKEY*;
using REGSAM = DWORD;
using LSTATUS = LONG;
// The only root of the stand-in's registry.
inline HKEY const HKEY_CLASSES_ROOT = reinterpret_cast<HKEY>(static_cast<uintptr_t>(0x80000000u));

inline constexpr LSTATUS ERROR_SUCCESS = 0;
inline constexpr LSTATUS ERROR_FILE_NOT_FOUND = 2;
inline constexpr LSTATUS ERROR_ACCESS_DENIED = 5;
inline constexpr LSTATUS ERROR_INVALID_HANDLE = 6;
inline constexpr LSTATUS ERROR_INVALID_PARAMETER = 87;
inline constexpr LSTATUS ERROR_MORE_DATA = 234;
inline constexpr LSTATUS ERROR_NO_MORE_ITEMS = 259;
inline constexpr REGSAM KEY_QUERY_VALUE = 0x0001;
inline constexpr REGSAM KEY_SET_VALUE = 0x0002;
inline constexpr REGSAM KEY_READ = 0x20019;
inline constexpr REGSAM KEY_WRITE = 0x20006;
inline constexpr REGSAM KEY_ALL_ACCESS = 0xF003F;
inline constexpr DWORD REG_OPTION_NON_VOLATILE = 0;
inline constexpr DWORD REG_CREATED_NEW_KEY = 1;
inline constexpr DWORD REG_OPENED_EXISTING_KEY = 2;
inline constexpr DWORD REG_NONE = 0;
inline constexpr DWORD REG_SZ = 1;
inline constexpr DWORD REG_BINARY = 3;
inline constexpr DWORD REG_DWORD = 4;

// Key names compare without case; "\\" separates keys. A null or empty
// value name is the key's default value.
LSTATUS RegCreateKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD Reserved, LPWSTR lpClass,
                        DWORD dwOptions, REGSAM samDesired, void* lpSecurityAttributes,
                        PHKEY phkResult, LPDWORD lpdwDisposition);
LSTATUS RegOpenKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD ulOptions, REGSAM samDesired,
                      PHKEY phkResult);
LSTATUS RegCloseKey(HKEY hKey);
LSTATUS RegSetValueExW(HKEY hKey, LPCWSTR lpValueName, DWORD Reserved, DWORD dwType,
                       const BYTE* lpData, DWORD cbData);
LSTATUS RegQueryValueExW(HKEY hKey, LPCWSTR lpValueName, LPDWORD lpReserved, LPDWORD lpType,
                         BYTE* lpData, LPDWORD lpcbData);
// The name of the subkey at dwIndex (in name order, as first written);
// ERROR_NO_MORE_ITEMS past the last. Class and time are not kept.
LSTATUS RegEnumKeyExW(HKEY hKey, DWORD dwIndex, LPWSTR lpName, LPDWORD lpcchName,
                      LPDWORD lpReserved, LPWSTR lpClass, LPDWORD lpcchClass,
                      FILETIME* lpftLastWriteTime);
// A key with subkeys is not deleted (ERROR_ACCESS_DENIED).
LSTATUS RegDeleteKeyW(HKEY hKey, LPCWSTR lpSubKey);

// --- Component categories ------------------------------------------------

// CoCreateInstance of this class (in-process) gives the stand-in's manager:
// a class's categories are the keys
// CLSID\{clsid}\Implemented Categories\{catid} (Required Categories for the
// required ones), written and deleted as the platform does; the list's key
// stays when its last entry goes. The categories themselves
// (RegisterCategories, UnRegisterCategories) are not kept: E_NOTIMPL.
inline constexpr CLSID CLSID_StdComponentCategoriesMgr = {
    0x0002E005, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

// --- What tests read and set ----------------------------------------------

namespace comstandin {

struct SecurityCall {
  PSECURITY_DESCRIPTOR securityDescriptor;
  LONG authenticationServices;
  DWORD authenticationLevel;
  DWORD impersonationLevel;
  void* authenticationList;
  DWORD capabilities;
};
// The arguments of the process's CoInitializeSecurity, if it was called.
std::optional<SecurityCall> RecordedSecurity();
// Lets the next CoInitializeSecurity succeed again.
void ForgetSecurity();

struct ClientBlanket {
  HRESULT result = S_OK;
  DWORD authenticationService = RPC_C_AUTHN_NONE;
  DWORD authenticationLevel = RPC_C_AUTHN_LEVEL_NONE;
  DWORD impersonationLevel = RPC_C_IMP_LEVEL_ANONYMOUS;
  const OLECHAR* privileges = nullptr;  // the caller's account name
};
// What CoQueryClientBlanket answers from now on.
void SetClientBlanket(const ClientBlanket& blanket);

// The process's server reference count.
ULONG ServerProcessReferences();

// Empties HKEY_CLASSES_ROOT, forgets its journal and allows writes again.
void ClearRegistry();
// Every change of HKEY_CLASSES_ROOT in order, the paths as spelled:
// "key PATH" for each key created or opened for writing, "value PATH [NAME]"
// (an empty name for the default), "delete PATH".
std::vector<std::string> RegistryJournal();
// While denied, creating keys, setting values and deleting keys fail with
// ERROR_ACCESS_DENIED, as for a user without the right to.
void DenyRegistryWrites(bool denied);

}  // namespace comstandin
