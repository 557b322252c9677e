// Work that needs a single-threaded COM apartment, done on a short-lived
// thread of its own: the shell's program start may hand the request to
// extensions that need one, while the main thread may belong to the
// multithreaded apartment (the OPC server's).
#pragma once

#include <functional>

namespace platform::win32 {

// Runs `work` on a new thread that initialises COM single-threaded, and
// returns when it is done.
void RunInSingleThreadedApartment(const std::function<void()>& work);

}  // namespace platform::win32
