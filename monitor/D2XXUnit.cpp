#include "monitor/D2XXUnit.h"

#include <array>
#include <cstring>

#include "platform/Ftd2xxLibrary.h"

// The library's calling convention: the system's on 32-bit Windows, the
// only one elsewhere.
#if defined(_WIN32) && !defined(_WIN64)
#define FT_API __stdcall
#else
#define FT_API
#endif

namespace monitor {

std::atomic<FT_HANDLE> FtHandle{nullptr};
FT_STATUS FtStatus = FT_OK;

namespace {

platform::DynamicLibrary library;

using ListDevicesFn = FT_STATUS(FT_API*)(void*, void*, uint32_t);
using OpenExFn = FT_STATUS(FT_API*)(void*, uint32_t, FT_HANDLE*);
using HandleFn = FT_STATUS(FT_API*)(FT_HANDLE);
using SetBaudRateFn = FT_STATUS(FT_API*)(FT_HANDLE, uint32_t);
using SetDataCharacteristicsFn = FT_STATUS(FT_API*)(FT_HANDLE, uint8_t, uint8_t, uint8_t);
using SetFlowControlFn = FT_STATUS(FT_API*)(FT_HANDLE, uint16_t, uint8_t, uint8_t);
using SetTimeoutsFn = FT_STATUS(FT_API*)(FT_HANDLE, uint32_t, uint32_t);
using GetStatusFn = FT_STATUS(FT_API*)(FT_HANDLE, uint32_t*, uint32_t*, uint32_t*);
using GetModemStatusFn = FT_STATUS(FT_API*)(FT_HANDLE, uint32_t*);
using TransferFn = FT_STATUS(FT_API*)(FT_HANDLE, void*, uint32_t, uint32_t*);
using PurgeFn = FT_STATUS(FT_API*)(FT_HANDLE, uint32_t);

// Descriptions and serial numbers are at most this long, with their zero.
constexpr size_t kListedBytes = 64;

constexpr uint32_t kBaudRate = 9600;
constexpr uint8_t kDataBits = 8;
constexpr uint8_t kOneStopBit = 0;
constexpr uint8_t kNoParity = 0;
constexpr uint16_t kRtsCtsFlow = 0x100;

// The function by name, looked up at every call; null when missing.
template <class Function>
Function Lookup(const char* name) {
  return reinterpret_cast<Function>(library.Symbol(name));
}

// A function on the open device: FT_OTHER_ERROR when it is missing.
template <class Function, class... Args>
FT_STATUS OnDevice(const char* name, Args... args) {
  const auto function = Lookup<Function>(name);
  return function ? function(FtHandle.load(), args...) : FT_OTHER_ERROR;
}

// One listing by index into a zeroed buffer, cut at its first zero or its end.
FT_STATUS ListByIndex(uint32_t index, uint32_t flags, std::string& text) {
  const auto list = Lookup<ListDevicesFn>("FT_ListDevices");
  if (!list)
    return FT_OTHER_ERROR;
  std::array<char, kListedBytes> buffer{};
  const FT_STATUS status =
      list(reinterpret_cast<void*>(static_cast<uintptr_t>(index)), buffer.data(), flags);
  if (status == FT_OK)
    text.assign(buffer.data(), strnlen(buffer.data(), buffer.size()));
  return status;
}

constexpr const char* kErrorTexts[] = {"",
                                       " - Invalid Handle...",
                                       " - Device Not Found....",
                                       " - Device Not Opened...",
                                       " - General IO Error...",
                                       " - Insufficient Resources...",
                                       " - Invalid Parameter...",
                                       " - Invalid Baudrate...",
                                       " - Device not opened for Erase...",
                                       " - Device not opened for Write...",
                                       " - Failed to write Device...",
                                       " - EEPROM read failed...",
                                       " - EEPROM write failed...",
                                       " - EEPROM erase failed...",
                                       " - EEPROM not present...",
                                       " - EEPROM not programmed...",
                                       " - Invalid Arguments...",
                                       " - not supported...",
                                       " - other error..."};

constexpr const char* kStatusNames[] = {"FT_OK",
                                        "FT_INVALID_HANDLE",
                                        "FT_DEVICE_NOT_FOUND",
                                        "FT_DEVICE_NOT_OPENED",
                                        "FT_IO_ERROR",
                                        "FT_INSUFFICIENT_RESOURCES",
                                        "FT_INVALID_PARAMETER",
                                        "FT_INVALID_BAUD_RATE",
                                        "FT_DEVICE_NOT_OPENED_FOR_ERASE",
                                        "FT_DEVICE_NOT_OPENED_FOR_WRITE",
                                        "FT_FAILED_TO_WRITE_DEVICE",
                                        "FT_EEPROM_READ_FAILED",
                                        "FT_EEPROM_WRITE_FAILED",
                                        "FT_EEPROM_ERASE_FAILED",
                                        "FT_EEPROM_NOT_PRESENT",
                                        "FT_EEPROM_NOT_PROGRAMMED",
                                        "FT_INVALID_ARGS",
                                        "FT_NOT_SUPPORTED",
                                        "FT_OTHER_ERROR"};
static_assert(std::size(kErrorTexts) == FT_OTHER_ERROR + 1);
static_assert(std::size(kStatusNames) == FT_OTHER_ERROR + 1);

}  // namespace

bool LoadFtd2xx() {
  if (!library)
    library = platform::OpenFtd2xx();
  return static_cast<bool>(library);
}

bool Ftd2xxLoaded() {
  return static_cast<bool>(library);
}

void UseFtd2xx(platform::DynamicLibrary replacement) {
  library = std::move(replacement);
}

const platform::DynamicLibrary& Ftd2xx() {
  return library;
}

uint32_t FtDeviceCount() {
  const auto list = Lookup<ListDevicesFn>("FT_ListDevices");
  uint32_t count = 0;
  if (!list || list(&count, nullptr, FT_LIST_NUMBER_ONLY) != FT_OK)
    return 0;
  return count;
}

FT_STATUS FtGetDeviceInfo(uint32_t index, FtDeviceInfo& info) {
  std::string serial;
  if (ListByIndex(index, FT_LIST_BY_INDEX, serial) == FT_OK)
    info.serial = serial;
  return ListByIndex(index, FT_LIST_BY_INDEX | FT_OPEN_BY_DESCRIPTION, info.description);
}

FT_STATUS FtOpenBySerial(uint32_t index) {
  std::string serial;
  if (ListByIndex(index, FT_LIST_BY_INDEX, serial) != FT_OK)
    return FT_DEVICE_NOT_OPENED;
  const auto open = Lookup<OpenExFn>("FT_OpenEx");
  if (!open)
    return FT_OTHER_ERROR;
  FT_HANDLE handle = nullptr;
  const FT_STATUS status = open(serial.data(), FT_OPEN_BY_SERIAL_NUMBER, &handle);
  FtHandle = handle;
  return status;
}

FT_STATUS FtClose() {
  return OnDevice<HandleFn>("FT_Close");
}

FT_STATUS FtResetDevice() {
  return OnDevice<HandleFn>("FT_ResetDevice");
}

FT_STATUS FtSetBaudRate() {
  return OnDevice<SetBaudRateFn>("FT_SetBaudRate", kBaudRate);
}

FT_STATUS FtSetDataCharacteristics() {
  return OnDevice<SetDataCharacteristicsFn>("FT_SetDataCharacteristics", kDataBits, kOneStopBit,
                                            kNoParity);
}

FT_STATUS FtSetFlowControl() {
  return OnDevice<SetFlowControlFn>("FT_SetFlowControl", kRtsCtsFlow, uint8_t{0}, uint8_t{0});
}

FT_STATUS FtSetTimeouts(uint32_t readMs, uint32_t writeMs) {
  return OnDevice<SetTimeoutsFn>("FT_SetTimeouts", readMs, writeMs);
}

FT_STATUS FtSetRts() {
  return OnDevice<HandleFn>("FT_SetRts");
}

FT_STATUS FtClrRts() {
  return OnDevice<HandleFn>("FT_ClrRts");
}

FT_STATUS FtSetDtr() {
  return OnDevice<HandleFn>("FT_SetDtr");
}

FT_STATUS FtClrDtr() {
  return OnDevice<HandleFn>("FT_ClrDtr");
}

FT_STATUS FtGetStatus(uint32_t& rx, uint32_t& tx, uint32_t& event) {
  rx = tx = event = 0;
  return OnDevice<GetStatusFn>("FT_GetStatus", &rx, &tx, &event);
}

FT_STATUS FtGetModemStatus(uint32_t& status) {
  status = 0;
  return OnDevice<GetModemStatusFn>("FT_GetModemStatus", &status);
}

uint32_t FtWrite(const std::string& bytes) {
  std::string buffer = bytes;
  uint32_t written = 0;
  if (OnDevice<TransferFn>("FT_Write", static_cast<void*>(buffer.data()),
                           static_cast<uint32_t>(buffer.size()), &written) != FT_OK)
    return 0;
  return written;
}

size_t FtReadText(std::string& text, uint32_t count) {
  std::string buffer(count, '\0');
  uint32_t got = 0;
  const FT_STATUS status =
      OnDevice<TransferFn>("FT_Read", static_cast<void*>(buffer.data()), count, &got);
  if (status == FT_OK || status == FT_IO_ERROR)
    text += BytesToText(buffer.data(), std::min<size_t>(got, count));
  return text.size();
}

FT_STATUS FtPurge(bool receive, bool transmit) {
  FT_STATUS status = FT_OK;
  if (receive)
    status = OnDevice<PurgeFn>("FT_Purge", FT_PURGE_RX);
  if (transmit)
    status = OnDevice<PurgeFn>("FT_Purge", FT_PURGE_TX);
  return status;
}

std::string BytesToText(const char* bytes, size_t count) {
  std::string text;
  text.reserve(count);
  for (size_t i = 0; i < count; ++i) {
    const auto byte = static_cast<unsigned char>(bytes[i]);
    const bool kept = byte == '*' || byte == '-' || byte == '<' || byte == '>' || byte == '_' ||
                      (byte >= '0' && byte <= '9') || (byte >= 'A' && byte <= 'Z') ||
                      (byte >= 'a' && byte <= 'z');
    if (kept)
      text += static_cast<char>(byte);
    else if (byte < 10)
      text += static_cast<char>('0' + byte);
    else
      text += '.';
  }
  return text;
}

std::string FtErrorText(const std::string& operation, FT_STATUS status) {
  if (status == FT_OK || status > FT_OTHER_ERROR)
    return "";
  return operation + kErrorTexts[status];
}

std::string FtStatusName(FT_STATUS status) {
  return status <= FT_OTHER_ERROR ? kStatusNames[status] : std::to_string(status);
}

}  // namespace monitor
