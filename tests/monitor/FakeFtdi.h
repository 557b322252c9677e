// The fake D2XX library (tools/fakeftdi) in the test's process: loaded by its
// path for the monitor to use, reset, scripted line by line, on the test's
// virtual clock, with its call log read back. The USB polling thread paces
// itself on the same virtual clock. And korvamon started on it.
#pragma once

#include <gtest/gtest.h>

#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "KorvamonTestProgram.h"
#include "monitor/D2XXUnit.h"
#include "platform/DynamicLibrary.h"
#include "platform/EventLoop.h"
#include "platform/Files.h"
#include "platform/VirtualClock.h"
#include "platform/WorkerClock.h"

namespace korva_test {

// Where the build puts the fake: beside the programs' folder, not in it, so
// that it never stands in for a real library.
inline std::string FakeFtdiPath(bool withoutPurge = false) {
  const std::string program = platform::files().ExecutablePath();
  const size_t bin = program.find_last_of("\\/", program.find_last_of("\\/") - 1);
  const char separator = program[bin];
#ifdef _WIN32
  const std::string name = withoutPurge ? "ftd2xx-nopurge.dll" : "ftd2xx.dll";
#else
  const std::string name = withoutPurge ? "libftd2xx-nopurge.so" : "libftd2xx.so";
#endif
  return program.substr(0, bin + 1) + "fakeftdi" + separator + name;
}

// One call of the log: when (the fake's milliseconds) and what ("FT_SetRts() = 0").
struct FakeCall {
  uint64_t at = 0;
  std::string call;
};

class FakeFtdi {
 public:
  // Loads the fake as the monitor's library, reset, its clock zero at the
  // loop's time now; the polling thread's pauses run on `waiter`.
  FakeFtdi(platform::VirtualWaiter& waiter, bool withoutPurge = false) : workers_(waiter) {
    zero_ = platform::MainLoop().NowMs();
    platform::DynamicLibrary library = platform::DynamicLibrary::Open(FakeFtdiPath(withoutPurge));
    EXPECT_TRUE(library) << FakeFtdiPath(withoutPurge);
    monitor::UseFtd2xx(std::move(library));
    Call<void (*)()>("FakeFtdi_Reset")();
    Call<void (*)(uint64_t(*)())>("FakeFtdi_UseClock")(&Now);
  }
  ~FakeFtdi() {
    if (auto useClock = Find<void (*)(uint64_t(*)())>("FakeFtdi_UseClock"))
      useClock(nullptr);
    monitor::UseFtd2xx(platform::DynamicLibrary());
  }
  FakeFtdi(const FakeFtdi&) = delete;
  FakeFtdi& operator=(const FakeFtdi&) = delete;

  void Script(std::initializer_list<std::string> lines) {
    for (const std::string& line : lines)
      EXPECT_EQ(Call<int (*)(const char*)>("FakeFtdi_Script")(line.c_str()), 1) << line;
  }
  std::vector<FakeCall> Log() const {
    const auto log = Call<size_t (*)(char*, size_t)>("FakeFtdi_Log");
    std::string text(log(nullptr, 0), '\0');
    log(text.data(), text.size());
    std::vector<FakeCall> calls;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
      const size_t blank = line.find(' ');
      calls.push_back({std::stoull(line.substr(0, blank)), line.substr(blank + 1)});
    }
    return calls;
  }
  // The calls whose text starts with `prefix`.
  std::vector<FakeCall> Calls(const std::string& prefix) const {
    std::vector<FakeCall> found;
    for (const FakeCall& call : Log()) {
      if (call.call.starts_with(prefix))
        found.push_back(call);
    }
    return found;
  }
  // Waits until the polling thread pauses (after its start, say).
  bool Settle() { return workers_.Settle(); }
  // The fake's time of a loop time.
  static uint64_t FakeTime(uint64_t loopMs) { return loopMs - zero_; }

 private:
  static uint64_t Now() { return platform::MainLoop().NowMs() - zero_; }

  template <class Function>
  static Function Find(const char* name) {
    return reinterpret_cast<Function>(monitor::Ftd2xx().Symbol(name));
  }
  template <class Function>
  static Function Call(const char* name) {
    const Function function = Find<Function>(name);
    if (!function)
      ADD_FAILURE() << "the fake has no " << name;
    return function;
  }

  static inline uint64_t zero_ = 0;
  platform::VirtualWorkerClock workers_;
  platform::ScopedService<platform::WorkerClock> workersGuard_{workers_};
};

// korvamon on the fake, the test language's texts "Tn".
class UsbProgramTest : public KorvamonTextTest {
 protected:
  ~UsbProgramTest() override { program::EndProgram(); }  // its polling thread ends first

  // The program ended, a fresh fake (the one without FT_Purge when asked).
  void NewFake(bool withoutPurge = false) {
    program::EndProgram();
    fake_.reset();
    fake_.emplace(clock(), withoutPurge);
  }
  // A start on USB with these further settings lines (its [COM] section first);
  // returns once the polling thread has set the device up and pauses.
  void StartOnUsb(const std::string& settings = "") {
    StartWith("USBPORT=1\r\n" + settings);
    fake().Settle();
  }
  FakeFtdi& fake() { return *fake_; }
  const FakeFtdi& fake() const { return *fake_; }
  // When these bytes were written, each in one call.
  std::vector<uint64_t> Writes(const std::string& bytes) const {
    std::vector<uint64_t> times;
    for (const FakeCall& call : fake().Calls("FT_Write(\"" + bytes + "\") = 0 1"))
      times.push_back(call.at);
    return times;
  }
  std::vector<std::string> HistoryFrom(const std::string& text) const {
    const std::vector<std::string> texts = HistoryTexts();
    return std::vector<std::string>(std::find(texts.begin(), texts.end(), text), texts.end());
  }

 private:
  std::optional<FakeFtdi> fake_{std::in_place, clock()};
};

}  // namespace korva_test
