// fakeftdi: a D2XX library that plays the UPS module on USB, for tests. It
// lists the devices its script names, opens them by serial number, and serves
// the module's frames at 960 bytes a second (9600 baud 8N1) by its clock into
// a receive queue that FT_GetStatus counts, FT_Read takes from and FT_Purge
// empties. It logs every call with its arguments and status, and every byte
// written, to memory and to the file KORVA_FAKEFTDI_LOG names.
//
// Script (KORVA_FAKEFTDI_SCRIPT, or line by line through FakeFtdi_Script),
// one action a line, each at once or "after N ms" from the clock's zero:
//   device DESCRIPTION SERIAL   list a device (the last word is the serial)
//   send frame TEXT | frame TEXT  the module's frame from now on, in the
//                               simulator's notation (\r \n \t \\ \xHH)
//   silence                     the module sends nothing
//   vanish                      the devices are unplugged: not listed, and
//                               their handles answer FT_IO_ERROR
//   return                      plugged in again (old handles stay dead)
//   fail FUNCTION STATUS        FUNCTION answers STATUS from now on (0: again as usual);
//                               FT_Read failing with FT_IO_ERROR (4) breaks off after
//                               handing out the bytes it took
// Blank lines and lines starting with '#' are skipped.
//
// Extra exports for tests in the same process: FakeFtdi_Reset,
// FakeFtdi_Script, FakeFtdi_UseClock, FakeFtdi_Log.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <fstream>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "korvasim/Commands.h"

#ifdef _WIN32
#define FAKE_EXPORT extern "C" __declspec(dllexport)
#else
#define FAKE_EXPORT extern "C" __attribute__((visibility("default")))
#endif
// The library's calling convention: the system's on 32-bit Windows.
#if defined(_WIN32) && !defined(_WIN64)
#define FT_API __stdcall
#else
#define FT_API
#endif

namespace {

using FT_STATUS = uint32_t;
using FT_HANDLE = void*;

constexpr FT_STATUS kOk = 0;
constexpr FT_STATUS kInvalidHandle = 1;
constexpr FT_STATUS kDeviceNotFound = 2;
constexpr FT_STATUS kDeviceNotOpened = 3;
constexpr FT_STATUS kIoError = 4;
constexpr FT_STATUS kInvalidParameter = 6;

constexpr uint32_t kListNumberOnly = 0x80000000;
constexpr uint32_t kListByIndex = 0x40000000;
constexpr uint32_t kOpenByDescription = 2;
constexpr uint32_t kPurgeRx = 1;
constexpr uint32_t kCtsAndDsr = 0x30;

// What the listing hands out at the most, the terminating zero included.
constexpr size_t kListedBytes = 64;
constexpr uint64_t kBytesPerSecond = 960;
constexpr size_t kQueueBytes = 65536;

struct Device {
  std::string description;
  std::string serial;
};

struct Event {
  enum Kind { kDevice, kFrame, kSilence, kVanish, kReturn, kFail };
  uint64_t at = 0;
  Kind kind = kSilence;
  std::string text;   // the frame, the description, the function
  std::string other;  // the serial
  FT_STATUS status = 0;
};

using korvasim::NextWord;
using korvasim::Trim;

std::optional<uint64_t> Number(std::string_view word) {
  if (word.empty() || word.size() > 18)
    return std::nullopt;
  uint64_t value = 0;
  for (char c : word) {
    if (c < '0' || c > '9')
      return std::nullopt;
    value = value * 10 + static_cast<uint64_t>(c - '0');
  }
  return value;
}

// One script line: an action, at once or "after N ms"; nothing when it is
// not one (blank and comment lines included).
std::optional<Event> ParseLine(std::string_view line) {
  std::string_view rest = Trim(line);
  Event event;
  std::string_view timed = rest;
  if (NextWord(timed) == "after") {
    const std::optional<uint64_t> ms = Number(NextWord(timed));
    if (!ms || NextWord(timed) != "ms")
      return std::nullopt;
    event.at = *ms;
    rest = timed;
  }
  std::string_view arguments = rest;
  std::string_view verb = NextWord(arguments);
  if (verb == "send") {
    rest = arguments;
    verb = NextWord(arguments);
  }
  if (verb == "frame" || verb == "silence") {
    const korvasim::Parsed<korvasim::Action> action = korvasim::ParseCommand(rest);
    if (!action.value || action.value->kind == korvasim::Action::kQuit)
      return std::nullopt;
    event.kind = action.value->kind == korvasim::Action::kFrame ? Event::kFrame : Event::kSilence;
    event.text = action.value->frame;
  } else if (verb == "device") {
    const size_t split = arguments.find_last_of(" \t");
    if (split == std::string_view::npos)
      return std::nullopt;
    event.kind = Event::kDevice;
    event.text = std::string(Trim(arguments.substr(0, split)));
    event.other = std::string(Trim(arguments.substr(split + 1)));
  } else if ((verb == "vanish" || verb == "return") && arguments.empty()) {
    event.kind = verb == "vanish" ? Event::kVanish : Event::kReturn;
  } else if (verb == "fail") {
    event.kind = Event::kFail;
    event.text = std::string(NextWord(arguments));
    const std::optional<uint64_t> status = Number(NextWord(arguments));
    if (event.text.empty() || !status || *status > 0xFFFFFFFF || !arguments.empty())
      return std::nullopt;
    event.status = static_cast<FT_STATUS>(*status);
  } else {
    return std::nullopt;
  }
  return event;
}

// The module, its devices and the call log; one for the process.
class Fake {
 public:
  // ---- set-up
  void Reset() {
    std::lock_guard lock(mutex_);
    s_ = State();
    s_.loaded = true;
  }
  bool Script(std::string_view line) {
    std::lock_guard lock(mutex_);
    LoadScriptFile();
    return AddLine(line);
  }
  void UseClock(uint64_t (*clock)()) {
    std::lock_guard lock(mutex_);
    s_.clock = clock;
  }
  std::string Log() {
    std::lock_guard lock(mutex_);
    return s_.log;
  }

