// The conversions between the toolkit's variants and COM's, the same code in
// both builds. A value is read from or written to the address where COM
// keeps it: a variant's data, the target of a reference, or one element of
// a safe array, so scalars, references and elements share one path.
#include <algorithm>
#include <cstring>
#include <vector>

#include "opcserver/PsOPC.h"
#include "toolkit/PsUtils.h"

namespace opcserver {
namespace {

using toolkit::PsVariant;

// Variants within variants (through references or arrays of variants)
// deeper than this are refused: a reference may point back at itself.
constexpr int kMaxDepth = 32;

template <class T>
T Load(const void* at) {
  T value;
  std::memcpy(&value, at, sizeof value);
  return value;
}

template <class T>
void Store(void* at, T value) {
  std::memcpy(at, &value, sizeof value);
}

[[noreturn]] void Unsupported(VARTYPE type) {
  throw vcl::EVariantTypeCastError(
      vcl::Format("Variants of type (%s) are not supported", toolkit::VarTypeToText(type)));
}

// The bytes of one value of a type in an array; 0 for types we do not take.
size_t ValueSize(VARTYPE type) {
  return type == VT_UNKNOWN || type == VT_DISPATCH ? 0 : platform::com::VariantValueSize(type);
}

// The toolkit's type for values of a COM type.
uint16_t ToolkitType(VARTYPE type) {
  switch (type) {
    case VT_INT:
      return toolkit::varInteger;
    case VT_UINT:
      return toolkit::varLongWord;
    case VT_UI8:
      return toolkit::varInt64;
    default:
      if (ValueSize(type) == 0)
        Unsupported(type);
      return type;
  }
}

// The COM type for values of a toolkit type: the same code, but for the
// toolkit's own text type.
VARTYPE ComType(uint16_t type) {
  if (type == toolkit::varString)
    return VT_BSTR;
  if (type != VT_EMPTY && type != VT_NULL && ValueSize(type) == 0)
    Unsupported(type);
  return type;
}

// Holds a safe array's data accessible while it is read or written.
class ArrayAccess {
 public:
  explicit ArrayAccess(SAFEARRAY* array) : array_(array) {
    if (FAILED(SafeArrayAccessData(array, &data_)))
      throw vcl::EVariantError("The array's data cannot be accessed");
  }
  ~ArrayAccess() { SafeArrayUnaccessData(array_); }
  ArrayAccess(const ArrayAccess&) = delete;
  ArrayAccess& operator=(const ArrayAccess&) = delete;

  unsigned char* Data() const { return static_cast<unsigned char*>(data_); }

 private:
  SAFEARRAY* array_;
  void* data_ = nullptr;
};

// The indices of an array's elements in the order of its buffer, the first
// dimension varying fastest.
class IndexWalk {
 public:
  explicit IndexWalk(const PsVariant& array) {
    for (int d = 1; d <= array.DimCount(); ++d) {
      low_.push_back(array.LowBound(d));
      high_.push_back(array.HighBound(d));
    }
    indices_ = low_;
  }
  const std::vector<int32_t>& Indices() const { return indices_; }
  void Next() {
    for (size_t d = 0; d < indices_.size(); ++d) {
      if (indices_[d] < high_[d]) {
        ++indices_[d];
        return;
      }
      indices_[d] = low_[d];
    }
  }

