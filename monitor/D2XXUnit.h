// Unit D2XXUnit: the USB converter's D2XX library, bound by name at run time.
// Every wrapper looks its function up anew at each call and works on the one
// open device (FtHandle). A missing library or function is not called: the
// device count is then 0 and every other wrapper answers FT_OTHER_ERROR.
//
// The declarations are our own: statuses and counts are 32-bit unsigned, a
// device handle is a pointer.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "platform/DynamicLibrary.h"

namespace monitor {

using FT_STATUS = uint32_t;
using FT_HANDLE = void*;

inline constexpr FT_STATUS FT_OK = 0;
inline constexpr FT_STATUS FT_INVALID_HANDLE = 1;
inline constexpr FT_STATUS FT_DEVICE_NOT_FOUND = 2;
inline constexpr FT_STATUS FT_DEVICE_NOT_OPENED = 3;
inline constexpr FT_STATUS FT_IO_ERROR = 4;
inline constexpr FT_STATUS FT_OTHER_ERROR = 18;

inline constexpr uint32_t FT_LIST_NUMBER_ONLY = 0x80000000;
inline constexpr uint32_t FT_LIST_BY_INDEX = 0x40000000;
inline constexpr uint32_t FT_OPEN_BY_SERIAL_NUMBER = 1;
inline constexpr uint32_t FT_OPEN_BY_DESCRIPTION = 2;
inline constexpr uint32_t FT_PURGE_RX = 1;
inline constexpr uint32_t FT_PURGE_TX = 2;

// ---- the library
// Loads it once, as the program finds it (platform::OpenFtd2xx); true when loaded.
bool LoadFtd2xx();
bool Ftd2xxLoaded();
// The library to use from now on instead (a test's fake); an empty one unloads.
void UseFtd2xx(platform::DynamicLibrary library);
// The loaded library (for a test's look-ups of its own).
const platform::DynamicLibrary& Ftd2xx();

// ---- the open device
// Written by the main thread while no polling thread runs.
extern std::atomic<FT_HANDLE> FtHandle;
// The status of the last open; 0 = open. 3 after a close.
extern FT_STATUS FtStatus;

struct FtDeviceInfo {
  std::string serial;
  std::string description;
};

uint32_t FtDeviceCount();
// The serial number (taken only when its call succeeds) and the description
// of device `index`; the status of the description's call.
FT_STATUS FtGetDeviceInfo(uint32_t index, FtDeviceInfo& info);
// Opens device `index` by its serial number into FtHandle; 3 when it cannot
// be listed.
FT_STATUS FtOpenBySerial(uint32_t index);
FT_STATUS FtClose();
FT_STATUS FtResetDevice();
// 9600 baud; 8 data bits, 1 stop bit, no parity; RTS/CTS.
FT_STATUS FtSetBaudRate();
FT_STATUS FtSetDataCharacteristics();
FT_STATUS FtSetFlowControl();
FT_STATUS FtSetTimeouts(uint32_t readMs, uint32_t writeMs);
FT_STATUS FtSetRts();
FT_STATUS FtClrRts();
FT_STATUS FtSetDtr();
FT_STATUS FtClrDtr();
FT_STATUS FtGetStatus(uint32_t& rx, uint32_t& tx, uint32_t& event);
FT_STATUS FtGetModemStatus(uint32_t& status);
// The number of the bytes written (0 on failure).
uint32_t FtWrite(const std::string& bytes);
// Reads up to `count` bytes and appends them (BytesToText) to `text`, also
// after FT_IO_ERROR; the text's length, or its old length on other failures.
size_t FtReadText(std::string& text, uint32_t count);
// The receive and/or the transmit buffer; the last status.
FT_STATUS FtPurge(bool receive, bool transmit);

// The module's characters as they are ('*', '-', digits, '<', '>', letters,
// '_'), bytes below 10 as their digit, everything else as '.'.
std::string BytesToText(const char* bytes, size_t count);
// `operation` and the status's description; "" for FT_OK and beyond 18.
std::string FtErrorText(const std::string& operation, FT_STATUS status);
// "FT_OK" .. "FT_OTHER_ERROR"; beyond them the number.
std::string FtStatusName(FT_STATUS status);

}  // namespace monitor