  // ---- the library
  FT_STATUS ListDevices(void* first, void* second, uint32_t flags) {
    std::lock_guard lock(mutex_);
    Update();
    std::string call;
    std::string result;
    FT_STATUS status = Failure("FT_ListDevices");
    const std::vector<Device> listed = Listed();
    if (flags & kListNumberOnly) {
      call = "NUMBER_ONLY";
      if (status == kOk && first) {
        *static_cast<uint32_t*>(first) = static_cast<uint32_t>(listed.size());
        result = std::to_string(listed.size());
      }
    } else if (flags & kListByIndex) {
      const auto index = static_cast<size_t>(reinterpret_cast<uintptr_t>(first));
      const bool description = (flags & kOpenByDescription) != 0;
      call = std::to_string(index) + (description ? ", DESCRIPTION" : ", SERIAL");
      if (status == kOk && index >= listed.size())
        status = kDeviceNotFound;
      if (status == kOk && second) {
        const std::string& text = description ? listed[index].description : listed[index].serial;
        const size_t length = std::min(text.size(), kListedBytes - 1);
        std::memcpy(second, text.data(), length);
        static_cast<char*>(second)[length] = '\0';
        result = "\"" + text.substr(0, length) + "\"";
      }
    } else if (status == kOk) {
      status = kInvalidParameter;
    }
    return Logged("FT_ListDevices(" + call + ")", status, result);
  }

  FT_STATUS OpenEx(void* name, uint32_t flags, FT_HANDLE* handle) {
    std::lock_guard lock(mutex_);
    Update();
    const std::string wanted = name ? static_cast<const char*>(name) : "";
    FT_STATUS status = Failure("FT_OpenEx");
    if (handle)
      *handle = nullptr;
    if (status == kOk)
      status = Open(wanted, flags, handle);
    return Logged("FT_OpenEx(\"" + wanted + "\", " + std::to_string(flags) + ")", status);
  }

  FT_STATUS Close(FT_HANDLE handle) {
    std::lock_guard lock(mutex_);
    Update();
    FT_STATUS status = Failure("FT_Close");
    const auto key = reinterpret_cast<uintptr_t>(handle);
    const auto found = s_.handles.find(key);
    if (found == s_.handles.end()) {
      status = kInvalidHandle;
    } else if (status == kOk) {
      s_.open.erase(found->second);
      s_.handles.erase(found);
      s_.dead.erase(key);
    }
    return Logged("FT_Close()", status);
  }

  // A call that only needs a live handle.
  FT_STATUS Simple(FT_HANDLE handle, const char* function, const std::string& arguments = "") {
    std::lock_guard lock(mutex_);
    Update();
    return Logged(std::string(function) + "(" + arguments + ")", Check(handle, function));
  }

