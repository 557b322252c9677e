#include "ThreadCpu.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <time.h>
#endif

#include <cstdint>

namespace pulse_timing {

double ThreadCpuUs() {
#ifdef _WIN32
  FILETIME created, exited, kernel, user;
  if (!GetThreadTimes(GetCurrentThread(), &created, &exited, &kernel, &user))
    return 0;
  auto us = [](const FILETIME& t) {
    return static_cast<double>((static_cast<uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime) /
           10.0;
  };
  return us(kernel) + us(user);
#else
  timespec now{};
  if (clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now) != 0)
    return 0;
  return static_cast<double>(now.tv_sec) * 1e6 + static_cast<double>(now.tv_nsec) / 1e3;
#endif
}

}  // namespace pulse_timing
