/* The proxy/stub DLL of the OPC interfaces: widl's interpreted stubs, mended
 * in the build, with the class object of the platform's proxy support and
 * registration routines of our own. The OPC interfaces are shared by all OPC
 * software on a PC: where another program's proxy class is registered for
 * one, regsvr32 leaves it to that class, and regsvr32 /u removes only the
 * interfaces that name ours (and our class), so that no other program loses
 * its marshalling. */
#define PROXY_CLSID_IS \
  { 0x947149DE, 0xA09E, 0x46C9, { 0x9E, 0x3F, 0xE0, 0x9C, 0xBC, 0x2F, 0x80, 0x58 } }

#include <objbase.h>
#include <wchar.h>

/* The platform's headers declare these three only for C++; the stubs are C. */
HRESULT STDMETHODCALLTYPE IUnknown_QueryInterface_Proxy(IUnknown* This, REFIID riid,
                                                        void** ppvObject);
ULONG STDMETHODCALLTYPE IUnknown_AddRef_Proxy(IUnknown* This);
ULONG STDMETHODCALLTYPE IUnknown_Release_Proxy(IUnknown* This);

#include "korvaopc_p_mended.c"
#include "dlldata.c"

/* "CLSID\" or "Interface\" and a GUID in braces. */
#define KEY_LENGTH 64
#define GUID_LENGTH 39

static HINSTANCE proxyDll;

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
  (void)reserved;
  if (reason == DLL_PROCESS_ATTACH) {
    proxyDll = instance;
    DisableThreadLibraryCalls(instance);
  }
  return TRUE;
}

static void GuidKey(const WCHAR* prefix, const GUID* guid, WCHAR* key) {
  wcscpy(key, prefix);
  StringFromGUID2(guid, key + wcslen(key), GUID_LENGTH);
}

static LONG WriteText(const WCHAR* key, const WCHAR* name, const WCHAR* text) {
  HKEY handle;
  LONG result =
      RegCreateKeyExW(HKEY_CLASSES_ROOT, key, 0, NULL, 0, KEY_SET_VALUE, NULL, &handle, NULL);
  if (result != ERROR_SUCCESS)
    return result;
  result = RegSetValueExW(handle, name, 0, REG_SZ, (const BYTE*)text,
                          (DWORD)((wcslen(text) + 1) * sizeof(WCHAR)));
  RegCloseKey(handle);
  return result;
}

/* The key and its subkeys; a missing key counts as removed. */
static LONG RemoveKey(const WCHAR* key) {
  const LONG result = RegDeleteTreeW(HKEY_CLASSES_ROOT, key);
  return result == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : result;
}

enum Holder { NOBODY, US, OTHERS };

/* Who an interface's key belongs to: nobody where there is none, us where
 * its proxy class is ours, others otherwise (also where it cannot be read). */
static enum Holder InterfaceHolder(const WCHAR* interfaceKey, const WCHAR* ourClass) {
  HKEY handle;
  const LONG opened = RegOpenKeyExW(HKEY_CLASSES_ROOT, interfaceKey, 0, KEY_READ, &handle);
  if (opened == ERROR_FILE_NOT_FOUND)
    return NOBODY;
  if (opened != ERROR_SUCCESS)
    return OTHERS;
  WCHAR proxyClass[GUID_LENGTH + 1] = {0};
  DWORD size = sizeof proxyClass - sizeof(WCHAR);
  const LONG read =
      RegGetValueW(handle, L"ProxyStubClsid32", NULL, RRF_RT_REG_SZ, NULL, proxyClass, &size);
  RegCloseKey(handle);
  return read == ERROR_SUCCESS && _wcsicmp(proxyClass, ourClass) == 0 ? US : OTHERS;
}

/* The interface's name, its proxy class and its method count, as the
 * platform's proxy support writes them. */