  FT_STATUS GetStatus(FT_HANDLE handle, uint32_t* rx, uint32_t* tx, uint32_t* event) {
    std::lock_guard lock(mutex_);
    Update();
    const FT_STATUS status = Check(handle, "FT_GetStatus");
    if (status == kOk) {
      if (rx)
        *rx = static_cast<uint32_t>(s_.queue.size());
      if (tx)
        *tx = 0;
      if (event)
        *event = 0;
    }
    return Logged("FT_GetStatus()", status,
                  status == kOk ? std::to_string(s_.queue.size()) : std::string());
  }

  FT_STATUS Read(FT_HANDLE handle, void* buffer, uint32_t wanted, uint32_t* got) {
    std::lock_guard lock(mutex_);
    Update();
    const FT_STATUS status = Check(handle, "FT_Read");
    // A vanished device hands out nothing, a transfer that breaks off what it took.
    const bool transfers = status == kOk || (status == kIoError && Live(handle));
    uint32_t taken = 0;
    if (transfers && buffer) {
      auto* out = static_cast<char*>(buffer);
      for (; taken < wanted && !s_.queue.empty(); ++taken) {
        out[taken] = s_.queue.front();
        s_.queue.pop_front();
      }
    }
    if (got)
      *got = taken;
    return Logged("FT_Read(" + std::to_string(wanted) + ")", status, std::to_string(taken));
  }

  FT_STATUS Write(FT_HANDLE handle, const void* buffer, uint32_t count, uint32_t* written) {
    std::lock_guard lock(mutex_);
    Update();
    const FT_STATUS status = Check(handle, "FT_Write");
    const std::string bytes =
        buffer ? std::string(static_cast<const char*>(buffer), count) : std::string();
    const uint32_t done = status == kOk ? count : 0;
    if (written)
      *written = done;
    return Logged("FT_Write(\"" + korvasim::EncodeBytes(bytes) + "\")", status,
                  std::to_string(done));
  }

  FT_STATUS Purge(FT_HANDLE handle, uint32_t mask) {
    std::lock_guard lock(mutex_);
    Update();
    const FT_STATUS status = Check(handle, "FT_Purge");
    if (status == kOk && (mask & kPurgeRx))
      s_.queue.clear();
    return Logged("FT_Purge(" + std::to_string(mask) + ")", status);
  }

  FT_STATUS GetModemStatus(FT_HANDLE handle, uint32_t* modem) {
    std::lock_guard lock(mutex_);
    Update();
    const FT_STATUS status = Check(handle, "FT_GetModemStatus");
    if (status == kOk && modem)
      *modem = kCtsAndDsr;
    return Logged("FT_GetModemStatus()", status);
  }

 private:
  struct State {
    bool loaded = false;
    uint64_t (*clock)() = nullptr;
    std::optional<std::chrono::steady_clock::time_point> started;
    std::deque<Event> events;
    std::vector<Device> devices;
    bool present = true;
    std::map<std::string, FT_STATUS> failures;
    std::map<uintptr_t, std::string> handles;  // open handle -> serial
    std::map<std::string, uintptr_t> open;     // serial -> its open handle
    std::set<uintptr_t> dead;                  // handles of vanished devices
    uintptr_t nextHandle = 0x1000;
    std::string frame;  // being sent, and the one to follow it
    std::string next;
    size_t position = 0;
    uint64_t streamStart = 0;
    uint64_t produced = 0;
    std::deque<char> queue;
    std::string log;
  };

  uint64_t Now() {
    if (s_.clock)
      return s_.clock();
    const auto now = std::chrono::steady_clock::now();
    if (!s_.started)
      s_.started = now;
    return static_cast<uint64_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(now - *s_.started).count());
  }

  FT_STATUS Open(const std::string& wanted, uint32_t flags, FT_HANDLE* handle) {
    for (const Device& device : Listed()) {
      if ((flags & kOpenByDescription ? device.description : device.serial) != wanted)
        continue;
      if (s_.open.count(device.serial) != 0 || !handle)
        return kDeviceNotOpened;
      const uintptr_t next = s_.nextHandle++;
      s_.handles[next] = device.serial;
      s_.open[device.serial] = next;
      *handle = reinterpret_cast<FT_HANDLE>(next);
      return kOk;
    }
    return kDeviceNotFound;
  }

  void LoadScriptFile() {
    if (s_.loaded)
      return;
    s_.loaded = true;
    const char* path = std::getenv("KORVA_FAKEFTDI_SCRIPT");
    if (!path || !*path)
      return;
    std::ifstream file(path);
    int number = 0;
    for (std::string line; std::getline(file, line);) {
      ++number;
      if (!AddLine(line))
        Note("script line " + std::to_string(number) + " ignored: " + line);
    }
  }

