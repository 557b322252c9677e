// Work that needs a single-threaded COM apartment: the shell's program start
// may hand the request to extensions that need one, and so does the
// Explorer-style file dialog, while the main thread belongs to the
// multithreaded apartment (the OPC server's).
#pragma once

#include <functional>

namespace platform::win32 {

// Runs `work` in a single-threaded apartment and returns when it is done: on
// the calling thread when it can enter one (it belongs to no apartment yet,
// or to a single-threaded one), else on a short-lived thread of its own.
void RunInSingleThreadedApartment(const std::function<void()>& work);

// Runs `work` on a new thread that enters a single-threaded apartment, and
// returns at once; nothing waits for the thread, so `work` owns what it uses.
void StartInSingleThreadedApartment(std::function<void()> work);

}  // namespace platform::win32
