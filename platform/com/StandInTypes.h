// COM's basic types, result codes, GUIDs, BSTR, VARIANT and SAFEARRAY with
// their binary shape, for the native build, where no COM exists. The sizes
// are the 64-bit Windows ones: LONG, ULONG, DWORD and HRESULT are 32-bit,
// OLECHAR is a 16-bit code unit. Included through platform/com/Com.h only.
#pragma once

#include <cstddef>
#include <cstdint>

#define STDMETHODCALLTYPE
#define STDAPICALLTYPE
#define OLESTR(text) u##text

using BYTE = uint8_t;
using CHAR = char;
using SHORT = int16_t;
using USHORT = uint16_t;
using WORD = uint16_t;
using INT = int32_t;
using UINT = uint32_t;
using LONG = int32_t;
using ULONG = uint32_t;
using DWORD = uint32_t;
using LONGLONG = int64_t;
using ULONGLONG = uint64_t;
using BOOL = int32_t;
using FLOAT = float;
using DOUBLE = double;
using SIZE_T = size_t;
using PVOID = void*;
using LPVOID = void*;
using LPDWORD = DWORD*;
using HRESULT = int32_t;
using SCODE = int32_t;
using LCID = DWORD;
using WCHAR = char16_t;
using OLECHAR = char16_t;
using LPOLESTR = OLECHAR*;
using LPCOLESTR = const OLECHAR*;
using LPWSTR = WCHAR*;
using LPCWSTR = const WCHAR*;
using BSTR = OLECHAR*;
using VARTYPE = uint16_t;
using VARIANT_BOOL = int16_t;
using DATE = double;
using HGLOBAL = void*;
using CLIPFORMAT = WORD;

inline constexpr BOOL TRUE = 1;
inline constexpr BOOL FALSE = 0;
inline constexpr VARIANT_BOOL VARIANT_TRUE = -1;
inline constexpr VARIANT_BOOL VARIANT_FALSE = 0;

constexpr bool SUCCEEDED(HRESULT hr) {
  return hr >= 0;
}
constexpr bool FAILED(HRESULT hr) {
  return hr < 0;
}

namespace comstandin {
constexpr HRESULT Code(uint32_t code) {
  return static_cast<HRESULT>(code);
}
}  // namespace comstandin

// A system error code as a result code: its facility is the system's (7).
constexpr HRESULT HRESULT_FROM_WIN32(LONG code) {
  return code <= 0 ? static_cast<HRESULT>(code)
                   : comstandin::Code((static_cast<uint32_t>(code) & 0xFFFF) | 0x80070000u);
}

// Result codes (sign bit = failure).
inline constexpr HRESULT S_OK = 0;
inline constexpr HRESULT S_FALSE = 1;
inline constexpr HRESULT NOERROR = 0;
inline constexpr HRESULT E_NOTIMPL = comstandin::Code(0x80004001);
inline constexpr HRESULT E_NOINTERFACE = comstandin::Code(0x80004002);
inline constexpr HRESULT E_POINTER = comstandin::Code(0x80004003);
inline constexpr HRESULT E_FAIL = comstandin::Code(0x80004005);
inline constexpr HRESULT E_UNEXPECTED = comstandin::Code(0x8000FFFF);
inline constexpr HRESULT E_ACCESSDENIED = comstandin::Code(0x80070005);
inline constexpr HRESULT E_OUTOFMEMORY = comstandin::Code(0x8007000E);
inline constexpr HRESULT E_INVALIDARG = comstandin::Code(0x80070057);
inline constexpr HRESULT OLE_E_ADVISENOTSUPPORTED = comstandin::Code(0x80040003);
inline constexpr HRESULT OLE_E_NOCONNECTION = comstandin::Code(0x80040004);
inline constexpr HRESULT DV_E_FORMATETC = comstandin::Code(0x80040064);
inline constexpr HRESULT CLASS_E_NOAGGREGATION = comstandin::Code(0x80040110);
inline constexpr HRESULT CLASS_E_CLASSNOTAVAILABLE = comstandin::Code(0x80040111);
inline constexpr HRESULT REGDB_E_CLASSNOTREG = comstandin::Code(0x80040154);
inline constexpr HRESULT CONNECT_E_NOCONNECTION = comstandin::Code(0x80040200);
inline constexpr HRESULT CONNECT_E_ADVISELIMIT = comstandin::Code(0x80040201);
inline constexpr HRESULT CONNECT_E_CANNOTCONNECT = comstandin::Code(0x80040202);
inline constexpr HRESULT CO_E_NOTINITIALIZED = comstandin::Code(0x800401F0);
inline constexpr HRESULT CO_E_CLASSSTRING = comstandin::Code(0x800401F3);
inline constexpr HRESULT CO_E_OBJNOTREG = comstandin::Code(0x800401FB);
inline constexpr HRESULT CO_E_SERVER_STOPPING = comstandin::Code(0x80080008);
inline constexpr HRESULT RPC_E_CHANGED_MODE = comstandin::Code(0x80010106);
inline constexpr HRESULT RPC_E_DISCONNECTED = comstandin::Code(0x80010108);
inline constexpr HRESULT RPC_E_TOO_LATE = comstandin::Code(0x80010119);
inline constexpr HRESULT DISP_E_TYPEMISMATCH = comstandin::Code(0x80020005);
inline constexpr HRESULT DISP_E_BADVARTYPE = comstandin::Code(0x80020008);
inline constexpr HRESULT DISP_E_OVERFLOW = comstandin::Code(0x8002000A);
inline constexpr HRESULT DISP_E_BADINDEX = comstandin::Code(0x8002000B);
inline constexpr HRESULT DISP_E_ARRAYISLOCKED = comstandin::Code(0x8002000D);

