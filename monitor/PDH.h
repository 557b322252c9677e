// Unit PDH: the processor-load counters, bound once at the program's start
// (before the single-instance guard) and kept until its end. The shutdown
// sequence logs the load before its pulse train, and leaves the per-edge
// lines out when the processor is busy.
#pragma once

namespace monitor {

// Binds the counters; true when they can be used.
bool LoadPdh();
// The load of processor 0 in percent, measured over 300 ms; -1 when it
// cannot be measured (no counters, or none of that name on this system).
double GetCpuLoad();

}  // namespace monitor