  bool AddLine(std::string_view line) {
    std::optional<Event> event = ParseLine(line);
    if (!event)
      return Trim(line).empty() || Trim(line).front() == '#';
    // Events of one time keep the order of their lines.
    const auto at = std::upper_bound(s_.events.begin(), s_.events.end(), event->at,
                                     [](uint64_t t, const Event& e) { return t < e.at; });
    s_.events.insert(at, std::move(*event));
    return true;
  }

  // The events due by now, in order, each after the bytes sent before it.
  void Update() {
    LoadScriptFile();
    const uint64_t now = Now();
    while (!s_.events.empty() && s_.events.front().at <= now) {
      const Event event = s_.events.front();
      s_.events.pop_front();
      Produce(event.at);
      Apply(event);
    }
    Produce(now);
  }

  void Apply(const Event& event) {
    switch (event.kind) {
      case Event::kDevice:
        s_.devices.push_back({event.text, event.other});
        break;
      case Event::kFrame:
        if (s_.frame.empty()) {
          s_.frame = event.text;
          s_.position = 0;
          Restart(event.at);
        } else {
          // The frame under way is completed first, as the module would.
          s_.next = event.text;
        }
        break;
      case Event::kSilence:
        s_.frame.clear();
        s_.next.clear();
        break;
      case Event::kVanish:
        s_.present = false;
        s_.queue.clear();
        for (const auto& [serial, handle] : s_.open)
          s_.dead.insert(handle);
        break;
      case Event::kReturn:
        s_.present = true;
        Restart(event.at);
        break;
      case Event::kFail:
        if (event.status == kOk)
          s_.failures.erase(event.text);
        else
          s_.failures[event.text] = event.status;
        break;
    }
  }

  void Restart(uint64_t at) {
    s_.streamStart = at;
    s_.produced = 0;
  }

  // The module's bytes up to `until`, at 960 a second.
  void Produce(uint64_t until) {
    if (s_.frame.empty() || !s_.present || until < s_.streamStart)
      return;
    const uint64_t due = (until - s_.streamStart) * kBytesPerSecond / 1000;
    for (; s_.produced < due; ++s_.produced) {
      if (s_.queue.size() < kQueueBytes)
        s_.queue.push_back(s_.frame[s_.position]);
      if (++s_.position == s_.frame.size()) {
        s_.position = 0;
        if (!s_.next.empty())
          s_.frame = std::exchange(s_.next, std::string());
      }
    }
  }

  std::vector<Device> Listed() const { return s_.present ? s_.devices : std::vector<Device>(); }

  FT_STATUS Failure(const std::string& function) const {
    const auto found = s_.failures.find(function);
    return found == s_.failures.end() ? kOk : found->second;
  }

  bool Live(FT_HANDLE handle) const {
    const auto key = reinterpret_cast<uintptr_t>(handle);
    return s_.handles.count(key) != 0 && s_.dead.count(key) == 0;
  }

  // A handle's calls: unknown handles are invalid, a vanished device's fail.
  FT_STATUS Check(FT_HANDLE handle, const char* function) const {
    const auto key = reinterpret_cast<uintptr_t>(handle);
    if (s_.handles.count(key) == 0)
      return kInvalidHandle;
    if (s_.dead.count(key) != 0)
      return kIoError;
    return Failure(function);
  }

  FT_STATUS Logged(const std::string& call, FT_STATUS status, const std::string& result = "") {
    Note(call + " = " + std::to_string(status) + (result.empty() ? "" : " " + result));
    return status;
  }

  void Note(const std::string& text) {
    const std::string line = std::to_string(Now()) + " " + text + "\n";
    s_.log += line;
    if (const char* path = std::getenv("KORVA_FAKEFTDI_LOG"); path && *path) {
      if (FILE* file = std::fopen(path, "a")) {
        std::fputs(line.c_str(), file);
        std::fclose(file);
      }
    }
  }

  std::mutex mutex_;
  State s_;
};

Fake& TheFake() {
  static Fake fake;
  return fake;
}

}  // namespace

// ---------------------------------------------------------------- the library's functions