 private:
  std::vector<int32_t> low_;
  std::vector<int32_t> high_;
  std::vector<int32_t> indices_;
};

PsVariant ValueAt(VARTYPE type, const void* at, int depth);

PsVariant FromVariant(const VARIANT& source, int depth) {
  if (depth > kMaxDepth)
    throw vcl::EVariantError("Variants nested too deeply");
  VARTYPE type = source.vt;
  if ((type & VT_BYREF) == 0) {
    // A variant's data is no variant of its own.
    if (type == VT_VARIANT)
      Unsupported(type);
    return ValueAt(type, &source.llVal, depth);
  }
  type &= ~VT_BYREF;
  if (!source.byref)
    throw vcl::EVariantError("Variant reference to nothing");
  return ValueAt(type, source.byref, depth);
}

// The bounds of each of an array's dimensions, the first one first.
std::vector<toolkit::PsVarArrayBound> Bounds(SAFEARRAY* array) {
  std::vector<toolkit::PsVarArrayBound> bounds;
  for (UINT d = 1; d <= SafeArrayGetDim(array); ++d) {
    LONG low = 0;
    LONG high = 0;
    SafeArrayGetLBound(array, d, &low);
    SafeArrayGetUBound(array, d, &high);
    bounds.push_back({static_cast<int32_t>(low), static_cast<int32_t>(high)});
  }
  return bounds;
}

PsVariant FromSafeArray(VARTYPE type, SAFEARRAY* array, int depth) {
  if (!array || SafeArrayGetDim(array) == 0)
    throw vcl::EVariantError("Variant array without an array");
  const uint16_t elementType = ToolkitType(type);
  const size_t size = ValueSize(type);
  // An array whose elements are not what its type says would be read past its end.
  if (SafeArrayGetElemsize(array) != size)
    throw vcl::EVariantError("Variant array of the wrong element size");
  PsVariant result = PsVariant::Array(Bounds(array), elementType);
  const ArrayAccess access(array);
  IndexWalk walk(result);
  for (int64_t i = 0, n = result.ElementCount(); i < n; ++i, walk.Next())
    result.PutElement(walk.Indices(),
                      ValueAt(type, access.Data() + static_cast<size_t>(i) * size, depth + 1));
  return result;
}

PsVariant ValueAt(VARTYPE type, const void* at, int depth) {
  if ((type & VT_ARRAY) != 0)
    return FromSafeArray(type & VT_TYPEMASK, Load<SAFEARRAY*>(at), depth);
  switch (type) {
    case VT_EMPTY:
      return {};
    case VT_NULL:
      return PsVariant::Null();
    case VT_I1:
      return PsVariant::Shortint(Load<int8_t>(at));
    case VT_UI1:
      return PsVariant::Byte(Load<uint8_t>(at));
    case VT_I2:
      return PsVariant::Smallint(Load<int16_t>(at));
    case VT_UI2:
      return PsVariant::Word(Load<uint16_t>(at));
    case VT_I4:
    case VT_INT:
      return PsVariant(Load<int32_t>(at));
    case VT_UI4:
    case VT_UINT:
      return PsVariant(Load<uint32_t>(at));
    case VT_I8:
      return PsVariant(Load<int64_t>(at));
    case VT_UI8: {
      const auto value = Load<uint64_t>(at);
      if (value > static_cast<uint64_t>(INT64_MAX))
        throw vcl::EVariantOverflowError(
            "Overflow while converting variant of type (UInt64) into type (Int64)");
      return PsVariant(static_cast<int64_t>(value));
    }
    case VT_R4:
      return PsVariant::Single(Load<float>(at));
    case VT_R8:
      return PsVariant(Load<double>(at));
    case VT_CY:
      return PsVariant::CurrencyScaled(Load<int64_t>(at));
    case VT_DATE:
      return PsVariant::Date(Load<double>(at));
    case VT_ERROR:
      return PsVariant::Error(Load<int32_t>(at));
    case VT_BOOL:
      return PsVariant(Load<VARIANT_BOOL>(at) != 0);
    case VT_BSTR: {
      const BSTR text = Load<BSTR>(at);
      return PsVariant::OleStr(
          platform::com::WideToUtf8(platform::com::WideView(text, SysStringLen(text))));
    }
    case VT_VARIANT:
      return FromVariant(*static_cast<const VARIANT*>(at), depth + 1);
    default:
      Unsupported(type);
  }
}

// A BSTR of UTF-8 text; an empty text gives an empty BSTR, not a null one.
BSTR MakeBstr(const std::string& text) {
  const platform::com::WideString wide = platform::com::Utf8ToWide(text);
  if (wide.size() > UINT32_MAX / sizeof(OLECHAR))
    throw vcl::EOutOfMemory("Text too long for a BSTR");
  const BSTR result = SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
  if (!result)
    throw vcl::EOutOfMemory(vcl::Format("SysAllocStringLen failed for %d characters",
                                        static_cast<int64_t>(wide.size())));
  return result;
}

void ToVariant(const PsVariant& source, VARIANT& dest);

// Writes a value of COM type `type` where COM keeps it: `at` holds nothing
// that needs freeing (a fresh variant's data or a fresh array's element).
void PutValueAt(VARTYPE type, void* at, const PsVariant& value) {
  switch (type) {
    case VT_EMPTY:
    case VT_NULL:
      return;
    // The value is of the type already: a variant's scalar, or an element
    // of an array of this type.
    case VT_I1:
      return Store(at, static_cast<int8_t>(value.AsInt32()));
    case VT_UI1:
      return Store(at, static_cast<uint8_t>(value.AsInt32()));
    case VT_I2:
      return Store(at, static_cast<int16_t>(value.AsInt32()));
    case VT_UI2:
      return Store(at, static_cast<uint16_t>(value.AsInt32()));
    case VT_I4:
      return Store(at, value.AsInt32());
    case VT_UI4:
      return Store(at, value.AsUInt32());
    case VT_I8:
      return Store(at, value.AsInt64());
    case VT_R4:
      return Store(at, static_cast<float>(value.AsDouble()));
    case VT_R8:
    case VT_DATE:
      return Store(at, value.AsDouble());
    case VT_CY:
      return Store(at, value.AsCurrencyScaled());
    case VT_ERROR:
      return Store(at, value.ErrorCode());
    case VT_BOOL:
      return Store(at, value.AsBool() ? VARIANT_TRUE : VARIANT_FALSE);
    case VT_BSTR:
      return Store(at, MakeBstr(value.AsText()));
    case VT_VARIANT:
      return ToVariant(value, *static_cast<VARIANT*>(at));
    default:
      Unsupported(type);
  }
}

SAFEARRAY* ToSafeArray(const PsVariant& source) {
  const VARTYPE type = ComType(source.VarType() & toolkit::varTypeMask);
  std::vector<SAFEARRAYBOUND> bounds;
  for (int d = 1; d <= source.DimCount(); ++d)
    bounds.push_back(
        {static_cast<ULONG>(static_cast<int64_t>(source.HighBound(d)) - source.LowBound(d) + 1),
         static_cast<LONG>(source.LowBound(d))});
  platform::com::SafeArrayPtr array(
      SafeArrayCreate(type, static_cast<UINT>(bounds.size()), bounds.data()));
  if (!array)
    throw vcl::EOutOfMemory("SafeArrayCreate failed");
  {
    const ArrayAccess access(array.get());
    const size_t size = ValueSize(type);
    for (int64_t i = 0, n = source.ElementCount(); i < n; ++i)
      PutValueAt(type, access.Data() + static_cast<size_t>(i) * size, source.ElementAt(i));
  }
  return array.release();
}

// Whether a value lies wholly in memory of its own: no reference, none
// among the elements of an array of variants either (nor one too deep to
// tell, nor elements of another size than a variant's).
bool IsOwnValue(const VARIANT& value, int depth) {
  if ((value.vt & VT_BYREF) != 0)
    return false;
  if (value.vt != (VT_ARRAY | VT_VARIANT))
    return true;
  SAFEARRAY* array = value.parray;
  if (depth > kMaxDepth || !array || SafeArrayGetElemsize(array) != sizeof(VARIANT))
    return false;
  uint64_t count = 1;
  for (const toolkit::PsVarArrayBound& bound : Bounds(array))
    count *= static_cast<uint64_t>(std::max<int64_t>(bound.Length(), 0));
  const ArrayAccess access(array);
  const auto* elements = reinterpret_cast<const VARIANT*>(access.Data());
  for (uint64_t i = 0; i < count; ++i)
    if (!IsOwnValue(elements[i], depth + 1))
      return false;
  return true;
}

// Fills `dest`, an empty variant; what it was given is freed by its owner
// when this fails.
void ToVariant(const PsVariant& source, VARIANT& dest) {
  if (source.IsArray()) {
    dest.parray = ToSafeArray(source);
    dest.vt = static_cast<VARTYPE>(VT_ARRAY | ComType(source.VarType() & toolkit::varTypeMask));
    return;
  }
  const VARTYPE type = ComType(source.VarType());
  if (type == VT_VARIANT)
    Unsupported(type);
  PutValueAt(type, &dest.llVal, source);
  dest.vt = type;
}

}  // namespace

PsVariant VariantToPsVariant(const VARIANT& source) {
  return FromVariant(source, 0);
}

void PsVariantToVariant(const PsVariant& source, VARIANT& dest) {
  platform::com::OleVariant built;
  ToVariant(source, *built);
  VariantClear(&dest);
  dest = *built;
  VariantInit(built.Get());
}

HRESULT CopyCallersValue(const VARIANT& source, VARIANT& target) {
  VariantClear(&target);
  if ((source.vt & VT_BYREF) != 0 && !source.byref)
    return OPC_E_BADTYPE;
  try {
    // The platform declares the source without const; it is only read.
    if (SUCCEEDED(VariantCopyInd(&target, const_cast<VARIANT*>(&source))) && IsOwnValue(target, 0))
      return S_OK;
  } catch (const vcl::Exception&) {
  }
  VariantClear(&target);
  return OPC_E_BADTYPE;
}

}  // namespace opcserver
