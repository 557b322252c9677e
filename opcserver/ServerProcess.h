// Unit ServerProcess: how long korvamon lives as a server process that COM
// started for a client. While counting, every COM object the server makes
// and every lock a client takes on its class object holds the process
// (CoAddRefServerProcess); when the last of them is let go, COM sends the
// process no further activations and the program is asked to end. A
// program started otherwise counts nothing: it keeps running without
// clients, and COM never stops sending it new ones.
#pragma once

#include <functional>

namespace opcserver {

// Counting from now on: `lastReleased` runs, on the releasing thread, each
// time the process count falls back to 0.
void CountServerProcess(std::function<void()> lastReleased);
// Counting off. Holds taken before are still let go of, without a call.
void StopCountingServerProcess();

// One hold on the process while counting: true when taken (and then to be
// let go of once), false when not counting.
bool HoldServerProcess();
// Lets go of one hold taken; nothing when none is held.
void ReleaseServerProcess();

// Started by COM: counting, and the application told to end (on its main
// thread) when the last client lets go.
void EndProgramWhenLastClientLeaves();

}  // namespace opcserver
