// Where the program finds the USB converter's D2XX library. Windows: the
// system's search for "ftd2xx.dll". POSIX: libftd2xx.so (the same
// functions), first in the program's own folder, then through the system's
// library search (an installed vendor library, or one that LD_LIBRARY_PATH
// names); KORVA_FTD2XX, when set, names the library file instead.
#pragma once

#include "platform/DynamicLibrary.h"

namespace platform {

// An empty library when none is found.
DynamicLibrary OpenFtd2xx();

}  // namespace platform
