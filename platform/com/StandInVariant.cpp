// VARIANT and SAFEARRAY of the stand-in: what they own (strings, arrays,
// references) is copied deeply and freed with them. A descriptor lies in
// COM task memory behind a 16-byte prefix whose last 4 bytes hold the
// element type; the elements lie in a second block, first index fastest.
#include <algorithm>
#include <cstring>
#include <vector>

#include "platform/com/Com.h"

namespace {

constexpr size_t kDescriptorPrefix = 16;

// The element size of a type an array can hold; 0 for any other type.
ULONG ElementSize(VARTYPE vt) {
  return static_cast<ULONG>(platform::com::VariantValueSize(vt));
}

USHORT TypeFeature(VARTYPE vt) {
  switch (vt) {
    case VT_BSTR:
      return FADF_BSTR;
    case VT_UNKNOWN:
      return FADF_UNKNOWN;
    case VT_DISPATCH:
      return FADF_DISPATCH;
    case VT_VARIANT:
      return FADF_VARIANT;
    default:
      return 0;
  }
}

// Whether a VARIANT may hold this type code.
bool IsVariantType(VARTYPE vt) {
  if (vt & VT_BYREF)
    return true;
  const VARTYPE base = vt & VT_TYPEMASK;
  if (vt & VT_ARRAY)
    return ElementSize(base) != 0;
  if (vt & ~VT_TYPEMASK)
    return false;
  return base <= VT_DECIMAL || (base >= VT_I1 && base <= VT_UINT);
}

IUnknown* AsUnknown(IDispatch* dispatch) {
  return reinterpret_cast<IUnknown*>(dispatch);
}

VARTYPE& StoredType(SAFEARRAY* psa) {
  return *reinterpret_cast<VARTYPE*>(reinterpret_cast<BYTE*>(psa) - sizeof(DWORD));
}

// The element count of all dimensions in 64 bits; nothing when it (or its
// byte size) passes what one block can hold.
bool TotalElements(const SAFEARRAY* psa, uint64_t& count) {
  count = 1;
  for (USHORT d = 0; d < psa->cDims; ++d) {
    if (__builtin_mul_overflow(count, uint64_t{psa->rgsabound[d].cElements}, &count))
      return false;
  }
  uint64_t bytes = 0;
  return !__builtin_mul_overflow(count, uint64_t{psa->cbElements}, &bytes) && bytes <= SIZE_MAX;
}

uint64_t ElementCount(const SAFEARRAY* psa) {
  uint64_t count = 0;
  TotalElements(psa, count);
  return count;
}

void ReleaseElement(SAFEARRAY* psa, BYTE* element) {
  if (psa->fFeatures & FADF_BSTR) {
    SysFreeString(*reinterpret_cast<BSTR*>(element));
  } else if (psa->fFeatures & (FADF_UNKNOWN | FADF_DISPATCH)) {
    if (auto* unknown = *reinterpret_cast<IUnknown**>(element))
      unknown->Release();
  } else if (psa->fFeatures & FADF_VARIANT) {
    VariantClear(reinterpret_cast<VARIANT*>(element));
  }
  std::memset(element, 0, psa->cbElements);
}

// Copies one element into fresh storage (which holds nothing yet).
HRESULT CopyElement(const SAFEARRAY* psa, const BYTE* from, BYTE* to) {
  if (psa->fFeatures & FADF_BSTR) {
    const BSTR text = *reinterpret_cast<const BSTR*>(from);
    BSTR copy = nullptr;
    if (text) {
      copy = SysAllocStringByteLen(reinterpret_cast<const char*>(text), SysStringByteLen(text));
      if (!copy)
        return E_OUTOFMEMORY;
    }
    *reinterpret_cast<BSTR*>(to) = copy;
  } else if (psa->fFeatures & (FADF_UNKNOWN | FADF_DISPATCH)) {
    auto* unknown = *reinterpret_cast<IUnknown* const*>(from);
    if (unknown)
      unknown->AddRef();
    *reinterpret_cast<IUnknown**>(to) = unknown;
  } else if (psa->fFeatures & FADF_VARIANT) {
    auto* target = reinterpret_cast<VARIANT*>(to);
    VariantInit(target);
    return VariantCopy(target, reinterpret_cast<const VARIANT*>(from));
  } else {
    std::memcpy(to, from, psa->cbElements);
  }
  return S_OK;
}

// The address of the element at rgIndices (first dimension first).
BYTE* ElementAt(SAFEARRAY* psa, const LONG* rgIndices) {
  uint64_t offset = 0;
  uint64_t stride = 1;
  for (USHORT d = 0; d < psa->cDims; ++d) {
    const SAFEARRAYBOUND& bound = psa->rgsabound[psa->cDims - 1 - d];
    const int64_t index = int64_t{rgIndices[d]} - bound.lLbound;
    if (index < 0 || index >= int64_t{bound.cElements})
      return nullptr;
    offset += static_cast<uint64_t>(index) * stride;
    stride *= bound.cElements;
  }
  return static_cast<BYTE*>(psa->pvData) + offset * psa->cbElements;
}

SAFEARRAY* NewDescriptor(VARTYPE vt, UINT cDims) {
  const size_t size = kDescriptorPrefix + sizeof(SAFEARRAY) + (cDims - 1) * sizeof(SAFEARRAYBOUND);
  auto* block = static_cast<BYTE*>(CoTaskMemAlloc(size));
  if (!block)
    return nullptr;
  std::memset(block, 0, size);
  auto* psa = reinterpret_cast<SAFEARRAY*>(block + kDescriptorPrefix);
  psa->cDims = static_cast<USHORT>(cDims);
  psa->fFeatures = FADF_HAVEVARTYPE | TypeFeature(vt);
  psa->cbElements = ElementSize(vt);
  StoredType(psa) = vt;
  return psa;
}

void FreeDescriptor(SAFEARRAY* psa) {
  CoTaskMemFree(reinterpret_cast<BYTE*>(psa) - kDescriptorPrefix);
}

// A descriptor and zeroed elements for `bounds` (stored last dimension
// first); null when the type cannot be held or the size is too large.
SAFEARRAY* NewArray(VARTYPE vt, UINT cDims, const SAFEARRAYBOUND* storedBounds) {
  if (cDims == 0 || cDims > 0xFFFF || ElementSize(vt) == 0)
    return nullptr;
  SAFEARRAY* psa = NewDescriptor(vt, cDims);
  if (!psa)
    return nullptr;
  std::memcpy(psa->rgsabound, storedBounds, cDims * sizeof(SAFEARRAYBOUND));
  uint64_t count = 0;
  if (!TotalElements(psa, count)) {
    FreeDescriptor(psa);
    return nullptr;
  }
  const size_t bytes = static_cast<size_t>(count * psa->cbElements);
  psa->pvData = CoTaskMemAlloc(bytes);
  if (!psa->pvData) {
    FreeDescriptor(psa);
    return nullptr;
  }
  std::memset(psa->pvData, 0, bytes);
  return psa;
}

// The bounds of dimension nDim (from 1, the leftmost) for a bound query.
HRESULT Dimension(SAFEARRAY* psa, UINT nDim, const LONG* out, const SAFEARRAYBOUND*& bound) {
  if (!psa || !out)
    return E_INVALIDARG;
  if (nDim < 1 || nDim > psa->cDims)
    return DISP_E_BADINDEX;
  bound = &psa->rgsabound[psa->cDims - nDim];
  return S_OK;
}

}  // namespace

