// Texts of what an OPC server answers, for opcclient's output: values
// (the same text whatever the locale, so a value given on the command line
// compares), times, result codes and qualities.
#pragma once

#include <string>

#include "platform/com/Com.h"

namespace opcclient {

// Booleans as "True"/"False", numbers in the invariant locale, text as it
// is; a value without a text form as its type, "(type 0x2003)".
std::string ValueText(const VARIANT& value);
std::string TypeText(VARTYPE type);
// "2024-05-01 12:00:00.250 UTC"; "-" for zero.
std::string TimeText(const FILETIME& time);
std::string ResultText(HRESULT result);
std::string QualityText(WORD quality);

}  // namespace opcclient
