// Classifying, printing and comparing variants.
#include <cstring>

#include "toolkit/PsStrings.h"
#include "toolkit/PsUtils.h"

namespace toolkit {
namespace {

constexpr std::string_view kDataTypeNames[] = {
    "Default",  "Null",     "Smallint", "Integer",    "Single",   "Double",
    "Currency", "Date",     "OleStr",   "Dispatch",   "Error",    "Boolean",
    "Variant",  "Unknown",  "Decimal",  "Undefined",  "Shortint", "Byte",
    "Word",     "LongWord", "Int64",    "Unsupported"};
static_assert(std::size(kDataTypeNames) == vdtUnsupported + 1);

// Element types whose arrays compare by their bytes.
bool ComparesBitwise(uint16_t type) {
  switch (type) {
    case varSmallint:
    case varInteger:
    case varSingle:
    case varDouble:
    case varCurrency:
    case varDate:
    case varBoolean:
    case varByte:
      return true;
    default:
      return false;
  }
}

std::string ElementTexts(const PsVariant& value, int64_t first, int64_t stride, int64_t count,
                         char separator) {
  std::string text;
  for (int64_t k = 0; k < count; ++k) {
    if (k > 0)
      text += separator;
    text += VariantToText(value.ElementAt(first + k * stride), false);
  }
  return text;
}

}  // namespace

std::string_view PsVarDataTypeName(TPsVarDataType type) {
  return type >= vdtDefault && type <= vdtUnsupported ? kDataTypeNames[type] : "Unsupported";
}

TPsVariantClass VariantClass(const PsVariant& value) {
  switch (value.VarType() & varTypeMask) {
    case varEmpty:
    case varNull:
      return vcNull;
    case varSmallint:
    case varInteger:
    case varByte:
    case varWord:
      return vcInteger;
    case varSingle:
    case varDouble:
    case varCurrency:
      return vcFloat;
    case varDate:
      return vcDate;
    case varOleStr:
    case varStrArg:
    case varString:
      return vcString;
    case varBoolean:
      return vcBoolean;
    case varLongWord:
    case varInt64:
      return vcBigInt;
    default:
      return vcOther;
  }
}

bool VarHasValue(const PsVariant& value) {
  return !value.IsEmpty() && !value.IsNull();
}

TPsVarDataType VarTypeToPsVarDataType(uint16_t code) {
  const uint16_t type = code & varTypeMask;
  return type < vdtUnsupported ? static_cast<TPsVarDataType>(type) : vdtUnsupported;
}

uint16_t PsVarDataTypeToVarType(TPsVarDataType type, bool asArray) {
  if (type < vdtDefault || type >= vdtUnsupported)
    return varEmpty;
  return static_cast<uint16_t>(type | (asArray ? varArray : 0));
}

std::string VarTypeToText(uint16_t code) {
  const uint16_t type = code & varTypeMask;
  const TPsVarDataType dataType = VarTypeToPsVarDataType(type);
  std::string text = type == varString            ? "string"
                     : dataType == vdtUnsupported ? std::to_string(type)
                                                  : std::string(PsVarDataTypeName(dataType));
  if (code & varArray)
    text = vcl::Format(PsString(sPsArrayOf), text);
  if (code & varByRef)
    text = vcl::Format(PsString(sPsReference), text);
  return text;
}

std::string VariantToText(const PsVariant& value, bool withType) {
  std::string text;
  if (value.IsArray()) {
    text = VarArrayToText(value, vcl::FormatSettings().ListSeparator, '\r');
  } else {
    switch (value.VarType()) {
      case varEmpty:
        text = "#EMPTY";
        break;
      case varNull:
        text = "#NULL";
        break;
      case varDate: {
        const vcl::TFormatSettings& settings = vcl::FormatSettings();
        try {
          text = vcl::FormatDateTime(
              settings.ShortDateFormat + " " + settings.LongTimeFormat + ".zzz", value.AsDouble());
        } catch (const vcl::EConvertError&) {
          text = vcl::FloatToStr(value.AsDouble());
        }
        break;
      }
      case varError:
        text = vcl::Format("Error($%x)", value.ErrorCode());
        break;
      default:
        text = value.AsText();
    }
  }
  if (withType)
    text = vcl::Format("%s{%s}", text, VarTypeToText(value.VarType()));
  return text;
}

std::string VarArrayToText(const PsVariant& value, char columnSeparator, char rowSeparator) {
  if (!value.IsArray())
    return VariantToText(value, false);
  const char list = vcl::FormatSettings().ListSeparator;
  if (columnSeparator == '\0')
    columnSeparator = list;
  if (rowSeparator == '\0')
    rowSeparator = list;
  std::string text;
  switch (value.DimCount()) {
    case 1:
      text = ElementTexts(value, 0, 1, VarArrayLength(value), columnSeparator);
      break;
    case 2: {
      // The first dimension varies fastest in the buffer: a row's elements
      // lie the first dimension's length apart.
      const int64_t rows = VarArrayLength(value);
      const int64_t columns = static_cast<int64_t>(value.HighBound(2)) - value.LowBound(2) + 1;
      for (int64_t row = 0; columns > 0 && row < rows; ++row) {
        text += rowSeparator;
        text += vcl::Format("[%s]", ElementTexts(value, row, rows, columns, columnSeparator));
      }
      break;
    }
    default:
      text = vcl::Format("Array Dim=%d", value.DimCount());
  }
  return vcl::Format("[%s]", text);
}

int64_t VarArrayElementCount(const PsVariant& value) {
  return value.IsArray() ? value.ElementCount() : 1;
}

int64_t VarArrayLength(const PsVariant& value) {
  return static_cast<int64_t>(value.HighBound(1)) - value.LowBound(1) + 1;
}

bool VariantsEqual(const PsVariant& a, const PsVariant& b, bool strictType) {
  if (strictType && a.VarType() != b.VarType())
    return false;
  if (!VarHasValue(a) || !VarHasValue(b))
    return !VarHasValue(a) && !VarHasValue(b);
  if (!a.IsArray() && !b.IsArray())
    return a.Equals(b);
  return VarArraysEqual(a, b, strictType);
}

bool VarArraysEqual(const PsVariant& a, const PsVariant& b, bool strictType) {
  if (strictType && a.VarType() != b.VarType())
    return false;
  if (!a.IsArray() || !b.IsArray() || a.DimCount() != b.DimCount())
    return false;
  for (int dim = 1; dim <= a.DimCount(); ++dim) {
    if (a.LowBound(dim) != b.LowBound(dim) || a.HighBound(dim) != b.HighBound(dim))
      return false;
  }
  const uint16_t type = a.VarType() & varTypeMask;
  if (type == (b.VarType() & varTypeMask) && ComparesBitwise(type))
    return a.RawElements() == b.RawElements();
  if (a.DimCount() > 2)
    return false;
  for (int64_t i = 0, n = a.ElementCount(); i < n; ++i) {
    if (!VariantsEqual(a.ElementAt(i), b.ElementAt(i), strictType))
      return false;
  }
  return true;
}

bool IsBitSet(uint32_t value, int bit) {
  return bit >= 0 && bit < 32 && ((value >> bit) & 1u) != 0;
}

std::string BoolToText(bool value) {
  return value ? "True" : "False";
}

}  // namespace toolkit
