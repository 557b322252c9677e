// pdh.dll, the system's performance counters, loaded from the system's folder
// only (a library of that name elsewhere, in the program's folder or the
// current one, is never taken) and its functions looked up by name.
#pragma once

#include <windows.h>
// After windows.h, which it needs.
#include <pdh.h>

namespace platform::win32 {

struct Pdh {
  using OpenQuery = PDH_STATUS(WINAPI*)(LPCSTR, DWORD_PTR, PDH_HQUERY*);
  using CloseQuery = PDH_STATUS(WINAPI*)(PDH_HQUERY);
  using AddCounter = PDH_STATUS(WINAPI*)(PDH_HQUERY, LPCSTR, DWORD_PTR, PDH_HCOUNTER*);
  using RemoveCounter = PDH_STATUS(WINAPI*)(PDH_HCOUNTER);
  using CollectQueryData = PDH_STATUS(WINAPI*)(PDH_HQUERY);
  using ValidatePath = PDH_STATUS(WINAPI*)(LPCSTR);
  using GetFormattedCounterValue = PDH_STATUS(WINAPI*)(PDH_HCOUNTER, DWORD, LPDWORD,
                                                       PPDH_FMT_COUNTERVALUE);
  using MakeCounterPath = PDH_STATUS(WINAPI*)(void*, LPSTR, LPDWORD, DWORD);

  Pdh() = default;
  ~Pdh();
  Pdh(const Pdh&) = delete;
  Pdh& operator=(const Pdh&) = delete;

  // Loads the library and looks its functions up, once; true when it is loaded.
  bool Load();
  // What the load measurement calls; a library without them measures nothing.
  bool Usable() const {
    return openQuery && closeQuery && addCounter && collectQueryData && validatePath &&
           getFormattedCounterValue;
  }

  HMODULE library = nullptr;
  OpenQuery openQuery = nullptr;
  CloseQuery closeQuery = nullptr;
  AddCounter addCounter = nullptr;
  RemoveCounter removeCounter = nullptr;
  CollectQueryData collectQueryData = nullptr;
  ValidatePath validatePath = nullptr;
  GetFormattedCounterValue getFormattedCounterValue = nullptr;
  MakeCounterPath makeCounterPath = nullptr;
};

}  // namespace platform::win32