void VariantInit(VARIANTARG* pvarg) {
  if (pvarg)
    std::memset(pvarg, 0, sizeof(VARIANT));
}

HRESULT VariantClear(VARIANTARG* pvarg) {
  if (!pvarg)
    return E_INVALIDARG;
  if (!IsVariantType(pvarg->vt))
    return DISP_E_BADVARTYPE;
  if (!(pvarg->vt & VT_BYREF)) {
    if (pvarg->vt & VT_ARRAY) {
      const HRESULT hr = SafeArrayDestroy(pvarg->parray);
      if (FAILED(hr))
        return hr;
    } else if (pvarg->vt == VT_BSTR) {
      SysFreeString(pvarg->bstrVal);
    } else if (pvarg->vt == VT_UNKNOWN && pvarg->punkVal) {
      pvarg->punkVal->Release();
    } else if (pvarg->vt == VT_DISPATCH && pvarg->pdispVal) {
      AsUnknown(pvarg->pdispVal)->Release();
    }
  }
  VariantInit(pvarg);
  return S_OK;
}

HRESULT VariantCopy(VARIANTARG* pvargDest, const VARIANTARG* pvargSrc) {
  if (!pvargDest || !pvargSrc)
    return E_INVALIDARG;
  if (pvargDest == pvargSrc)
    return S_OK;
  if (!IsVariantType(pvargSrc->vt))
    return DISP_E_BADVARTYPE;
  HRESULT hr = VariantClear(pvargDest);
  if (FAILED(hr))
    return hr;
  VARIANT copy = *pvargSrc;
  if (!(copy.vt & VT_BYREF)) {
    if (copy.vt & VT_ARRAY) {
      hr = SafeArrayCopy(pvargSrc->parray, &copy.parray);
    } else if (copy.vt == VT_BSTR && copy.bstrVal) {
      copy.bstrVal = SysAllocStringByteLen(reinterpret_cast<const char*>(pvargSrc->bstrVal),
                                           SysStringByteLen(pvargSrc->bstrVal));
      hr = copy.bstrVal ? S_OK : E_OUTOFMEMORY;
    } else if (copy.vt == VT_UNKNOWN && copy.punkVal) {
      copy.punkVal->AddRef();
    } else if (copy.vt == VT_DISPATCH && copy.pdispVal) {
      AsUnknown(copy.pdispVal)->AddRef();
    }
  }
  if (FAILED(hr))
    return hr;
  *pvargDest = copy;
  return S_OK;
}

