// Times between the system's FILETIME (100 ns ticks since 1601-01-01, UTC)
// and the standard system clock (since 1970-01-01).
#pragma once

#include <windows.h>

#include <chrono>
#include <optional>

namespace platform::win32 {

// Nothing for a time before 1601 or past the year 30827, which the system
// does not convert.
std::optional<FILETIME> ToFileTime(std::chrono::system_clock::time_point when);

std::chrono::system_clock::time_point FromFileTime(const FILETIME& time);

}  // namespace platform::win32
