// libFuzzer target: any text written to a state or a bit-set variable is
// stored or raises one of the class library's or the toolkit's errors. The
// first bytes choose the bit set's shape; its items have distinct names, so
// the text form of whatever it stores reads back to the same value.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "VarFuzzSupport.h"
#include "toolkit/PsVarsState.h"

namespace {

using namespace toolkit;
using var_fuzz::Try;

void WriteEveryWay(TPsVar& variable, const std::string& text) {
  Try([&] { variable.SetPropAsString(vpValue, text); });
  Try([&] { variable.SetPropAsStringGood(vpValue, text); });
  Try([&] { variable.SetPropValue(vpValue, text); });
  Try([&] { variable.GetVarPropValueAsString(vpValue, text); });
  Try([&] { variable.GetVarPropValueAsLongWord(vpValue, text); });
  Try([&] { variable.GetVarPropValueAsInteger(vpValue, text); });
}

void CheckRoundTrip(TPsBitSet& bits) {
  if (bits.Quality() == vpqBad)
    return;
  const uint32_t before = bits.GetPropAsLongWord(vpValue);
  bits.SetPropAsStringGood(vpValue, bits.GetPropAsString(vpValue));
  if (bits.GetPropAsLongWord(vpValue) != before)
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  var_fuzz::Prepare();
  if (size < 2)
    return 0;
  const uint8_t shape = data[0];
  const uint8_t named = data[1];
  const std::string text(reinterpret_cast<const char*>(data + 2), size - 2);

  TPsState state(nullptr);
  for (const char* name : {"Off", "On", "Bit1", ""})
    static_cast<TPsStateItem*>(state.States()->Add())->SetName(name);
  WriteEveryWay(state, text);

  TPsBitSet bits(nullptr);
  Try([&] { bits.SetBitCount(shape & 0x3F); });
  // Items named after other bits' default names test that the names stay
  // apart.
  for (int bit = 0; bit < 8; ++bit) {
    if (named & (1u << bit)) {
      auto* item = static_cast<TPsBitItem*>(bits.States()->Add());
      Try([&] { item->SetBitNr(bit * 3 + (shape >> 6)); });
      item->SetName("Item" + std::to_string(bit));
    }
  }
  Try([&] { bits.SetStrictStates((shape & 0x40) != 0); });
  WriteEveryWay(bits, text);
  CheckRoundTrip(bits);
  return 0;
}
