// The stand-in's own classes, which its class table serves besides those
// registered by the process.
#pragma once

#include "platform/com/Com.h"

namespace comstandin {

// The class object of a class the stand-in implements itself (the component
// categories manager); null for any other class.
IClassFactory* BuiltInClass(REFCLSID clsid);

}  // namespace comstandin
