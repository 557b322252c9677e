// The program's answer to the system's request to end it, kept once for the
// backends that receive the request (signals on POSIX, console events on
// Windows): one request goes to the main loop at a time.
#pragma once

#include <functional>

namespace platform::termination {

void SetRequest(std::function<void()> request);
void SetSessionEndRequest(std::function<void()> request);
// True for the first request since the last one ran; safe in a signal handler.
bool MarkPending();
// Posts the request (the session end's, when asked and installed) to the
// main loop; it clears the mark when it runs.
void PostPending(bool sessionEnd = false);

}  // namespace platform::termination