HRESULT VariantCopyInd(VARIANT* pvarDest, const VARIANTARG* pvargSrc) {
  if (!pvarDest || !pvargSrc)
    return E_INVALIDARG;
  if (!(pvargSrc->vt & VT_BYREF))
    return VariantCopy(pvarDest, pvargSrc);
  const VARTYPE vt = pvargSrc->vt & ~VT_BYREF;
  if (!IsVariantType(vt))
    return DISP_E_BADVARTYPE;
  if (!pvargSrc->byref)
    return E_INVALIDARG;
  // What the reference points to, as a variant of its own.
  VARIANT referenced;
  VariantInit(&referenced);
  const VARIANT* from = &referenced;
  if (vt == VT_VARIANT) {
    from = static_cast<const VARIANT*>(pvargSrc->byref);
    if (from->vt == (VT_BYREF | VT_VARIANT))
      return E_INVALIDARG;
  } else if (vt & VT_ARRAY) {
    referenced.vt = vt;
    referenced.parray = *static_cast<SAFEARRAY* const*>(pvargSrc->byref);
  } else {
    const size_t size = platform::com::VariantValueSize(vt);
    if (size == 0 || size > sizeof referenced.llVal)
      return DISP_E_BADVARTYPE;
    referenced.vt = vt;
    std::memcpy(&referenced.llVal, pvargSrc->byref, size);
  }
  // Copied before the destination is cleared: the source may lie in it.
  VARIANT copy;
  VariantInit(&copy);
  const HRESULT hr = VariantCopy(&copy, from);
  if (FAILED(hr))
    return hr;
  VariantClear(pvarDest);
  *pvarDest = copy;
  return S_OK;
}

SAFEARRAY* SafeArrayCreate(VARTYPE vt, UINT cDims, SAFEARRAYBOUND* rgsabound) {
  if (!rgsabound || cDims == 0 || cDims > 0xFFFF)
    return nullptr;
  std::vector<SAFEARRAYBOUND> stored(rgsabound, rgsabound + cDims);
  std::reverse(stored.begin(), stored.end());
  return NewArray(vt, cDims, stored.data());
}

SAFEARRAY* SafeArrayCreateVector(VARTYPE vt, LONG lLbound, ULONG cElements) {
  const SAFEARRAYBOUND bound = {cElements, lLbound};
  return NewArray(vt, 1, &bound);
}

HRESULT SafeArrayDestroy(SAFEARRAY* psa) {
  if (!psa)
    return S_OK;
  if (psa->cLocks > 0)
    return DISP_E_ARRAYISLOCKED;
  if (psa->pvData) {
    const uint64_t count = ElementCount(psa);
    auto* data = static_cast<BYTE*>(psa->pvData);
    for (uint64_t i = 0; i < count; ++i)
      ReleaseElement(psa, data + i * psa->cbElements);
    CoTaskMemFree(psa->pvData);
  }
  FreeDescriptor(psa);
  return S_OK;
}

