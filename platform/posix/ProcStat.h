// The processor load as Linux counts it in /proc/stat: the "cpu0" line's
// jiffies (user, nice, system, idle, iowait, irq, softirq, steal), read twice.
#pragma once

#include <functional>
#include <string>

namespace platform::posix {

// The load of processor 0 in percent between two readings of `path`, with
// `between` run after the first (it waits, or changes the file in a test).
// -1 when either reading has no usable "cpu0" line; 0 when no time passed.
double ProcessorLoadFromStat(const std::string& path, const std::function<void()>& between);

}  // namespace platform::posix
