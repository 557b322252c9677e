// libFuzzer target: integer, float and date-time texts. Any text converts
// or raises EConvertError; the raising and the trying forms agree; what
// converts prints back to a text that converts to the same value.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "vcl/SysUtils.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);

  int64_t integer = 0;
  const bool isInteger = vcl::TryStrToInt64(text, integer);
  try {
    if (vcl::StrToInt64(text) != integer || !isInteger)
      std::abort();
    if (vcl::StrToInt64(vcl::IntToStr(integer)) != integer)
      std::abort();
  } catch (const vcl::EConvertError&) {
    if (isInteger)
      std::abort();
  }

  double number = 0;
  const bool isFloat = vcl::TryStrToFloat(text, number);
  try {
    const double read = vcl::StrToFloat(text);
    if (!isFloat || !(read == number))
      std::abort();
    // Fifteen digits do not round-trip every double; they stay close.
    const double again = vcl::StrToFloat(vcl::FloatToStr(number));
    if (std::fabs(again - number) > std::fabs(number) * 1e-14)
      std::abort();
  } catch (const vcl::EConvertError&) {
    if (isFloat)
      std::abort();
  }

  vcl::TDateTime date = 0;
  const bool isDate = vcl::TryStrToDateTime(text, date);
  try {
    const vcl::TDateTime read = vcl::StrToDateTime(text);
    if (!isDate || read != date)
      std::abort();
    if (std::fabs(vcl::StrToDateTime(vcl::DateTimeToStr(date)) - date) > 1.0 / 86400)
      std::abort();
  } catch (const vcl::EConvertError&) {
    if (isDate)
      std::abort();
  }
  return 0;
}