UINT SafeArrayGetDim(SAFEARRAY* psa) {
  return psa ? psa->cDims : 0;
}

UINT SafeArrayGetElemsize(SAFEARRAY* psa) {
  return psa ? psa->cbElements : 0;
}

HRESULT SafeArrayGetVartype(SAFEARRAY* psa, VARTYPE* pvt) {
  if (!psa || !pvt)
    return E_INVALIDARG;
  *pvt = StoredType(psa);
  return S_OK;
}

HRESULT SafeArrayGetLBound(SAFEARRAY* psa, UINT nDim, LONG* plLbound) {
  const SAFEARRAYBOUND* bound = nullptr;
  const HRESULT hr = Dimension(psa, nDim, plLbound, bound);
  if (SUCCEEDED(hr))
    *plLbound = bound->lLbound;
  return hr;
}

HRESULT SafeArrayGetUBound(SAFEARRAY* psa, UINT nDim, LONG* plUbound) {
  const SAFEARRAYBOUND* bound = nullptr;
  const HRESULT hr = Dimension(psa, nDim, plUbound, bound);
  if (SUCCEEDED(hr))
    *plUbound = static_cast<LONG>(int64_t{bound->lLbound} + bound->cElements - 1);
  return hr;
}

HRESULT SafeArrayLock(SAFEARRAY* psa) {
  if (!psa)
    return E_INVALIDARG;
  ++psa->cLocks;
  return S_OK;
}

HRESULT SafeArrayUnlock(SAFEARRAY* psa) {
  if (!psa)
    return E_INVALIDARG;
  if (psa->cLocks == 0)
    return E_UNEXPECTED;
  --psa->cLocks;
  return S_OK;
}

HRESULT SafeArrayAccessData(SAFEARRAY* psa, void** ppvData) {
  if (!psa || !ppvData)
    return E_INVALIDARG;
  ++psa->cLocks;
  *ppvData = psa->pvData;
  return S_OK;
}

HRESULT SafeArrayUnaccessData(SAFEARRAY* psa) {
  return SafeArrayUnlock(psa);
}

HRESULT SafeArrayGetElement(SAFEARRAY* psa, LONG* rgIndices, void* pv) {
  if (!psa || !rgIndices || !pv)
    return E_INVALIDARG;
  const BYTE* element = ElementAt(psa, rgIndices);
  if (!element)
    return DISP_E_BADINDEX;
  return CopyElement(psa, element, static_cast<BYTE*>(pv));
}

HRESULT SafeArrayPutElement(SAFEARRAY* psa, LONG* rgIndices, void* pv) {
  if (!psa || !rgIndices)
    return E_INVALIDARG;
  BYTE* element = ElementAt(psa, rgIndices);
  if (!element)
    return DISP_E_BADINDEX;
  // Strings and interfaces come as themselves, everything else by address.
  const bool byValue = psa->fFeatures & (FADF_BSTR | FADF_UNKNOWN | FADF_DISPATCH);
  if (!byValue && !pv)
    return E_INVALIDARG;
  std::vector<BYTE> fresh(psa->cbElements);
  const HRESULT hr =
      CopyElement(psa, byValue ? reinterpret_cast<const BYTE*>(&pv) : static_cast<const BYTE*>(pv),
                  fresh.data());
  if (FAILED(hr))
    return hr;
  ReleaseElement(psa, element);
  std::memcpy(element, fresh.data(), psa->cbElements);
  return S_OK;
}

HRESULT SafeArrayCopy(SAFEARRAY* psa, SAFEARRAY** ppsaOut) {
  if (!ppsaOut)
    return E_INVALIDARG;
  *ppsaOut = nullptr;
  if (!psa)
    return S_OK;
  SAFEARRAY* copy = NewArray(StoredType(psa), psa->cDims, psa->rgsabound);
  if (!copy)
    return E_OUTOFMEMORY;
  const uint64_t count = ElementCount(psa);
  const auto* from = static_cast<const BYTE*>(psa->pvData);
  auto* to = static_cast<BYTE*>(copy->pvData);
  for (uint64_t i = 0; i < count; ++i) {
    const HRESULT hr = CopyElement(psa, from + i * psa->cbElements, to + i * psa->cbElements);
    if (FAILED(hr)) {
      SafeArrayDestroy(copy);
      return hr;
    }
  }
  *ppsaOut = copy;
  return S_OK;
}
