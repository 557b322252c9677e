#include "platform/win32/Win32Apartment.h"

#include <objbase.h>

#include <thread>

namespace platform::win32 {

void RunInSingleThreadedApartment(const std::function<void()>& work) {
  std::thread worker([&work] {
    const HRESULT initialised =
        CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
    work();
    if (SUCCEEDED(initialised))
      CoUninitialize();
  });
  worker.join();
}

}  // namespace platform::win32