struct GUID {
  uint32_t Data1;
  uint16_t Data2;
  uint16_t Data3;
  uint8_t Data4[8];
};
using IID = GUID;
using CLSID = GUID;
using CATID = GUID;
using REFGUID = const GUID&;
using REFIID = const IID&;
using REFCLSID = const CLSID&;
using LPCLSID = CLSID*;

inline constexpr GUID GUID_NULL = {0, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}};

// All 16 bytes equal.
bool IsEqualGUID(REFGUID a, REFGUID b);
inline bool IsEqualIID(REFIID a, REFIID b) {
  return IsEqualGUID(a, b);
}
inline bool IsEqualCLSID(REFCLSID a, REFCLSID b) {
  return IsEqualGUID(a, b);
}

struct FILETIME {
  DWORD dwLowDateTime;
  DWORD dwHighDateTime;
};

// Currency: a 64-bit integer of ten-thousandths.
union CY {
  struct {
    ULONG Lo;
    LONG Hi;
  };
  LONGLONG int64;
};

// Variant type codes.
enum VARENUM : VARTYPE {
  VT_EMPTY = 0,
  VT_NULL = 1,
  VT_I2 = 2,
  VT_I4 = 3,
  VT_R4 = 4,
  VT_R8 = 5,
  VT_CY = 6,
  VT_DATE = 7,
  VT_BSTR = 8,
  VT_DISPATCH = 9,
  VT_ERROR = 10,
  VT_BOOL = 11,
  VT_VARIANT = 12,
  VT_UNKNOWN = 13,
  VT_DECIMAL = 14,
  VT_I1 = 16,
  VT_UI1 = 17,
  VT_UI2 = 18,
  VT_UI4 = 19,
  VT_I8 = 20,
  VT_UI8 = 21,
  VT_INT = 22,
  VT_UINT = 23,
  VT_VOID = 24,
  VT_HRESULT = 25,
  VT_PTR = 26,
  VT_SAFEARRAY = 27,
  VT_CARRAY = 28,
  VT_USERDEFINED = 29,
  VT_LPSTR = 30,
  VT_LPWSTR = 31,
  VT_RECORD = 36,
  VT_FILETIME = 64,
  VT_BLOB = 65,
  VT_CLSID = 72,
  VT_VECTOR = 0x1000,
  VT_ARRAY = 0x2000,
  VT_BYREF = 0x4000,
  VT_RESERVED = 0x8000,
  VT_ILLEGAL = 0xFFFF,
  VT_TYPEMASK = 0x0FFF,
};

struct SAFEARRAYBOUND {
  ULONG cElements;
  LONG lLbound;
};

// The bounds are stored last dimension first: rgsabound[0] is the
// rightmost dimension, as the platform keeps them.
struct SAFEARRAY {
  USHORT cDims;
  USHORT fFeatures;
  ULONG cbElements;
  ULONG cLocks;
  PVOID pvData;
  SAFEARRAYBOUND rgsabound[1];
};
using LPSAFEARRAY = SAFEARRAY*;

inline constexpr USHORT FADF_AUTO = 0x0001;
inline constexpr USHORT FADF_STATIC = 0x0002;
inline constexpr USHORT FADF_EMBEDDED = 0x0004;
inline constexpr USHORT FADF_FIXEDSIZE = 0x0010;
inline constexpr USHORT FADF_RECORD = 0x0020;
inline constexpr USHORT FADF_HAVEIID = 0x0040;
inline constexpr USHORT FADF_HAVEVARTYPE = 0x0080;
inline constexpr USHORT FADF_BSTR = 0x0100;
inline constexpr USHORT FADF_UNKNOWN = 0x0200;
inline constexpr USHORT FADF_DISPATCH = 0x0400;
inline constexpr USHORT FADF_VARIANT = 0x0800;

struct IUnknown;
// Only its IUnknown part is used in-process: a dispatch interface derives
// from IUnknown first, so its reference counting is reached through it.
struct IDispatch;
struct tagVARIANT;
using VARIANT = tagVARIANT;
using VARIANTARG = tagVARIANT;
using LPVARIANT = tagVARIANT*;

struct tagVARIANT {
  VARTYPE vt;
  WORD wReserved1;
  WORD wReserved2;
  WORD wReserved3;
  union {
    LONGLONG llVal;
    LONG lVal;
    BYTE bVal;
    SHORT iVal;
    FLOAT fltVal;
    DOUBLE dblVal;
    VARIANT_BOOL boolVal;
    SCODE scode;
    CY cyVal;
    DATE date;
    BSTR bstrVal;
    IUnknown* punkVal;
    IDispatch* pdispVal;
    SAFEARRAY* parray;
    BYTE* pbVal;
    SHORT* piVal;
    LONG* plVal;
    LONGLONG* pllVal;
    FLOAT* pfltVal;
    DOUBLE* pdblVal;
    VARIANT_BOOL* pboolVal;
    SCODE* pscode;
    CY* pcyVal;
    DATE* pdate;
    BSTR* pbstrVal;
    IUnknown** ppunkVal;
    IDispatch** ppdispVal;
    SAFEARRAY** pparray;
    tagVARIANT* pvarVal;
    PVOID byref;
    CHAR cVal;
    USHORT uiVal;
    ULONG ulVal;
    ULONGLONG ullVal;
    INT intVal;
    UINT uintVal;
    CHAR* pcVal;
    USHORT* puiVal;
    ULONG* pulVal;
    ULONGLONG* pullVal;
    INT* pintVal;
    UINT* puintVal;
    // A record: its data and the record's type description.
    struct {
      PVOID pvRecord;
      PVOID pRecInfo;
    } brecVal;
  };
};
