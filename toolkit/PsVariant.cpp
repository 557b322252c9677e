#include "toolkit/PsVariant.h"

#include <cfloat>
#include <cmath>
#include <cstring>
#include <limits>

#include "toolkit/PsUtils.h"
#include "vcl/SysUtils.h"

namespace toolkit {
namespace {

// Enough for any use of the toolkit and far below what would exhaust memory
// through a hostile bound.
constexpr int64_t kMaxElements = int64_t{1} << 28;

bool IsIntegerType(uint16_t type) {
  switch (type) {
    case varSmallint:
    case varInteger:
    case varBoolean:
    case varShortInt:
    case varByte:
    case varWord:
    case varLongWord:
    case varInt64:
      return true;
    default:
      return false;
  }
}

bool IsFloatType(uint16_t type) {
  return type == varSingle || type == varDouble || type == varDate;
}

bool IsNumberType(uint16_t type) {
  return IsIntegerType(type) || IsFloatType(type) || type == varCurrency;
}

bool IsTextType(uint16_t type) {
  return type == varOleStr || type == varString;
}

// Bytes of one element in the array buffer; 0 for texts and variants.
size_t ElementSize(uint16_t type) {
  switch (type) {
    case varShortInt:
    case varByte:
      return 1;
    case varSmallint:
    case varWord:
    case varBoolean:
      return 2;
    case varInteger:
    case varSingle:
    case varError:
    case varLongWord:
      return 4;
    case varDouble:
    case varCurrency:
    case varDate:
    case varInt64:
      return 8;
    default:
      return 0;
  }
}

bool IsElementType(uint16_t type) {
  return ElementSize(type) != 0 || IsTextType(type) || type == varVariant;
}

template <class T>
T Load(const unsigned char* at) {
  T value;
  std::memcpy(&value, at, sizeof value);
  return value;
}

template <class T>
void Store(unsigned char* at, T value) {
  std::memcpy(at, &value, sizeof value);
}

// Half to even, as the current rounding mode of the floating-point unit.
double RoundHalfEven(double value) {
  return std::nearbyint(value);
}

// Rounds ten-thousandths to whole units, half to even.
int64_t CurrencyToInteger(int64_t scaled) {
  int64_t whole = scaled / 10000;
  const int64_t rest = scaled % 10000;
  const int64_t twice = 2 * (rest < 0 ? -rest : rest);
  if (twice > 10000 || (twice == 10000 && whole % 2 != 0))
    whole += rest < 0 ? -1 : 1;
  return whole;
}

}  // namespace

struct PsVariant::ArrayData {
  uint16_t elementType = varEmpty;
  std::vector<PsVarArrayBound> bounds;
  std::vector<unsigned char> raw;
  std::vector<std::string> texts;
  std::vector<PsVariant> variants;
};

PsVariant PsVariant::OfType(uint16_t type, int64_t integer, double number) {
  PsVariant value;
  value.type_ = type;
  value.int_ = integer;
  value.float_ = number;
  return value;
}

PsVariant::PsVariant(bool value) : type_(varBoolean), int_(value ? 1 : 0) {}
PsVariant::PsVariant(int32_t value) : type_(varInteger), int_(value) {}
PsVariant::PsVariant(uint32_t value) : type_(varLongWord), int_(value) {}
PsVariant::PsVariant(int64_t value) : type_(varInt64), int_(value) {}
PsVariant::PsVariant(double value) : type_(varDouble), float_(value) {}
PsVariant::PsVariant(const char* text) : type_(varString), text_(text ? text : "") {}
PsVariant::PsVariant(std::string text) : type_(varString), text_(std::move(text)) {}

PsVariant PsVariant::Null() {
  return OfType(varNull);
}

PsVariant PsVariant::Smallint(int16_t value) {
  return OfType(varSmallint, value);
}

PsVariant PsVariant::Shortint(int8_t value) {
  return OfType(varShortInt, value);
}

PsVariant PsVariant::Byte(uint8_t value) {
  return OfType(varByte, value);
}

PsVariant PsVariant::Word(uint16_t value) {
  return OfType(varWord, value);
}

PsVariant PsVariant::Single(float value) {
  return OfType(varSingle, 0, value);
}

PsVariant PsVariant::Date(double value) {
  return OfType(varDate, 0, value);
}

PsVariant PsVariant::Currency(double value) {
  return PsVariant(value).CastTo(varCurrency);
}

PsVariant PsVariant::CurrencyScaled(int64_t tenThousandths) {
  return OfType(varCurrency, tenThousandths);
}

PsVariant PsVariant::Error(int32_t code) {
  return OfType(varError, code);
}

PsVariant PsVariant::OleStr(std::string text) {
  PsVariant v = OfType(varOleStr);
  v.text_ = std::move(text);
  return v;
}

PsVariant PsVariant::Array(const std::vector<PsVarArrayBound>& bounds, uint16_t elementType) {
  if (!IsElementType(elementType))
    throw vcl::EVariantError(
        vcl::Format("Arrays of %s are not supported", VarTypeToText(elementType)));
  int64_t count = 1;
  for (const PsVarArrayBound& bound : bounds) {
    if (bound.Length() < 0)
      throw vcl::EVariantError(vcl::Format("Invalid array bounds [%d..%d]", bound.low, bound.high));
    count *= bound.Length();
    if (count > kMaxElements)
      throw vcl::EOutOfMemory(vcl::Format("Array of more than %d elements", kMaxElements));
  }
  PsVariant v = OfType(static_cast<uint16_t>(varArray | elementType));
  auto data = std::make_shared<ArrayData>();
  data->elementType = elementType;
  data->bounds = bounds;
  const auto elements = static_cast<size_t>(count);
  if (IsTextType(elementType))
    data->texts.resize(elements);
  else if (elementType == varVariant)
    data->variants.resize(elements);
  else
    data->raw.resize(elements * ElementSize(elementType));
  v.array_ = std::move(data);
  return v;
}

PsVariant PsVariant::ArrayOf(std::vector<PsVariant> values) {
  PsVariant v = Array({{0, static_cast<int32_t>(values.size()) - 1}}, varVariant);
  v.array_->variants = std::move(values);
  return v;
}

const PsVariant::ArrayData& PsVariant::Data() const {
  if (!array_)
    throw vcl::EVariantBadIndexError("Variant is not an array");
  return *array_;
}

int PsVariant::DimCount() const {
  return array_ ? static_cast<int>(array_->bounds.size()) : 0;
}

int32_t PsVariant::LowBound(int dim) const {
  const ArrayData& data = Data();
  if (dim < 1 || dim > DimCount())
    throw vcl::EVariantBadIndexError(vcl::Format("Array has no dimension %d", dim));
  return data.bounds[static_cast<size_t>(dim - 1)].low;
}

int32_t PsVariant::HighBound(int dim) const {
  const ArrayData& data = Data();
  if (dim < 1 || dim > DimCount())
    throw vcl::EVariantBadIndexError(vcl::Format("Array has no dimension %d", dim));
  return data.bounds[static_cast<size_t>(dim - 1)].high;
}

int64_t PsVariant::ElementCount() const {
  int64_t count = 1;
  for (const PsVarArrayBound& bound : Data().bounds)
    count *= bound.Length();
  return count;
}

int64_t PsVariant::Position(const std::vector<int32_t>& indices) const {
  const ArrayData& data = Data();
  if (indices.size() != data.bounds.size())
    throw vcl::EVariantBadIndexError("Variant or safe array index out of bounds");
  int64_t position = 0;
  int64_t stride = 1;
  for (size_t d = 0; d < indices.size(); ++d) {
    const PsVarArrayBound& bound = data.bounds[d];
    if (indices[d] < bound.low || indices[d] > bound.high)
      throw vcl::EVariantBadIndexError("Variant or safe array index out of bounds");
    position += (static_cast<int64_t>(indices[d]) - bound.low) * stride;
    stride *= bound.Length();
  }
  return position;
}

PsVariant PsVariant::ElementAt(int64_t position) const {
  const ArrayData& data = Data();
  if (position < 0 || position >= ElementCount())
    throw vcl::EVariantBadIndexError("Variant or safe array index out of bounds");
  const auto at = static_cast<size_t>(position);
  const uint16_t type = data.elementType;
  if (IsTextType(type)) {
    PsVariant v = OfType(type);
    v.text_ = data.texts[at];
    return v;
  }
  if (type == varVariant)
    return data.variants[at];
  const unsigned char* raw = data.raw.data() + at * ElementSize(type);
  PsVariant v = OfType(type);
  switch (type) {
    case varShortInt:
      v.int_ = Load<int8_t>(raw);
      break;
    case varByte:
      v.int_ = Load<uint8_t>(raw);
      break;
    case varSmallint:
      v.int_ = Load<int16_t>(raw);
      break;
    case varWord:
      v.int_ = Load<uint16_t>(raw);
      break;
    case varBoolean:
      v.int_ = Load<int16_t>(raw) != 0 ? 1 : 0;
      break;
    case varInteger:
    case varError:
      v.int_ = Load<int32_t>(raw);
      break;
    case varLongWord:
      v.int_ = Load<uint32_t>(raw);
      break;
    case varInt64:
    case varCurrency:
      v.int_ = Load<int64_t>(raw);
      break;
    case varSingle:
      v.float_ = Load<float>(raw);
      break;
    default:
      v.float_ = Load<double>(raw);
      break;
  }
  return v;
}

PsVariant PsVariant::GetElement(const std::vector<int32_t>& indices) const {
  return ElementAt(Position(indices));
}

void PsVariant::PutElement(const std::vector<int32_t>& indices, const PsVariant& value) {
  PutAt(Position(indices), value);
}

void PsVariant::PutElementAt(int64_t position, const PsVariant& value) {
  if (position < 0 || position >= ElementCount())
    throw vcl::EVariantBadIndexError("Variant or safe array index out of bounds");
  PutAt(position, value);
}

void PsVariant::PutAt(int64_t position, const PsVariant& value) {
  const uint16_t type = Data().elementType;
  // Converted before the buffer is touched: a failed conversion changes nothing.
  const PsVariant element = type == varVariant ? value : value.CastTo(type);
  if (array_.use_count() > 1)
    array_ = std::make_shared<ArrayData>(*array_);
  ArrayData& data = *array_;
  const auto at = static_cast<size_t>(position);
  if (IsTextType(type)) {
    data.texts[at] = element.text_;
    return;
  }
  if (type == varVariant) {
    data.variants[at] = element;
    return;
  }
  unsigned char* raw = data.raw.data() + at * ElementSize(type);
  switch (type) {
    case varShortInt:
      Store(raw, static_cast<int8_t>(element.int_));
      break;
    case varByte:
      Store(raw, static_cast<uint8_t>(element.int_));
      break;
    case varSmallint:
      Store(raw, static_cast<int16_t>(element.int_));
      break;
    case varWord:
      Store(raw, static_cast<uint16_t>(element.int_));
      break;
    case varBoolean:
      Store(raw, static_cast<int16_t>(element.int_ != 0 ? -1 : 0));
      break;
    case varInteger:
    case varError:
      Store(raw, static_cast<int32_t>(element.int_));
      break;
    case varLongWord:
      Store(raw, static_cast<uint32_t>(element.int_));
      break;
    case varInt64:
    case varCurrency:
      Store(raw, element.int_);
      break;
    case varSingle:
      Store(raw, static_cast<float>(element.float_));
      break;
    default:
      Store(raw, element.float_);
      break;
  }
}

std::string_view PsVariant::RawElements() const {
  const ArrayData& data = Data();
  return {reinterpret_cast<const char*>(data.raw.data()), data.raw.size()};
}

void PsVariant::CastError(uint16_t target) const {
  throw vcl::EVariantTypeCastError(
      vcl::Format("Could not convert variant of type (%s) into type (%s)", VarTypeToText(type_),
                  VarTypeToText(target)));
}

void PsVariant::OverflowError(uint16_t target) const {
  throw vcl::EVariantOverflowError(
      vcl::Format("Overflow while converting variant of type (%s) into type (%s)",
                  VarTypeToText(type_), VarTypeToText(target)));
}

int64_t PsVariant::ToInteger(int64_t min, int64_t max, uint16_t target) const {
  int64_t value = 0;
  if (IsIntegerType(type_)) {
    value = int_;
  } else if (type_ == varCurrency) {
    value = CurrencyToInteger(int_);
  } else if (type_ == varEmpty) {
    value = 0;
  } else if (IsFloatType(type_) || IsTextType(type_)) {
    double number = float_;
    if (IsTextType(type_)) {
      if (vcl::TryStrToInt64(text_, value)) {
        if (value < min || value > max)
          OverflowError(target);
        return value;
      }
      if (!vcl::TryStrToFloat(text_, number))
        CastError(target);
    }
    const double rounded = RoundHalfEven(number);
    // 2^63 is the first double beyond int64; NaN fails both tests.
    if (!(rounded >= -9223372036854775808.0 && rounded < 9223372036854775808.0))
      OverflowError(target);
    value = static_cast<int64_t>(rounded);
  } else {
    CastError(target);
  }
  if (value < min || value > max)
    OverflowError(target);
  return value;
}

int32_t PsVariant::AsInt32() const {
  return static_cast<int32_t>(ToInteger(INT32_MIN, INT32_MAX, varInteger));
}

int64_t PsVariant::AsInt64() const {
  return ToInteger(INT64_MIN, INT64_MAX, varInt64);
}

uint32_t PsVariant::AsUInt32() const {
  return static_cast<uint32_t>(ToInteger(0, UINT32_MAX, varLongWord));
}

double PsVariant::AsDouble() const {
  if (IsIntegerType(type_))
    return static_cast<double>(int_);
  if (IsFloatType(type_))
    return float_;
  if (type_ == varCurrency)
    return static_cast<double>(int_) / 10000.0;
  if (type_ == varEmpty)
    return 0;
  double value = 0;
  if (!IsTextType(type_) || !vcl::TryStrToFloat(text_, value))
    CastError(varDouble);
  return value;
}

bool PsVariant::AsBool() const {
  if (IsTextType(type_)) {
    if (vcl::SameText(text_, "True"))
      return true;
    if (vcl::SameText(text_, "False"))
      return false;
    double number = 0;
    if (!vcl::TryStrToFloat(text_, number))
      CastError(varBoolean);
    return number != 0;
  }
  if (type_ == varEmpty)
    return false;
  if (IsIntegerType(type_) || type_ == varCurrency)
    return int_ != 0;
  if (IsFloatType(type_))
    return float_ != 0;
  CastError(varBoolean);
}

std::string PsVariant::AsText() const {
  switch (type_) {
    case varEmpty:
      return {};
    case varOleStr:
    case varString:
      return text_;
    case varBoolean:
      return int_ != 0 ? "True" : "False";
    case varSingle:
      return vcl::Format("%.7g", float_);
    case varDouble:
      return vcl::FloatToStr(float_);
    case varCurrency:
      return vcl::FloatToStr(static_cast<double>(int_) / 10000.0);
    case varDate:
      return vcl::DateTimeToStr(float_);
    default:
      if (IsIntegerType(type_))
        return std::to_string(int_);
      CastError(varString);
  }
}

int32_t PsVariant::ErrorCode() const {
  if (type_ != varError)
    CastError(varError);
  return static_cast<int32_t>(int_);
}

int64_t PsVariant::AsCurrencyScaled() const {
  return CastTo(varCurrency).int_;
}

PsVariant PsVariant::CastTo(uint16_t code) const {
  if (code == type_)
    return *this;
  if ((code & varArray) != 0) {
    const uint16_t element = code & varTypeMask;
    if (!IsArray() || (code & ~(varArray | varTypeMask)) != 0 || !IsElementType(element))
      CastError(code);
    PsVariant result = Array(Data().bounds, element);
    for (int64_t i = 0, n = ElementCount(); i < n; ++i)
      result.PutAt(i, ElementAt(i));
    return result;
  }
  if (code == varVariant)
    return *this;
  if (IsArray())
    CastError(code);
  PsVariant result = OfType(code);
  switch (code) {
    case varEmpty:
    case varNull:
      return result;
    case varSmallint:
      result.int_ = ToInteger(INT16_MIN, INT16_MAX, code);
      return result;
    case varInteger:
      result.int_ = ToInteger(INT32_MIN, INT32_MAX, code);
      return result;
    case varShortInt:
      result.int_ = ToInteger(INT8_MIN, INT8_MAX, code);
      return result;
    case varByte:
      result.int_ = ToInteger(0, UINT8_MAX, code);
      return result;
    case varWord:
      result.int_ = ToInteger(0, UINT16_MAX, code);
      return result;
    case varLongWord:
      result.int_ = ToInteger(0, UINT32_MAX, code);
      return result;
    case varInt64:
      result.int_ = ToInteger(INT64_MIN, INT64_MAX, code);
      return result;
    case varBoolean:
      result.int_ = AsBool() ? 1 : 0;
      return result;
    case varDouble:
      result.float_ = AsDouble();
      return result;
    case varSingle: {
      const double value = AsDouble();
      if (std::isfinite(value) && std::fabs(value) > FLT_MAX)
        OverflowError(code);
      result.float_ = static_cast<float>(value);
      return result;
    }
    case varDate:
      if (IsTextType(type_)) {
        if (!vcl::TryStrToDateTime(text_, result.float_))
          CastError(code);
      } else {
        result.float_ = AsDouble();
      }
      return result;
    case varCurrency: {
      if (IsIntegerType(type_) || type_ == varEmpty) {
        if (int_ > INT64_MAX / 10000 || int_ < INT64_MIN / 10000)
          OverflowError(code);
        result.int_ = int_ * 10000;
        return result;
      }
      const double scaled = RoundHalfEven(AsDouble() * 10000.0);
      if (!(scaled >= -9223372036854775808.0 && scaled < 9223372036854775808.0))
        OverflowError(code);
      result.int_ = static_cast<int64_t>(scaled);
      return result;
    }
    case varOleStr:
    case varString:
      result.text_ = AsText();
      return result;
    case varError:
      result.int_ = ToInteger(INT32_MIN, INT32_MAX, code);
      return result;
    default:
      CastError(code);
  }
}

bool PsVariant::Equals(const PsVariant& other) const {
  if (IsArray() || other.IsArray())
    return false;
  if (type_ == varEmpty || type_ == varNull || other.type_ == varEmpty || other.type_ == varNull)
    return type_ == other.type_;
  if (type_ == varError || other.type_ == varError)
    return type_ == other.type_ && int_ == other.int_;
  const bool text = IsTextType(type_);
  const bool otherText = IsTextType(other.type_);
  if (text && otherText)
    return text_ == other.text_;
  if (IsIntegerType(type_) && IsIntegerType(other.type_))
    return int_ == other.int_;
  if (type_ == varCurrency && other.type_ == varCurrency)
    return int_ == other.int_;
  if (text || otherText) {
    const PsVariant& number = text ? other : *this;
    const std::string& words = text ? text_ : other.text_;
    if (number.type_ == varBoolean) {
      if (vcl::SameText(words, "True") || vcl::SameText(words, "False"))
        return vcl::SameText(words, "True") == (number.int_ != 0);
    }
    double value = 0;
    return vcl::TryStrToFloat(words, value) && value == number.AsDouble();
  }
  if (IsNumberType(type_) && IsNumberType(other.type_))
    return AsDouble() == other.AsDouble();
  return false;
}

}  // namespace toolkit
