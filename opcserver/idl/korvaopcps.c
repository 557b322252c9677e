/* The proxy/stub DLL of the OPC interfaces: widl's interpreted stubs, mended
 * in the build, with the class object and the registration routines of the
 * platform's proxy support. regsvr32 enters every interface under
 * HKEY_CLASSES_ROOT\Interface with its name and this DLL's class. */
#define REGISTER_PROXY_DLL
#define PROXY_CLSID_IS \
  { 0x947149DE, 0xA09E, 0x46C9, { 0x9E, 0x3F, 0xE0, 0x9C, 0xBC, 0x2F, 0x80, 0x58 } }

#include <objbase.h>

/* The platform's headers declare these three only for C++; the stubs are C. */
HRESULT STDMETHODCALLTYPE IUnknown_QueryInterface_Proxy(IUnknown* This, REFIID riid,
                                                        void** ppvObject);
ULONG STDMETHODCALLTYPE IUnknown_AddRef_Proxy(IUnknown* This);
ULONG STDMETHODCALLTYPE IUnknown_Release_Proxy(IUnknown* This);

#include "korvaopc_p_mended.c"
#include "dlldata.c"
