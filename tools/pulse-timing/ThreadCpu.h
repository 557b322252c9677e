// The CPU time the calling thread has used so far.
#pragma once

namespace pulse_timing {

// In microseconds; 0 when the system does not say.
double ThreadCpuUs();

}  // namespace pulse_timing
