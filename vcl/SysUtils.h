// The class library's system utilities: the exception tree, letter case,
// Format, number and date texts, TDateTime, and the format settings they read.
//
// TDateTime is a double of days since 30 December 1899, the time of day as
// the fraction. For a negative value the integer part is the day and the
// absolute fraction the time: -1.25 is 29 December 1899, 06:00.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <type_traits>

namespace vcl {

// The root of the class library's errors and of the toolkit's.
class Exception : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
  virtual std::string ClassName() const { return "Exception"; }
  std::string Message() const { return what(); }
};

// Declares an exception class that names itself.
#define VCL_DECLARE_EXCEPTION(Name, Base)                        \
  class Name : public Base {                                     \
   public:                                                       \
    explicit Name(const std::string& message) : Base(message) {} \
    explicit Name(const char* message) : Base(message) {}        \
    std::string ClassName() const override { return #Name; }     \
  }

VCL_DECLARE_EXCEPTION(EIntError, Exception);
VCL_DECLARE_EXCEPTION(EIntOverflow, EIntError);
VCL_DECLARE_EXCEPTION(ERangeError, EIntError);
VCL_DECLARE_EXCEPTION(EMathError, Exception);
VCL_DECLARE_EXCEPTION(EOverflow, EMathError);
VCL_DECLARE_EXCEPTION(EZeroDivide, EMathError);
VCL_DECLARE_EXCEPTION(EInvalidOp, EMathError);
VCL_DECLARE_EXCEPTION(EVariantError, Exception);
VCL_DECLARE_EXCEPTION(EVariantTypeCastError, EVariantError);
VCL_DECLARE_EXCEPTION(EVariantOverflowError, EVariantError);
VCL_DECLARE_EXCEPTION(EVariantBadIndexError, EVariantError);
VCL_DECLARE_EXCEPTION(EConvertError, Exception);
VCL_DECLARE_EXCEPTION(EAbort, Exception);
VCL_DECLARE_EXCEPTION(EOutOfMemory, Exception);
VCL_DECLARE_EXCEPTION(EAssertionFailed, Exception);
VCL_DECLARE_EXCEPTION(EListError, Exception);
VCL_DECLARE_EXCEPTION(EStringListError, Exception);
VCL_DECLARE_EXCEPTION(EIntfCastError, Exception);
VCL_DECLARE_EXCEPTION(EComponentError, Exception);
VCL_DECLARE_EXCEPTION(EInvalidOperation, Exception);
VCL_DECLARE_EXCEPTION(EStreamError, Exception);
VCL_DECLARE_EXCEPTION(EFOpenError, EStreamError);
VCL_DECLARE_EXCEPTION(EFCreateError, EStreamError);

// Letter case. Text is bytes of the narrow encoding, so only the ASCII
// letters change case; every other byte (or UTF-16 unit) stays as it is,
// whatever the locale.
template <class Char>
requires(std::is_same_v<Char, char> || std::is_same_v<Char, char16_t>) constexpr Char
    UpperCase(Char c) {
  return c >= Char('a') && c <= Char('z') ? static_cast<Char>(c - Char('a') + Char('A')) : c;
}
template <class Char>
requires(std::is_same_v<Char, char> || std::is_same_v<Char, char16_t>) constexpr Char
    LowerCase(Char c) {
  return c >= Char('A') && c <= Char('Z') ? static_cast<Char>(c - Char('A') + Char('a')) : c;
}
std::string UpperCase(std::string_view text);
std::string LowerCase(std::string_view text);
// Equal but for the case of ASCII letters.
bool SameText(std::string_view a, std::string_view b);
// The byte order of the texts' upper-case forms: negative, 0 or positive.
int CompareText(std::string_view a, std::string_view b);

// The separators and formats that number and date texts use. One set for the
// process, read from the user's locale at first use; tests swap it with
// ScopedFormatSettings.
struct TFormatSettings {
  char ListSeparator = ';';
  char DecimalSeparator = '.';
  char DateSeparator = '.';
  char TimeSeparator = ':';
  std::string ShortDateFormat = "dd.mm.yyyy";
  std::string LongTimeFormat = "hh:nn:ss";
};

TFormatSettings& FormatSettings();

class ScopedFormatSettings {
 public:
  explicit ScopedFormatSettings(TFormatSettings settings);
  ~ScopedFormatSettings();
  ScopedFormatSettings(const ScopedFormatSettings&) = delete;
  ScopedFormatSettings& operator=(const ScopedFormatSettings&) = delete;

 private:
  TFormatSettings previous_;
};

// One argument of Format: an integer (with its width: %x and %u of a 32-bit
// value show 32 bits), a float, or a text (held by reference: arguments live
// for the call). A character or a pointer does not compile.
class FormatArg {
 public:
  enum class Kind { Integer, Float, Text, Other };

  template <class T>
  requires(std::is_integral_v<T> && !std::is_same_v<T, bool> && !std::is_same_v<T, char>)
      FormatArg(T value)  // NOLINT(google-explicit-constructor)
      : kind_(Kind::Integer),
        bits_(static_cast<uint64_t>(value)),
        signed_(std::is_signed_v<T>),
        wide_(sizeof(T) > 4) {}
  FormatArg(float value) : kind_(Kind::Float), float_(value) {}                // NOLINT
  FormatArg(double value) : kind_(Kind::Float), float_(value) {}               // NOLINT
  FormatArg(const char* text) : kind_(Kind::Text), text_(text ? text : "") {}  // NOLINT
  FormatArg(const std::string& text) : kind_(Kind::Text), text_(text) {}       // NOLINT
  FormatArg(std::string_view text) : kind_(Kind::Text), text_(text) {}         // NOLINT
  // A Boolean matches no conversion.
  FormatArg(bool) : kind_(Kind::Other) {}  // NOLINT

  Kind kind() const { return kind_; }
  uint64_t bits() const { return bits_; }
  bool isSigned() const { return signed_; }
  bool wide() const { return wide_; }
  double floatValue() const { return float_; }
  std::string_view text() const { return text_; }

 private:
  Kind kind_;
  uint64_t bits_ = 0;
  bool signed_ = false;
  bool wide_ = false;
  double float_ = 0;
  std::string_view text_;
};

// %[-][width][.precision]type with the types d, u, x (upper-case digits),
// s, f (precision 2 by default), e (15 significant digits, a three-digit
// exponent), g (15 significant digits, the shortest form) and %%. A bad
// format, a missing argument or one of the wrong kind raises EConvertError
// "Format '%s' invalid or incompatible with argument".
std::string FormatList(std::string_view format, const FormatArg* args, size_t count);

template <class... Args>
std::string Format(std::string_view format, const Args&... args) {
  const std::array<FormatArg, sizeof...(Args)> list{FormatArg(args)...};
  return FormatList(format, list.data(), list.size());
}

std::string IntToStr(int64_t value);
// Upper-case hexadecimal of the value's two's complement, at least `digits` digits.
std::string IntToHex(int64_t value, int digits);

// Leading blanks, an optional sign, then decimal digits or hexadecimal ones
// after "$" or "0x"; nothing may follow. Hexadecimal texts take the full
// unsigned width ("$FFFFFFFF" is -1 as a 32-bit value). Otherwise
// EConvertError "'%s' is not a valid integer value".
int32_t StrToInt(std::string_view text);
int64_t StrToInt64(std::string_view text);
bool TryStrToInt(std::string_view text, int32_t& value);
bool TryStrToInt64(std::string_view text, int64_t& value);

// The general form with 15 significant digits and the decimal separator:
// "0.1", "1E20", "1.23456789012346E17"; "NAN", "INF", "-INF".
std::string FloatToStr(double value);
// Blanks around, a sign, digits with the decimal separator, an exponent.
// Otherwise (and for a value beyond the double's range) EConvertError
// "'%s' is not a valid floating point value".
double StrToFloat(std::string_view text);
bool TryStrToFloat(std::string_view text, double& value);

using TDateTime = double;

inline constexpr double MSecsPerDay = 86400000.0;
// Days from 1 January 0001 (the first day a TDateTime can hold) to 30 December 1899.
inline constexpr int32_t DateDelta = 693594;

// Raise EConvertError "Invalid argument to date encode" / "... time encode"
// outside the years 1 to 9999 or a valid time of day.
TDateTime EncodeDate(int year, int month, int day);
TDateTime EncodeTime(int hour, int minute, int second, int msec);
bool TryEncodeDate(int year, int month, int day, TDateTime& date);
bool TryEncodeTime(int hour, int minute, int second, int msec, TDateTime& time);
// The date plus the time, or minus it for a date before 30 December 1899.
TDateTime ComposeDateTime(TDateTime date, TDateTime time);

struct TDateParts {
  int year, month, day;
};
struct TTimeParts {
  int hour, minute, second, msec;
};
// Rounded to the millisecond. EConvertError "Invalid date" for NaN or a value
// outside the years 1 to 9999.
TDateParts DecodeDate(TDateTime value);
TTimeParts DecodeTime(TDateTime value);
void DecodeDate(TDateTime value, int& year, int& month, int& day);
void DecodeTime(TDateTime value, int& hour, int& minute, int& second, int& msec);
bool IsLeapYear(int year);

// yyyy yy mm m dd d hh h nn n ss s zzz z (letters in either case); text in
// single or double quotes is copied without them, every other character as it is.
std::string FormatDateTime(std::string_view format, TDateTime value);
// The short date format, and the long time format after a blank unless the
// time is midnight.
std::string DateTimeToStr(TDateTime value);
// A date in the short date format's order of day, month and year, with the
// date separator; then, after blanks, hours and minutes with optional seconds
// and milliseconds; or a time alone. Otherwise EConvertError
// "'%s' is not a valid date and time".
TDateTime StrToDateTime(std::string_view text);
bool TryStrToDateTime(std::string_view text, TDateTime& value);

}  // namespace vcl
