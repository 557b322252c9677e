// The tick, UTC and local time, file times and file versions.
#include "toolkit/PsUtils.h"

#include <atomic>
#include <cmath>
#include <cstring>
#include <memory>

#include "platform/System.h"
#include "toolkit/Clock.h"

namespace toolkit {
namespace {

// The last tick seen (low half) and the wraps counted (high half), changed
// together by one compare-exchange.
std::atomic<uint64_t> tickState{0};

constexpr int64_t kMsPerDay = 86'400'000;
// Days from 1 January 1601 to 30 December 1899.
constexpr int64_t kFileTimeEpochDays = 109'205;
constexpr int64_t kTicksPerMs = 10'000;

// When a transition rule takes effect in `year` (a local date-time), or
// nothing for a rule that names no valid day.
std::optional<double> TransitionMoment(const platform::ZoneTransition& rule, int year) {
  vcl::TDateTime day = 0;
  if (rule.year != 0) {
    if (!vcl::TryEncodeDate(rule.year, rule.month, rule.day, day))
      return std::nullopt;
  } else {
    if (!vcl::TryEncodeDate(year, rule.month, 1, day) || rule.day < 1 || rule.day > 5 ||
        rule.dayOfWeek < 0 || rule.dayOfWeek > 6)
      return std::nullopt;
    // Day 0 (30 December 1899) was a Saturday: weekday 6, Sunday 0.
    const auto first = static_cast<int64_t>(day);
    const int64_t weekday = ((first + 6) % 7 + 7) % 7;
    day += static_cast<double>((rule.dayOfWeek - weekday + 7) % 7 + (rule.day - 1) * 7);
    // The fifth (the last) may run into the next month: one week back.
    if (vcl::DecodeDate(day).month != rule.month)
      day -= 7;
  }
  return day + rule.timeOfDayMs / vcl::MSecsPerDay;
}

uint16_t Word(const unsigned char* at) {
  return static_cast<uint16_t>(at[0] | at[1] << 8);
}

uint32_t Dword(const unsigned char* at) {
  return static_cast<uint32_t>(Word(at)) | static_cast<uint32_t>(Word(at + 2)) << 16;
}

}  // namespace

uint64_t PsGetTickCount64() {
  uint64_t state = tickState.load(std::memory_order_acquire);
  for (;;) {
    const uint32_t tick = InstalledClock().TickCount();
    const auto last = static_cast<uint32_t>(state);
    uint64_t wraps = state >> 32;
    // The tick is read after the state it is compared with, so a tick below
    // the last one seen is a wrap, however little it dropped: a caller that
    // lost the race to another reads the tick again.
    if (tick < last) {
      if (wraps == 0xFFFFFFFFu)
        throw vcl::EIntOverflow("Integer overflow");
      ++wraps;
    }
    const uint64_t next = wraps << 32 | tick;
    if (tick == last || tickState.compare_exchange_weak(state, next, std::memory_order_acq_rel,
                                                        std::memory_order_acquire))
      return next;
  }
}

void ResetTickState() {
  tickState.store(0, std::memory_order_release);
}

vcl::TDateTime NowUTC() {
  return InstalledClock().NowUTC();
}

vcl::TDateTime UTCToLocalTime(vcl::TDateTime utc, const platform::TimeZoneRules& zone) {
  const double standard = utc - (zone.bias + zone.standardBias) / 1440.0;
  if (!zone.daylightInUse)
    return standard;
  const double local = utc - zone.bias / 1440.0;
  std::optional<double> standardStart;
  std::optional<double> daylightStart;
  try {
    const int year = vcl::DecodeDate(local).year;
    standardStart = TransitionMoment(zone.standardDate, year);
    daylightStart = TransitionMoment(zone.daylightDate, year);
  } catch (const vcl::EConvertError&) {
    // A moment or a transition outside the years 1 to 9999.
  }
  if (!standardStart || !daylightStart)
    return standard;
  // Compared in whole milliseconds: the moment of a transition itself is
  // standard time, whatever the rounding of the days' fractions.
  const auto ms = [](double days) { return std::llround(days * vcl::MSecsPerDay); };
  const int64_t now = ms(local);
  const int64_t toStandard = ms(*standardStart + zone.daylightBias / 1440.0);
  const int64_t toDaylight = ms(*daylightStart + zone.standardBias / 1440.0);
  const bool daylight = toDaylight < toStandard ? now > toDaylight && now < toStandard
                                                : now < toStandard || now > toDaylight;
  return utc - (zone.bias + (daylight ? zone.daylightBias : zone.standardBias)) / 1440.0;
}

vcl::TDateTime UTCToLocalTime(vcl::TDateTime utc) {
  return UTCToLocalTime(utc, InstalledClock().Zone());
}

std::string UTCToLocalText(vcl::TDateTime utc) {
  return vcl::DateTimeToStr(UTCToLocalTime(utc));
}

int32_t GetLocalUTCOffset() {
  return -InstalledClock().Zone().bias;
}

vcl::TDateTime FileTimeToDateTime(uint64_t fileTime) {
  const auto ms = static_cast<int64_t>(fileTime / kTicksPerMs);
  const int64_t day = ms / kMsPerDay - kFileTimeEpochDays;
  const vcl::TDateTime lastDay = vcl::EncodeDate(9999, 12, 31);
  if (static_cast<double>(day) > lastDay)
    throw vcl::EConvertError(vcl::Format("File time %u is beyond the year 9999", fileTime));
  return vcl::ComposeDateTime(static_cast<double>(day),
                              static_cast<double>(ms % kMsPerDay) / vcl::MSecsPerDay);
}

uint64_t DateTimeToFileTime(vcl::TDateTime value) {
  if (value == 0 || std::isnan(value))
    return 0;
  const vcl::TDateParts date = vcl::DecodeDate(value);
  const vcl::TTimeParts time = vcl::DecodeTime(value);
  const auto day =
      static_cast<int64_t>(vcl::EncodeDate(date.year, date.month, date.day)) + kFileTimeEpochDays;
  if (day < 0)
    throw vcl::EConvertError(
        vcl::Format("Date %s is before the first file time", vcl::FloatToStr(value)));
  const int64_t ms =
      ((time.hour * 60 + time.minute) * 60 + time.second) * int64_t{1000} + time.msec;
  return static_cast<uint64_t>(day * kMsPerDay + ms) * kTicksPerMs;
}

std::optional<std::array<uint16_t, 4>> ReadFixedFileVersion(std::string_view block) {
  constexpr size_t kHeader = 6;
  constexpr size_t kFixedSize = 52;
  constexpr uint32_t kSignature = 0xFEEF04BD;
  const auto* bytes = reinterpret_cast<const unsigned char*>(block.data());
  if (block.size() < kHeader)
    return std::nullopt;
  const size_t length = Word(bytes);
  const size_t valueLength = Word(bytes + 2);
  if (length < kHeader || length > block.size() || valueLength < kFixedSize)
    return std::nullopt;
  // The key: UTF-16 up to its terminator, then padding to four bytes.
  size_t at = kHeader;
  while (at + 2 <= length && Word(bytes + at) != 0)
    at += 2;
  at += 2;
  at = (at + 3) & ~size_t{3};
  if (at + kFixedSize > length || Dword(bytes + at) != kSignature)
    return std::nullopt;
  const unsigned char* mostSignificant = bytes + at + 8;
  const unsigned char* leastSignificant = bytes + at + 12;
  return std::array<uint16_t, 4>{Word(mostSignificant + 2), Word(mostSignificant),
                                 Word(leastSignificant), Word(leastSignificant + 2)};
}

bool PsGetFileVersion(const std::string& fileName, uint16_t& version1, uint16_t& version2,
                      uint16_t& version3, uint16_t& version4) {
  const std::optional<std::string> block = platform::FileVersionResource(fileName);
  const auto version = block ? ReadFixedFileVersion(*block) : std::nullopt;
  if (!version)
    return false;
  version1 = (*version)[0];
  version2 = (*version)[1];
  version3 = (*version)[2];
  version4 = (*version)[3];
  return true;
}

void* StringToPointer(std::string text) {
  return new std::string(std::move(text));
}

std::string PointerToString(void* pointer) {
  const std::unique_ptr<std::string> text(static_cast<std::string*>(pointer));
  return text ? std::move(*text) : std::string();
}

}  // namespace toolkit
