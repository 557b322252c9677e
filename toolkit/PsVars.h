// Unit PsVars: the process variables. So far only what the OPC server's
// result codes and qualities need: the variable errors and the quality of a
// variable's property.
#pragma once

#include "toolkit/PsClasses.h"

namespace toolkit {

// The root of the variable errors.
VCL_DECLARE_EXCEPTION(EPsVarException, EPsException);
// A value outside a variable's range, or a text that is no value of it.
VCL_DECLARE_EXCEPTION(EPsRangeError, EPsVarException);
// A write to a read-only property.
VCL_DECLARE_EXCEPTION(EPsReadOnly, EPsVarException);

enum TPsVarQuality { vpqBad, vpqUncertain, vpqGood };

}  // namespace toolkit
