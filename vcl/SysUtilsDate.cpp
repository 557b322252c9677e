// TDateTime: encoding, decoding, and its texts.
#include <cmath>
#include <cstdio>

#include "vcl/SysUtils.h"

namespace vcl {
namespace {

constexpr int64_t kMsPerDay = 86'400'000;
// 1 January 0001 and 31 December 9999 as TDateTime days.
constexpr int64_t kFirstDay = 1 - DateDelta;
constexpr int64_t kLastDay = 2'958'465;

// Days from 1 January 1970 in the proleptic Gregorian calendar.
int64_t DaysFromCivil(int64_t year, int64_t month, int64_t day) {
  year -= month <= 2 ? 1 : 0;
  const int64_t era = (year >= 0 ? year : year - 399) / 400;
  const int64_t yearOfEra = year - era * 400;
  const int64_t dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  return era * 146097 + dayOfEra - 719468;
}

TDateParts CivilFromDays(int64_t days) {
  days += 719468;
  const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  const int64_t dayOfEra = days - era * 146097;
  const int64_t yearOfEra =
      (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  const int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const int64_t mp = (5 * dayOfYear + 2) / 153;
  const int day = static_cast<int>(dayOfYear - (153 * mp + 2) / 5 + 1);
  const int month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  const int year = static_cast<int>(yearOfEra + era * 400 + (month <= 2 ? 1 : 0));
  return {year, month, day};
}

const int64_t kEpochDays = DaysFromCivil(1899, 12, 30);

int DaysInMonth(int year, int month) {
  static constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

// The day (toward zero) and the millisecond of the day, rounded.
struct Stamp {
  int64_t day;
  int64_t ms;
};

Stamp ToStamp(TDateTime value) {
  if (!std::isfinite(value) || value <= static_cast<double>(kFirstDay) - 1 ||
      value >= static_cast<double>(kLastDay) + 1)
    throw EConvertError("Invalid date: " + FloatToStr(value));
  Stamp stamp{static_cast<int64_t>(std::trunc(value)), 0};
  stamp.ms = std::llround(std::fabs(value - static_cast<double>(stamp.day)) * MSecsPerDay);
  if (stamp.ms >= kMsPerDay) {
    stamp.ms -= kMsPerDay;
    stamp.day += value < 0 ? -1 : 1;
  }
  if (stamp.day < kFirstDay || stamp.day > kLastDay)
    throw EConvertError("Invalid date: " + FloatToStr(value));
  return stamp;
}

void AppendNumber(std::string& out, int value, int digits) {
  char text[16];
  std::snprintf(text, sizeof text, "%0*d", digits, value);
  out += text;
}

// Reads 1 to `maxDigits` decimal digits.
bool ReadNumber(std::string_view text, size_t& i, int maxDigits, int& value,
                int* digits = nullptr) {
  const size_t first = i;
  value = 0;
  while (i < text.size() && text[i] >= '0' && text[i] <= '9' &&
         i - first < static_cast<size_t>(maxDigits))
    value = value * 10 + (text[i++] - '0');
  if (digits)
    *digits = static_cast<int>(i - first);
  return i > first && !(i < text.size() && text[i] >= '0' && text[i] <= '9');
}

// Where day, month and year stand in the short date format (0, 1 or 2);
// day, month, year when the format does not name all three.
struct DateOrder {
  int day = 0;
  int month = 1;
  int year = 2;
};

DateOrder ShortDateOrder() {
  std::string letters;
  for (char c : FormatSettings().ShortDateFormat) {
    c = LowerCase(c);
    if ((c == 'd' || c == 'm' || c == 'y') && letters.find(c) == std::string::npos)
      letters += c;
  }
  if (letters.size() != 3)
    return {};
  return {static_cast<int>(letters.find('d')), static_cast<int>(letters.find('m')),
          static_cast<int>(letters.find('y'))};
}

bool ReadDate(std::string_view text, size_t& i, TDateTime& date) {
  const DateOrder order = ShortDateOrder();
  const char separator = FormatSettings().DateSeparator;
  int parts[3] = {0, 0, 0};
  int yearDigits = 0;
  for (int k = 0; k < 3; ++k) {
    if (k > 0 && (i >= text.size() || text[i++] != separator))
      return false;
    if (!ReadNumber(text, i, 4, parts[k], k == order.year ? &yearDigits : nullptr))
      return false;
  }
  int year = parts[order.year];
  // Two-digit years: 00-49 in this century, 50-99 in the last.
  if (yearDigits <= 2)
    year += year < 50 ? 2000 : 1900;
  return TryEncodeDate(year, parts[order.month], parts[order.day], date);
}

bool ReadTime(std::string_view text, size_t& i, TDateTime& time) {
  const char separator = FormatSettings().TimeSeparator;
  int hour = 0, minute = 0, second = 0, msec = 0;
  if (!ReadNumber(text, i, 2, hour) || i >= text.size() || text[i++] != separator ||
      !ReadNumber(text, i, 2, minute))
    return false;
  if (i < text.size() && text[i] == separator) {
    ++i;
    if (!ReadNumber(text, i, 2, second))
      return false;
    if (i < text.size() && (text[i] == '.' || text[i] == FormatSettings().DecimalSeparator)) {
      ++i;
      int digits = 0;
      if (!ReadNumber(text, i, 3, msec, &digits))
        return false;
      for (; digits < 3; ++digits)
        msec *= 10;
    }
  }
  return TryEncodeTime(hour, minute, second, msec, time);
}

}  // namespace

bool IsLeapYear(int year) {
  return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
}

bool TryEncodeDate(int year, int month, int day, TDateTime& date) {
  if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1 ||
      day > DaysInMonth(year, month))
    return false;
  date = static_cast<double>(DaysFromCivil(year, month, day) - kEpochDays);
  return true;
}

bool TryEncodeTime(int hour, int minute, int second, int msec, TDateTime& time) {
  if (hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59 || msec < 0 ||
      msec > 999)
    return false;
  time = static_cast<double>(((hour * 60 + minute) * 60 + second) * 1000 + msec) / MSecsPerDay;
  return true;
}

TDateTime EncodeDate(int year, int month, int day) {
  TDateTime date = 0;
  if (!TryEncodeDate(year, month, day, date))
    throw EConvertError("Invalid argument to date encode");
  return date;
}

TDateTime EncodeTime(int hour, int minute, int second, int msec) {
  TDateTime time = 0;
  if (!TryEncodeTime(hour, minute, second, msec, time))
    throw EConvertError("Invalid argument to time encode");
  return time;
}

TDateTime ComposeDateTime(TDateTime date, TDateTime time) {
  return date < 0 ? date - time : date + time;
}

TDateParts DecodeDate(TDateTime value) {
  return CivilFromDays(ToStamp(value).day + kEpochDays);
}

TTimeParts DecodeTime(TDateTime value) {
  const auto ms = static_cast<int>(ToStamp(value).ms);
  return {ms / 3'600'000, ms / 60'000 % 60, ms / 1000 % 60, ms % 1000};
}

void DecodeDate(TDateTime value, int& year, int& month, int& day) {
  const TDateParts parts = DecodeDate(value);
  year = parts.year;
  month = parts.month;
  day = parts.day;
}

void DecodeTime(TDateTime value, int& hour, int& minute, int& second, int& msec) {
  const TTimeParts parts = DecodeTime(value);
  hour = parts.hour;
  minute = parts.minute;
  second = parts.second;
  msec = parts.msec;
}

std::string FormatDateTime(std::string_view format, TDateTime value) {
  const TDateParts date = DecodeDate(value);
  const TTimeParts time = DecodeTime(value);
  std::string out;
  for (size_t i = 0; i < format.size();) {
    const char c = format[i];
    if (c == '\'' || c == '"') {
      const size_t close = format.find(c, i + 1);
      const size_t end = close == std::string_view::npos ? format.size() : close;
      out.append(format.substr(i + 1, end - i - 1));
      i = end == format.size() ? end : end + 1;
      continue;
    }
    const char letter = LowerCase(c);
    size_t run = 1;
    while (i + run < format.size() && LowerCase(format[i + run]) == letter)
      ++run;
    switch (letter) {
      case 'y':
        if (run <= 2)
          AppendNumber(out, date.year % 100, 2);
        else
          AppendNumber(out, date.year, 4);
        i += run;
        continue;
      case 'z':
        run = std::min<size_t>(run, 3);
        AppendNumber(out, time.msec, run == 3 ? 3 : 1);
        i += run == 3 ? 3 : 1;
        continue;
      case 'm':
      case 'd':
      case 'h':
      case 'n':
      case 's': {
        run = std::min<size_t>(run, 2);
        const int number = letter == 'm'   ? date.month
                           : letter == 'd' ? date.day
                           : letter == 'h' ? time.hour
                           : letter == 'n' ? time.minute
                                           : time.second;
        AppendNumber(out, number, static_cast<int>(run));
        i += run;
        continue;
      }
      default:
        out += c;
        ++i;
    }
  }
  return out;
}

std::string DateTimeToStr(TDateTime value) {
  std::string text = FormatDateTime(FormatSettings().ShortDateFormat, value);
  const TTimeParts time = DecodeTime(value);
  if (time.hour != 0 || time.minute != 0 || time.second != 0 || time.msec != 0)
    text.append(" ").append(FormatDateTime(FormatSettings().LongTimeFormat, value));
  return text;
}

bool TryStrToDateTime(std::string_view text, TDateTime& value) {
  size_t begin = 0;
  size_t end = text.size();
  while (begin < end && text[begin] == ' ')
    ++begin;
  while (end > begin && text[end - 1] == ' ')
    --end;
  text = text.substr(begin, end - begin);
  size_t i = 0;
  TDateTime date = 0;
  TDateTime time = 0;
  if (ReadDate(text, i, date)) {
    if (i == text.size()) {
      value = date;
      return true;
    }
    if (text[i] != ' ')
      return false;
    while (i < text.size() && text[i] == ' ')
      ++i;
  } else {
    i = 0;
    date = 0;
  }
  if (!ReadTime(text, i, time) || i != text.size())
    return false;
  value = ComposeDateTime(date, time);
  return true;
}

TDateTime StrToDateTime(std::string_view text) {
  TDateTime value = 0;
  if (!TryStrToDateTime(text, value))
    throw EConvertError(Format("'%s' is not a valid date and time", text));
  return value;
}

}  // namespace vcl
