// libFuzzer target: any text written to a float variable (with statistics,
// limits and a range) and to a date-time variable, as the value and as the
// other number properties, in every way a value is written, is stored or
// raises one of the class library's or the toolkit's errors. What is good
// is valid (statistics too), and a good value's text stores it again, to 15
// digits for a float and to the second for a date.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "VarFuzzSupport.h"
#include "toolkit/PsVars.h"
#include "toolkit/PsVarsDateTime.h"

namespace {

using namespace toolkit;
using var_fuzz::Try;

void Check(bool condition) {
  if (!condition)
    std::abort();
}

void WriteEveryWay(TPsVar& variable, TPsVarPropType prop, const std::string& text) {
  TPsVarLink link;
  link.SetVariable(&variable);
  link.SetVarProp(prop);
  Try([&] { variable.SetPropValue(prop, text); });
  Try([&] { variable.SetPropAsString(prop, text); });
  Try([&] { variable.SetPropValueAt(prop, text, vpqGood, 1.0); });
  Try([&] { variable.SetPropValueAt(prop, text, vpqUncertain, 2.0, true, vdtDouble, true); });
  Try([&] { link.SetAsDataType(text, vdtOleStr, false, true); });
  Try([&] { link.SetAsDataType(text, vdtDate, false, true); });
  Try([&] { link.GetSnapshot(vdtDefault, false); });
  Try([&] { link.GetSnapshot(vdtOleStr, true); });
}

// Every good number property holds a valid number.
void CheckGoodIsValid(const TPsVar& variable) {
  for (TPsVarPropType prop :
       {vpValue, vpAlarmLow, vpAlarmHigh, vpSetpoint, vpMean, vpStdDev, vpMin, vpMax, vpDiff}) {
    if (variable.PropQuality(prop) == vpqBad || !variable.IsPropSupported(prop))
      continue;
    const double number = variable.GetPropAsFloat(prop);
    Check(std::isfinite(number) && number != PsBadDouble);
  }
}

// The good value's text stores a value within `relative` of it, or within
// `absolute`.
void CheckRoundTrip(TPsCustomFloat& variable, double relative, double absolute) {
  if (variable.Quality() == vpqBad)
    return;
  const double before = variable.Value();
  try {
    variable.SetPropAsString(vpValue, variable.GetPropAsString(vpValue));
  } catch (const vcl::Exception&) {
    std::abort();
  }
  const double apart = std::fabs(variable.Value() - before);
  Check(variable.Quality() != vpqBad &&
        (apart <= std::fabs(before) * relative || apart <= absolute));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  var_fuzz::Prepare();
  const std::string text(reinterpret_cast<const char*>(data), size);

  TPsFloat real(nullptr);
  real.SetStatsMode(smSimple);
  real.SetAlarmMode(amAlarmsAndWarnings);
  real.SetRangeMin(-1e300);
  real.SetRangeMax(1e300);
  real.SetRangeMode(rmUndefine);
  real.SetValue(1);
  for (TPsVarPropType prop : {vpValue, vpAlarmHigh, vpSetpoint, vpDiff, vpEngUnit})
    WriteEveryWay(real, prop, text);
  CheckGoodIsValid(real);
  CheckRoundTrip(real, 1e-14, 0);

  TPsDateTime date(nullptr);
  WriteEveryWay(date, vpValue, text);
  CheckGoodIsValid(date);
  if (date.Quality() != vpqBad) {
    const double day = date.Value();
    Check(!(day > -1 && day < 0) && day >= -657434.0 && day <= 2958465.99999);
  }
  CheckRoundTrip(date, 0, 1.0 / 86400 + 1e-9);
  return 0;
}
