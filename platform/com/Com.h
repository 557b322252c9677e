// The one COM header of the code: the platform's COM and OLE automation on
// Windows, the in-process stand-in elsewhere, with the same names and binary
// shape; plus our own wide-text helpers and the memory counters that tests
// use to find leaks. Shared code writes wide literals with OLESTR() and
// handles them with the helpers below, never with L"" or wcs* functions.
#pragma once

#ifdef _WIN32
#include "platform/win32/ComHeaders.h"
#else
#include "platform/com/StandInApi.h"
#endif

#include <cstdint>
#include <string>
#include <string_view>

namespace platform::com {

using WideString = std::basic_string<OLECHAR>;
using WideView = std::basic_string_view<OLECHAR>;

// Code units before the terminating zero; 0 for null.
size_t WideLength(const OLECHAR* text);
// Code-unit order, null as empty: below, equal or above zero.
int WideCompare(const OLECHAR* a, const OLECHAR* b);
// A copy, terminated, in COM task memory (the receiver frees it); null
// when the allocation fails.
LPOLESTR WideToTaskMem(WideView text);
// Malformed UTF-8 and unpaired surrogates become U+FFFD.
WideString Utf8ToWide(std::string_view utf8);
std::string WideToUtf8(WideView wide);
inline std::string WideToUtf8(const OLECHAR* wide) {
  return WideToUtf8(WideView(wide ? wide : OLESTR(""), WideLength(wide)));
}

// The braced upper-case text of a GUID.
WideString GuidToWide(REFGUID guid);
std::string GuidToString(REFGUID guid);

// The system's message text for a result code, trimmed; empty where the
// system has none (always in the stand-in).
std::string SystemMessageText(HRESULT code);

// The bytes one value of a type takes as a safe array's element; 0 for a
// type no safe array holds.
size_t VariantValueSize(VARTYPE type);

// --- The program as a COM server -------------------------------------------

// The running program's full path.
WideString ProgramFilePath();
// The short form of an existing path, its parts in 8.3 names where the
// volume keeps them; the path itself where there is none (POSIX, short names
// off, a missing file).
WideString ShortPathName(WideView path);

// The type library linked into the program: on Windows its TYPELIB resource,
// which holds these attributes; the stand-in registers what they say.
struct TypeLibraryAttributes {
  GUID libid;
  WORD majorVersion;
  WORD minorVersion;
  WideString helpText;
};
// Registers the type library of the program file `program` under
// HKEY_CLASSES_ROOT\TypeLib\{libid}\major.minor as the platform does
// (Windows: LoadTypeLibEx with REGKIND_REGISTER).
HRESULT RegisterTypeLibrary(const TypeLibraryAttributes& library, WideView program);
// Removes that registration; S_OK when there is none.
HRESULT UnregisterTypeLibrary(const TypeLibraryAttributes& library);

// Blocks of COM task memory and of GlobalAlloc not yet freed. The
// stand-in counts every block; see MemoryIsCounted for Windows.
struct MemoryCount {
  int64_t blocks = 0;
  int64_t bytes = 0;
  bool operator==(const MemoryCount&) const = default;
};
struct LiveMemory {
  MemoryCount task;
  MemoryCount global;
  bool operator==(const LiveMemory&) const = default;
};
LiveMemory CountLiveMemory();
// Whether CountLiveMemory counts in this build; where it does not, it
// answers zero counts.
bool MemoryIsCounted();

}  // namespace platform::com

// The IID of an interface type, in both builds: IidOf<IConnectionPoint>().
// Each interface's id is declared once with KORVA_INTERFACE_ID at global scope.
namespace platform::com {
template <class Interface>
struct InterfaceId;
template <class Interface>
const IID& IidOf() {
  return InterfaceId<Interface>::Get();
}
}  // namespace platform::com

#define KORVA_INTERFACE_ID(Interface, iid)       \
  template <>                                    \
  struct platform::com::InterfaceId<Interface> { \
    static const IID& Get() { return iid; }      \
  }

KORVA_INTERFACE_ID(IUnknown, IID_IUnknown);
KORVA_INTERFACE_ID(IClassFactory, IID_IClassFactory);
KORVA_INTERFACE_ID(IEnumUnknown, IID_IEnumUnknown);
KORVA_INTERFACE_ID(IEnumString, IID_IEnumString);
KORVA_INTERFACE_ID(IEnumFORMATETC, IID_IEnumFORMATETC);
KORVA_INTERFACE_ID(IEnumSTATDATA, IID_IEnumSTATDATA);
KORVA_INTERFACE_ID(IDataObject, IID_IDataObject);
KORVA_INTERFACE_ID(IAdviseSink, IID_IAdviseSink);
KORVA_INTERFACE_ID(IConnectionPointContainer, IID_IConnectionPointContainer);
KORVA_INTERFACE_ID(IEnumConnectionPoints, IID_IEnumConnectionPoints);
KORVA_INTERFACE_ID(IConnectionPoint, IID_IConnectionPoint);
KORVA_INTERFACE_ID(IEnumConnections, IID_IEnumConnections);
KORVA_INTERFACE_ID(ISupportErrorInfo, IID_ISupportErrorInfo);
KORVA_INTERFACE_ID(ICatRegister, IID_ICatRegister);
