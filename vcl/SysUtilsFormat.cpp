// Format and the float texts it shares with FloatToStr.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "vcl/SysUtils.h"

namespace vcl {
namespace {

// Widths and precisions beyond this are refused as a bad format rather
// than grown into texts of gigabytes.
constexpr int kMaxField = 65535;

[[noreturn]] void BadFormat(std::string_view format) {
  throw EConvertError("Format '" + std::string(format) + "' invalid or incompatible with argument");
}

std::optional<std::string> NonFinite(double value) {
  if (std::isnan(value))
    return "NAN";
  if (std::isinf(value))
    return value < 0 ? "-INF" : "INF";
  return std::nullopt;
}

// The significant digits of |value| rounded to `precision` digits, and the
// decimal exponent of the first one.
struct Digits {
  std::string digits;
  int exponent = 0;
};

Digits Decompose(double value, int precision) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%.*e", precision - 1, std::fabs(value));
  Digits out;
  const char* p = buffer;
  for (; *p && *p != 'e'; ++p) {
    if (*p >= '0' && *p <= '9')
      out.digits += *p;
  }
  out.exponent = *p == 'e' ? std::atoi(p + 1) : 0;
  return out;
}

std::string FixedFloat(double value, int precision) {
  if (auto text = NonFinite(value))
    return *text;
  std::string text(static_cast<size_t>(std::snprintf(nullptr, 0, "%.*f", precision, value)), '\0');
  std::snprintf(text.data(), text.size() + 1, "%.*f", precision, value);
  if (const size_t point = text.find('.'); point != std::string::npos)
    text[point] = FormatSettings().DecimalSeparator;
  return text;
}

// d.ddd with `precision` significant digits and an exponent of at least
// three digits: "1.00000000000000E+003".
std::string ScientificFloat(double value, int precision) {
  if (auto text = NonFinite(value))
    return *text;
  precision = std::max(precision, 1);
  const Digits parts = Decompose(value, precision);
  std::string text = std::signbit(value) && value != 0 ? "-" : "";
  text += parts.digits[0];
  if (parts.digits.size() > 1) {
    text += FormatSettings().DecimalSeparator;
    text.append(parts.digits, 1);
  }
  char exponent[16];
  std::snprintf(exponent, sizeof exponent, "E%c%03d", parts.exponent < 0 ? '-' : '+',
                std::abs(parts.exponent));
  return text + exponent;
}

std::string GeneralFloat(double value, int precision) {
  if (auto text = NonFinite(value))
    return *text;
  if (value == 0)
    return "0";
  precision = std::clamp(precision, 1, 18);
  Digits parts = Decompose(value, precision);
  while (parts.digits.size() > 1 && parts.digits.back() == '0')
    parts.digits.pop_back();
  const char separator = FormatSettings().DecimalSeparator;
  std::string text = value < 0 ? "-" : "";
  const int count = static_cast<int>(parts.digits.size());
  if (parts.exponent >= precision || parts.exponent < -5) {
    text += parts.digits[0];
    if (count > 1) {
      text += separator;
      text.append(parts.digits, 1);
    }
    return text + "E" + std::to_string(parts.exponent);
  }
  if (parts.exponent < 0) {
    text += '0';
    text += separator;
    text.append(static_cast<size_t>(-parts.exponent - 1), '0');
    return text + parts.digits;
  }
  const int whole = parts.exponent + 1;
  if (count <= whole)
    return text + parts.digits + std::string(static_cast<size_t>(whole - count), '0');
  return text + parts.digits.substr(0, static_cast<size_t>(whole)) + separator +
         parts.digits.substr(static_cast<size_t>(whole));
}

std::string Unsigned(uint64_t value, bool hex) {
  if (hex)
    return IntToHex(static_cast<int64_t>(value), 0);
  return std::to_string(value);
}

// Leading zeros up to `precision` digits, after the sign.
void PadDigits(std::string& text, int precision) {
  const size_t sign = !text.empty() && text[0] == '-' ? 1 : 0;
  const size_t digits = text.size() - sign;
  if (precision > 0 && digits < static_cast<size_t>(precision))
    text.insert(sign, static_cast<size_t>(precision) - digits, '0');
}

std::string Convert(std::string_view format, char type, int precision, const FormatArg& arg) {
  switch (type) {
    case 'd':
    case 'u':
    case 'x': {
      if (arg.kind() != FormatArg::Kind::Integer)
        BadFormat(format);
      std::string text;
      if (type == 'd' && arg.isSigned()) {
        text = std::to_string(static_cast<int64_t>(arg.bits()));
      } else {
        const uint64_t bits = arg.wide() ? arg.bits() : arg.bits() & 0xFFFFFFFFull;
        text = Unsigned(type == 'd' ? arg.bits() : bits, type == 'x');
      }
      PadDigits(text, precision);
      return text;
    }
    case 's': {
      if (arg.kind() != FormatArg::Kind::Text)
        BadFormat(format);
      std::string_view text = arg.text();
      if (precision >= 0 && text.size() > static_cast<size_t>(precision))
        text = text.substr(0, static_cast<size_t>(precision));
      return std::string(text);
    }
    case 'f':
    case 'e':
    case 'g': {
      if (arg.kind() != FormatArg::Kind::Float)
        BadFormat(format);
      const double value = arg.floatValue();
      if (type == 'f')
        return FixedFloat(value, precision < 0 ? 2 : precision);
      if (type == 'e')
        return ScientificFloat(value, precision < 0 ? 15 : precision);
      return GeneralFloat(value, precision < 0 ? 15 : precision);
    }
    default:
      BadFormat(format);
  }
}

// A decimal field of at most kMaxField; -1 when there are no digits.
int ReadField(std::string_view format, size_t& i) {
  int value = -1;
  for (; i < format.size() && format[i] >= '0' && format[i] <= '9'; ++i) {
    value = std::max(value, 0) * 10 + (format[i] - '0');
    if (value > kMaxField)
      BadFormat(format);
  }
  return value;
}

}  // namespace

std::string FormatList(std::string_view format, const FormatArg* args, size_t count) {
  std::string out;
  out.reserve(format.size());
  size_t next = 0;
  for (size_t i = 0; i < format.size(); ++i) {
    if (format[i] != '%') {
      out += format[i];
      continue;
    }
    if (++i == format.size())
      BadFormat(format);
    if (format[i] == '%') {
      out += '%';
      continue;
    }
    const bool left = format[i] == '-';
    if (left)
      ++i;
    const int width = ReadField(format, i);
    int precision = -1;
    if (i < format.size() && format[i] == '.') {
      ++i;
      precision = std::max(ReadField(format, i), 0);
    }
    if (i == format.size() || next == count)
      BadFormat(format);
    const char type = LowerCase(format[i]);
    const std::string piece = Convert(format, type, precision, args[next++]);
    const size_t pad = width > 0 && piece.size() < static_cast<size_t>(width)
                           ? static_cast<size_t>(width) - piece.size()
                           : 0;
    if (!left)
      out.append(pad, ' ');
    out += piece;
    if (left)
      out.append(pad, ' ');
  }
  return out;
}

std::string FloatToStr(double value) {
  return GeneralFloat(value, 15);
}

}  // namespace vcl
