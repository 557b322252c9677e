#include "toolkit/Toolkit.h"

#include "toolkit/Debugs.h"
#include "toolkit/PsClasses.h"
#include "toolkit/PsUtils.h"
#include "toolkit/PsVars.h"
#include "toolkit/psRTTI.h"

namespace toolkit {
namespace {

int initializationCount = 0;

}  // namespace

void Initialize() {
  if (initializationCount++ > 0)
    return;
  // The trace unit: nothing beyond its count. The utilities: a fresh tick.
  ResetTickState();
  // Property access: the application registry and the null wrapper.
  CreateRTTIObjects();
  // The class unit: its persistent classes and the line log, creatable by
  // name.
  RegisterPersistentClasses();
  RegisterLogClasses();
  // The variable unit: its text tables, its classes creatable by name.
  FillVarTexts();
  RegisterVarClasses();
}

void Finalize() {
  if (initializationCount == 0 || --initializationCount > 0)
    return;
  FreeVarTexts();
  UnRegisterClasses();
  FreeRTTIObjects();
  DebugFreeObject();
}

}  // namespace toolkit
