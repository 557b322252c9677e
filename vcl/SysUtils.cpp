// Letter case, format settings, and integers and floats as texts.
#include "vcl/SysUtils.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>

#include "platform/System.h"

namespace vcl {
namespace {

TFormatSettings FromLocale() {
  const platform::LocaleFormats locale = platform::UserLocaleFormats();
  return TFormatSettings{locale.listSeparator, locale.decimalSeparator, locale.dateSeparator,
                         locale.timeSeparator, locale.shortDateFormat,  locale.longTimeFormat};
}

bool IsBlank(char c) {
  return c == ' ' || c == '\t';
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9')
    return c - '0';
  if (c >= 'A' && c <= 'F')
    return c - 'A' + 10;
  if (c >= 'a' && c <= 'f')
    return c - 'a' + 10;
  return -1;
}

// `bits` is 32 or 64: the width of the result.
bool ParseInteger(std::string_view text, int bits, int64_t& value) {
  size_t i = 0;
  while (i < text.size() && IsBlank(text[i]))
    ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  const uint64_t unsignedMax = bits == 32 ? 0xFFFFFFFFull : ~0ull;
  uint64_t magnitude = 0;
  const size_t first = i;
  if (i < text.size() && text[i] == '$') {
    ++i;
  } else if (i + 1 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
    i += 2;
  }
  if (i != first) {
    const size_t digits = i;
    for (; i < text.size() && HexDigit(text[i]) >= 0; ++i) {
      if (magnitude > (unsignedMax >> 4))
        return false;
      magnitude = magnitude << 4 | static_cast<uint64_t>(HexDigit(text[i]));
    }
    if (i == digits || i != text.size())
      return false;
    // Hexadecimal digits are the value's bits in its own width.
    if (negative)
      magnitude = (~magnitude + 1) & unsignedMax;
    value = bits == 32 ? static_cast<int32_t>(static_cast<uint32_t>(magnitude))
                       : static_cast<int64_t>(magnitude);
    return true;
  }
  const uint64_t limit = (unsignedMax >> 1) + (negative ? 1 : 0);
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    const auto digit = static_cast<uint64_t>(text[i] - '0');
    if (magnitude > (limit - digit) / 10)
      return false;
    magnitude = magnitude * 10 + digit;
  }
  if (i == first || i != text.size())
    return false;
  value = negative ? static_cast<int64_t>(0 - magnitude) : static_cast<int64_t>(magnitude);
  return true;
}

}  // namespace

std::string UpperCase(std::string_view text) {
  std::string upper(text);
  for (char& c : upper)
    c = UpperCase(c);
  return upper;
}

std::string LowerCase(std::string_view text) {
  std::string lower(text);
  for (char& c : lower)
    c = LowerCase(c);
  return lower;
}

bool SameText(std::string_view a, std::string_view b) {
  return a.size() == b.size() && CompareText(a, b) == 0;
}

int CompareText(std::string_view a, std::string_view b) {
  const auto upper = [](char c) { return static_cast<unsigned char>(UpperCase(c)); };
  for (size_t i = 0; i < a.size() && i < b.size(); ++i) {
    const int difference = upper(a[i]) - upper(b[i]);
    if (difference != 0)
      return difference;
  }
  return (a.size() > b.size()) - (a.size() < b.size());
}

TFormatSettings& FormatSettings() {
  static TFormatSettings settings = FromLocale();
  return settings;
}

ScopedFormatSettings::ScopedFormatSettings(TFormatSettings settings)
    : previous_(std::move(FormatSettings())) {
  FormatSettings() = std::move(settings);
}

ScopedFormatSettings::~ScopedFormatSettings() {
  FormatSettings() = std::move(previous_);
}

std::string IntToStr(int64_t value) {
  return std::to_string(value);
}

std::string IntToHex(int64_t value, int digits) {
  std::string text;
  auto bits = static_cast<uint64_t>(value);
  do {
    text.insert(text.begin(), "0123456789ABCDEF"[bits & 15]);
    bits >>= 4;
  } while (bits != 0);
  if (static_cast<int>(text.size()) < digits)
    text.insert(0, static_cast<size_t>(digits) - text.size(), '0');
  return text;
}

bool TryStrToInt64(std::string_view text, int64_t& value) {
  return ParseInteger(text, 64, value);
}

bool TryStrToInt(std::string_view text, int32_t& value) {
  int64_t wide = 0;
  if (!ParseInteger(text, 32, wide))
    return false;
  value = static_cast<int32_t>(wide);
  return true;
}

int64_t StrToInt64(std::string_view text) {
  int64_t value = 0;
  if (!TryStrToInt64(text, value))
    throw EConvertError(Format("'%s' is not a valid integer value", text));
  return value;
}

int32_t StrToInt(std::string_view text) {
  int32_t value = 0;
  if (!TryStrToInt(text, value))
    throw EConvertError(Format("'%s' is not a valid integer value", text));
  return value;
}

bool TryStrToFloat(std::string_view text, double& value) {
  size_t begin = 0;
  size_t end = text.size();
  while (begin < end && IsBlank(text[begin]))
    ++begin;
  while (end > begin && IsBlank(text[end - 1]))
    --end;
  // The number rewritten for from_chars: no '+', '.' as the separator.
  std::string plain;
  size_t i = begin;
  if (i < end && (text[i] == '+' || text[i] == '-')) {
    if (text[i] == '-')
      plain += '-';
    ++i;
  }
  // The decimal exponent of the first significant digit, to tell a value too
  // small for a double (zero) from one too large (no value).
  int64_t magnitude = 0;
  bool significant = false;
  size_t digits = 0;
  for (; i < end && text[i] >= '0' && text[i] <= '9'; ++i, ++digits) {
    plain += text[i];
    significant = significant || text[i] != '0';
    magnitude += significant ? 1 : 0;
  }
  if (i < end && text[i] == FormatSettings().DecimalSeparator) {
    plain += '.';
    for (++i; i < end && text[i] >= '0' && text[i] <= '9'; ++i, ++digits) {
      plain += text[i];
      if (!significant && text[i] == '0')
        --magnitude;
      significant = significant || text[i] != '0';
    }
  }
  if (digits == 0)
    return false;
  if (i < end && (text[i] == 'e' || text[i] == 'E')) {
    plain += 'e';
    ++i;
    bool negativeExponent = false;
    if (i < end && (text[i] == '+' || text[i] == '-')) {
      negativeExponent = text[i] == '-';
      plain += text[i++];
    }
    const size_t first = i;
    int64_t exponent = 0;
    for (; i < end && text[i] >= '0' && text[i] <= '9'; ++i) {
      plain += text[i];
      exponent = std::min<int64_t>(exponent * 10 + (text[i] - '0'), 1'000'000'000);
    }
    if (i == first)
      return false;
    magnitude += negativeExponent ? -exponent : exponent;
  }
  if (i != end)
    return false;
  double result = 0;
  const auto [ptr, error] = std::from_chars(plain.data(), plain.data() + plain.size(), result);
  if (ptr != plain.data() + plain.size())
    return false;
  if (error == std::errc::result_out_of_range) {
    if (magnitude > 0)
      return false;
    result = plain[0] == '-' ? -0.0 : 0.0;
  } else if (error != std::errc() || std::isinf(result)) {
    return false;
  }
  value = result;
  return true;
}

double StrToFloat(std::string_view text) {
  double value = 0;
  if (!TryStrToFloat(text, value))
    throw EConvertError(Format("'%s' is not a valid floating point value", text));
  return value;
}

}  // namespace vcl