FAKE_EXPORT FT_STATUS FT_API FT_ListDevices(void* first, void* second, uint32_t flags) {
  return TheFake().ListDevices(first, second, flags);
}
FAKE_EXPORT FT_STATUS FT_API FT_OpenEx(void* name, uint32_t flags, FT_HANDLE* handle) {
  return TheFake().OpenEx(name, flags, handle);
}
FAKE_EXPORT FT_STATUS FT_API FT_Close(FT_HANDLE handle) {
  return TheFake().Close(handle);
}
FAKE_EXPORT FT_STATUS FT_API FT_ResetDevice(FT_HANDLE handle) {
  return TheFake().Simple(handle, "FT_ResetDevice");
}
FAKE_EXPORT FT_STATUS FT_API FT_SetBaudRate(FT_HANDLE handle, uint32_t baud) {
  return TheFake().Simple(handle, "FT_SetBaudRate", std::to_string(baud));
}
FAKE_EXPORT FT_STATUS FT_API FT_SetDataCharacteristics(FT_HANDLE handle, uint8_t bits, uint8_t stop,
                                                       uint8_t parity) {
  return TheFake().Simple(
      handle, "FT_SetDataCharacteristics",
      std::to_string(bits) + ", " + std::to_string(stop) + ", " + std::to_string(parity));
}
FAKE_EXPORT FT_STATUS FT_API FT_SetFlowControl(FT_HANDLE handle, uint16_t flow, uint8_t xon,
                                               uint8_t xoff) {
  char text[48];
  std::snprintf(text, sizeof text, "0x%X, %u, %u", flow, xon, xoff);
  return TheFake().Simple(handle, "FT_SetFlowControl", text);
}
FAKE_EXPORT FT_STATUS FT_API FT_SetTimeouts(FT_HANDLE handle, uint32_t readMs, uint32_t writeMs) {
  return TheFake().Simple(handle, "FT_SetTimeouts",
                          std::to_string(readMs) + ", " + std::to_string(writeMs));
}
FAKE_EXPORT FT_STATUS FT_API FT_GetStatus(FT_HANDLE handle, uint32_t* rx, uint32_t* tx,
                                          uint32_t* event) {
  return TheFake().GetStatus(handle, rx, tx, event);
}
FAKE_EXPORT FT_STATUS FT_API FT_Read(FT_HANDLE handle, void* buffer, uint32_t count,
                                     uint32_t* got) {
  return TheFake().Read(handle, buffer, count, got);
}
FAKE_EXPORT FT_STATUS FT_API FT_Write(FT_HANDLE handle, void* buffer, uint32_t count,
                                      uint32_t* written) {
  return TheFake().Write(handle, buffer, count, written);
}
#ifndef KORVA_FAKEFTDI_NO_PURGE
FAKE_EXPORT FT_STATUS FT_API FT_Purge(FT_HANDLE handle, uint32_t mask) {
  return TheFake().Purge(handle, mask);
}
#endif
FAKE_EXPORT FT_STATUS FT_API FT_SetRts(FT_HANDLE handle) {
  return TheFake().Simple(handle, "FT_SetRts");
}
FAKE_EXPORT FT_STATUS FT_API FT_ClrRts(FT_HANDLE handle) {
  return TheFake().Simple(handle, "FT_ClrRts");
}
FAKE_EXPORT FT_STATUS FT_API FT_SetDtr(FT_HANDLE handle) {
  return TheFake().Simple(handle, "FT_SetDtr");
}
FAKE_EXPORT FT_STATUS FT_API FT_ClrDtr(FT_HANDLE handle) {
  return TheFake().Simple(handle, "FT_ClrDtr");
}
FAKE_EXPORT FT_STATUS FT_API FT_GetModemStatus(FT_HANDLE handle, uint32_t* status) {
  return TheFake().GetModemStatus(handle, status);
}

// ---------------------------------------------------------------- for tests in the process

// Forgets the script, the devices, the queue and the log; the clock starts at zero.
FAKE_EXPORT void FakeFtdi_Reset() {
  TheFake().Reset();
}
// One script line; 0 when it is not one.
FAKE_EXPORT int FakeFtdi_Script(const char* line) {
  return line && TheFake().Script(line) ? 1 : 0;
}
// The clock in milliseconds from now on (null: real time).
FAKE_EXPORT void FakeFtdi_UseClock(uint64_t (*clock)()) {
  TheFake().UseClock(clock);
}
// Copies the call log (at most `size` bytes, no terminator) and returns its whole length.
FAKE_EXPORT size_t FakeFtdi_Log(char* buffer, size_t size) {
  const std::string log = TheFake().Log();
  if (buffer)
    std::memcpy(buffer, log.data(), std::min(size, log.size()));
  return log.size();
}
