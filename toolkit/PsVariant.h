// The toolkit's variant: one value with its COM variant type code, or an
// array of them, and the conversions between the types.
//
// Scalars: empty (0), null (1), smallint (2), integer (3), single (4),
// double (5), currency (6, an int64 of ten-thousandths), date (7, a
// TDateTime), text (8 and 256, UTF-8 bytes), error (10, an SCODE), Boolean
// (11), shortint (16), byte (17), word (18), long word (19), int64 (20).
// Arrays (flag 0x2000) hold elements of one of the scalar types above but
// empty and null, or variants (12); they have any number of dimensions, each
// with its own low and high bound. Elements lie in one buffer, the first
// dimension varying fastest (as in a safe array), shared between copies
// until one of them is written.
//
// Conversions: a Boolean is 1 or 0 as a number; a float becomes an integer
// rounded half to even; a result that does not fit raises
// EVariantOverflowError, a conversion that does not exist
// EVariantTypeCastError, an array index outside its bounds
// EVariantBadIndexError.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace toolkit {

inline constexpr uint16_t varEmpty = 0;
inline constexpr uint16_t varNull = 1;
inline constexpr uint16_t varSmallint = 2;
inline constexpr uint16_t varInteger = 3;
inline constexpr uint16_t varSingle = 4;
inline constexpr uint16_t varDouble = 5;
inline constexpr uint16_t varCurrency = 6;
inline constexpr uint16_t varDate = 7;
inline constexpr uint16_t varOleStr = 8;
inline constexpr uint16_t varDispatch = 9;
inline constexpr uint16_t varError = 10;
inline constexpr uint16_t varBoolean = 11;
inline constexpr uint16_t varVariant = 12;
inline constexpr uint16_t varUnknown = 13;
inline constexpr uint16_t varDecimal = 14;
inline constexpr uint16_t varShortInt = 16;
inline constexpr uint16_t varByte = 17;
inline constexpr uint16_t varWord = 18;
inline constexpr uint16_t varLongWord = 19;
inline constexpr uint16_t varInt64 = 20;
inline constexpr uint16_t varStrArg = 72;
inline constexpr uint16_t varString = 256;
inline constexpr uint16_t varTypeMask = 0x0FFF;
inline constexpr uint16_t varArray = 0x2000;
inline constexpr uint16_t varByRef = 0x4000;

struct PsVarArrayBound {
  int32_t low = 0;
  int32_t high = -1;
  int64_t Length() const { return static_cast<int64_t>(high) - low + 1; }
};

class PsVariant {
 public:
  PsVariant() = default;        // empty
  PsVariant(bool value);        // NOLINT(google-explicit-constructor): variants convert implicitly
  PsVariant(int32_t value);     // NOLINT
  PsVariant(uint32_t value);    // NOLINT
  PsVariant(int64_t value);     // NOLINT
  PsVariant(double value);      // NOLINT
  PsVariant(const char* text);  // NOLINT: a string (256)
  PsVariant(std::string text);  // NOLINT: a string (256)

  static PsVariant Null();
  static PsVariant Smallint(int16_t value);
  static PsVariant Shortint(int8_t value);
  static PsVariant Byte(uint8_t value);
  static PsVariant Word(uint16_t value);
  static PsVariant Single(float value);
  static PsVariant Date(double value);
  // A currency from its value (rounded half to even to four decimals;
  // EVariantOverflowError beyond its range) or from ten-thousandths.
  static PsVariant Currency(double value);
  static PsVariant CurrencyScaled(int64_t tenThousandths);
  static PsVariant Error(int32_t code);
  static PsVariant OleStr(std::string text);
  // An array with these bounds (one per dimension) whose elements are zero,
  // False, empty texts or empty variants. EVariantError for a dimension
  // with high < low - 1 or an unusable element type.
  static PsVariant Array(const std::vector<PsVarArrayBound>& bounds, uint16_t elementType);
  // A one-dimensional array of variants from 0.
  static PsVariant ArrayOf(std::vector<PsVariant> values);

  // The type code, with varArray for an array.
  uint16_t VarType() const { return type_; }
  bool IsEmpty() const { return type_ == varEmpty; }
  bool IsNull() const { return type_ == varNull; }
  bool IsArray() const { return (type_ & varArray) != 0; }

  // Arrays. Dimensions count from 1; a wrong one, or an index outside its
  // bounds, raises EVariantBadIndexError, as do these on a non-array.
  int DimCount() const;
  int32_t LowBound(int dim) const;
  int32_t HighBound(int dim) const;
  int64_t ElementCount() const;
  PsVariant GetElement(const std::vector<int32_t>& indices) const;
  // Stores the value converted to the element type.
  void PutElement(const std::vector<int32_t>& indices, const PsVariant& value);
  // The element at this position of the buffer (first dimension fastest).
  PsVariant ElementAt(int64_t position) const;
  // Stores the value, converted to the element type, at that position.
  void PutElementAt(int64_t position, const PsVariant& value);
  // The elements' bytes, for the element types of fixed size (Booleans as
  // 16-bit -1 and 0); empty for texts and variants.
  std::string_view RawElements() const;

  bool AsBool() const;
  int32_t AsInt32() const;
  int64_t AsInt64() const;
  uint32_t AsUInt32() const;
  double AsDouble() const;
  // The plain text: decimal numbers, floats in the general form, dates as
  // DateTimeToStr, "True"/"False"; empty for empty. Null, error codes and
  // arrays have none (EVariantTypeCastError).
  std::string AsText() const;
  // The error code of an error variant (EVariantTypeCastError otherwise).
  int32_t ErrorCode() const;
  // The value as a currency, in ten-thousandths (as CastTo(varCurrency)).
  int64_t AsCurrencyScaled() const;
  // The value in type `code` (with varArray: each element of an array).
  PsVariant CastTo(uint16_t code) const;

  // The variant equality of two scalars: numbers (Booleans, currency and
  // dates among them) by value, texts byte for byte, a text and a number by
  // the text's number, empty with empty and null with null; otherwise
  // unequal. Never throws; arrays are never equal here.
  bool Equals(const PsVariant& other) const;

 private:
  struct ArrayData;

  static PsVariant OfType(uint16_t type, int64_t integer = 0, double number = 0);
  int64_t ToInteger(int64_t min, int64_t max, uint16_t target) const;
  [[noreturn]] void CastError(uint16_t target) const;
  [[noreturn]] void OverflowError(uint16_t target) const;
  const ArrayData& Data() const;
  int64_t Position(const std::vector<int32_t>& indices) const;
  void PutAt(int64_t position, const PsVariant& value);

  uint16_t type_ = varEmpty;
  int64_t int_ = 0;   // the integer kinds, Boolean (0/1), currency, error
  double float_ = 0;  // single, double, date
  std::string text_;  // texts
  std::shared_ptr<ArrayData> array_;
};

}  // namespace toolkit
