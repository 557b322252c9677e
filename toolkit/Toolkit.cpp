#include "toolkit/Toolkit.h"

#include "toolkit/Debugs.h"
#include "toolkit/PsUtils.h"

namespace toolkit {
namespace {

int initializationCount = 0;

}  // namespace

void Initialize() {
  if (initializationCount++ > 0)
    return;
  // The trace unit: nothing beyond its count. The utilities: a fresh tick.
  ResetTickState();
}

void Finalize() {
  if (initializationCount == 0 || --initializationCount > 0)
    return;
  DebugFreeObject();
}

}  // namespace toolkit
