// One count of ticks and one distance between the two origins, in both
// directions.
#include "platform/win32/Win32FileTime.h"

#include <cstdint>

namespace platform::win32 {
namespace {

using FileTicks = std::chrono::duration<int64_t, std::ratio<1, 10'000'000>>;
constexpr int64_t kEpochOffsetSeconds = 11'644'473'600;  // 1601-01-01 to 1970-01-01
// The system converts times up to the year 30827.
constexpr int64_t kLastSecond = 910'000'000'000;

}  // namespace

std::optional<FILETIME> ToFileTime(std::chrono::system_clock::time_point when) {
  using namespace std::chrono;
  const auto sinceEpoch = when.time_since_epoch();
  const auto whole = floor<seconds>(sinceEpoch);
  if (whole.count() < -kEpochOffsetSeconds || whole.count() > kLastSecond - kEpochOffsetSeconds)
    return std::nullopt;
  const int64_t sinceOrigin = whole.count() + kEpochOffsetSeconds;
  const uint64_t ticks =
      static_cast<uint64_t>(sinceOrigin) * 10'000'000 +
      static_cast<uint64_t>(duration_cast<FileTicks>(sinceEpoch - whole).count());
  return FILETIME{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
}

std::chrono::system_clock::time_point FromFileTime(const FILETIME& time) {
  using namespace std::chrono;
  const uint64_t ticks = (uint64_t{time.dwHighDateTime} << 32) | time.dwLowDateTime;
  const FileTicks sinceEpoch(static_cast<int64_t>(ticks) - kEpochOffsetSeconds * 10'000'000);
  return system_clock::time_point(duration_cast<system_clock::duration>(sinceEpoch));
}

}  // namespace platform::win32
