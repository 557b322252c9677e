// The folder where this user's per-session files live: the named mutex's lock
// files and the running instance's request socket.
#pragma once

#include <string>

namespace platform::native {

// $KORVA_LOCK_DIR, else $XDG_RUNTIME_DIR, else $TMPDIR, else /tmp.
std::string LockDirectory();

}  // namespace platform::native