static LONG WriteInterface(const WCHAR* interfaceKey, const char* name, unsigned long methods,
                           const WCHAR* ourClass) {
  WCHAR key[KEY_LENGTH + 32];
  WCHAR text[64];
  size_t i = 0;
  for (; name[i] != '\0' && i + 1 < sizeof text / sizeof text[0]; ++i)
    text[i] = (WCHAR)(unsigned char)name[i];
  text[i] = 0;
  LONG result = WriteText(interfaceKey, NULL, text);
  if (result == ERROR_SUCCESS) {
    swprintf(key, sizeof key / sizeof key[0], L"%ls\\ProxyStubClsid32", interfaceKey);
    result = WriteText(key, NULL, ourClass);
  }
  if (result == ERROR_SUCCESS) {
    swprintf(key, sizeof key / sizeof key[0], L"%ls\\NumMethods", interfaceKey);
    swprintf(text, sizeof text / sizeof text[0], L"%lu", methods);
    result = WriteText(key, NULL, text);
  }
  return result;
}

/* Registers (TRUE) or removes (FALSE) every interface of the DLL that is
 * nobody's or ours; the first failure is the result, the others are still
 * tried. */
static LONG UpdateInterfaces(BOOL doRegister, const WCHAR* ourClass) {
  LONG first = ERROR_SUCCESS;
  for (const ProxyFileInfo* const* file = aProxyFileList; *file; ++file) {
    for (unsigned short i = 0; i < (*file)->TableSize; ++i) {
      const CInterfaceStubHeader* header = &(*file)->pStubVtblList[i]->header;
      WCHAR key[KEY_LENGTH];
      GuidKey(L"Interface\\", header->piid, key);
      const enum Holder holder = InterfaceHolder(key, ourClass);
      LONG result = ERROR_SUCCESS;
      if (doRegister && holder != OTHERS)
        result = WriteInterface(key, (*file)->pNamesArray[i], header->DispatchTableCount, ourClass);
      else if (!doRegister && holder == US)
        result = RemoveKey(key);
      if (first == ERROR_SUCCESS)
        first = result;
    }
  }
  return first;
}

HRESULT WINAPI DllRegisterServer(void) {
  WCHAR ourClass[GUID_LENGTH];
  StringFromGUID2(&CLSID_PSFactoryBuffer, ourClass, GUID_LENGTH);
  WCHAR path[MAX_PATH * 4];
  const DWORD length = GetModuleFileNameW(proxyDll, path, sizeof path / sizeof path[0]);
  if (length == 0 || length >= sizeof path / sizeof path[0])
    return E_FAIL;

  WCHAR classKey[KEY_LENGTH];
  WCHAR serverKey[KEY_LENGTH + 16];
  GuidKey(L"CLSID\\", &CLSID_PSFactoryBuffer, classKey);
  swprintf(serverKey, sizeof serverKey / sizeof serverKey[0], L"%ls\\InProcServer32", classKey);
  LONG result = WriteText(classKey, NULL, L"PSFactoryBuffer");
  if (result == ERROR_SUCCESS)
    result = WriteText(serverKey, NULL, path);
  if (result == ERROR_SUCCESS)
    result = WriteText(serverKey, L"ThreadingModel", L"Both");
  if (result == ERROR_SUCCESS)
    result = UpdateInterfaces(TRUE, ourClass);
  return HRESULT_FROM_WIN32(result);
}

HRESULT WINAPI DllUnregisterServer(void) {
  WCHAR ourClass[GUID_LENGTH];
  StringFromGUID2(&CLSID_PSFactoryBuffer, ourClass, GUID_LENGTH);
  LONG result = UpdateInterfaces(FALSE, ourClass);
  WCHAR classKey[KEY_LENGTH];
  GuidKey(L"CLSID\\", &CLSID_PSFactoryBuffer, classKey);
  const LONG removed = RemoveKey(classKey);
  return HRESULT_FROM_WIN32(result != ERROR_SUCCESS ? result : removed);
}
