// The primitives each backend (posix/, win32/) implements for the portable
// wrappers of this folder. Only platform/ includes this.
#pragma once

#include <cstdint>
#include <string>

#include "platform/DynamicLibrary.h"

namespace platform::native {

// Null when not loaded; `failure` then tells why.
void* OpenLibrary(const std::string& name, LoadFailure& failure);
void* LibrarySymbol(void* library, const char* name);
void CloseLibrary(void* library);

// Returns a handle (never -1) and whether the name was taken already; -1 when
// the mutex could not be created or opened (taken already when it exists but
// its holder does not let us open it).
intptr_t CreateNamedMutex(const std::string& name, bool& alreadyExisted);
void CloseNamedMutex(intptr_t handle);

}  // namespace platform::native
