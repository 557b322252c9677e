// libFuzzer target: any text written as the value of a Boolean, string or
// integer variable, in every way a value is written, is stored or raises one
// of the class library's or the toolkit's errors. A string variable keeps
// the text as it is; what the other kinds store reads back as a text that
// stores the same value again.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "VarFuzzSupport.h"
#include "toolkit/PsVars.h"

namespace {

using namespace toolkit;
using var_fuzz::Try;

// Every way of writing the text as the value, each on its own.
void WriteEveryWay(TPsVar& variable, const std::string& text) {
  TPsVarLink link;
  link.SetVariable(&variable);
  Try([&] { variable.SetPropValue(vpValue, text); });
  Try([&] { variable.SetPropAsString(vpValue, text); });
  Try([&] { variable.SetPropValueAt(vpValue, text, vpqGood, 1.0); });
  Try([&] { variable.SetPropValueAt(vpValue, text, vpqUncertain, 2.0, true, vdtInteger, true); });
  Try([&] { link.SetAsDataType(text, vdtOleStr, false, true); });
  Try([&] { link.SetAsDataType(text, vdtBoolean, false, true); });
  Try([&] { link.SetAsDataType(text, vdtDouble, true, true); });
  Try([&] { variable.GetVarPropValueAsArray(vpValue, text, vdtInteger); });
  Try([&] { variable.GetVarPropValueAsString(vpAlarmState, text); });
  Try([&] { link.GetSnapshot(vdtDefault, false); });
  Try([&] { link.GetSnapshot(vdtOleStr, true); });
}

// The stored value's text stores the same value.
void CheckRoundTrip(TPsVar& variable) {
  if (variable.Quality() == vpqBad)
    return;
  const PsVariant before = variable.GetValue();
  variable.SetPropAsString(vpValue, variable.GetPropAsString(vpValue));
  if (!VariantsEqual(before, variable.GetValue(), true))
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  var_fuzz::Prepare();
  const std::string text(reinterpret_cast<const char*>(data), size);

  TPsString string(nullptr);
  string.SetPropValue(vpValue, text);
  if (string.Value() != (text == "#BAD" ? "" : text))
    std::abort();

  TPsBool boolean(nullptr);
  boolean.SetStringValueTrue("On");
  TPsInteger integer(nullptr);
  integer.SetRangeMax(1000);
  integer.SetRangeMode(rmException);
  for (TPsVar* variable : {static_cast<TPsVar*>(&string), static_cast<TPsVar*>(&boolean),
                           static_cast<TPsVar*>(&integer)}) {
    WriteEveryWay(*variable, text);
    if (variable != &string)
      CheckRoundTrip(*variable);
  }
  return 0;
}
