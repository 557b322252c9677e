#include "platform/win32/Win32Apartment.h"

#include <objbase.h>

#include <thread>

namespace platform::win32 {
namespace {

// Runs `work` with the thread in a single-threaded apartment, entered for the
// call when it was in none; false, with nothing run, when the thread belongs
// to the multithreaded apartment.
bool RunHere(const std::function<void()>& work) {
  const HRESULT entered =
      CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
  if (entered == RPC_E_CHANGED_MODE)
    return false;
  work();
  if (SUCCEEDED(entered))
    CoUninitialize();
  return true;
}

}  // namespace

void RunInSingleThreadedApartment(const std::function<void()>& work) {
  if (RunHere(work))
    return;
  std::thread worker([&work] { RunHere(work); });
  worker.join();
}

void StartInSingleThreadedApartment(std::function<void()> work) {
  std::thread([work = std::move(work)] { RunHere(work); }).detach();
}

}  // namespace platform::win32
