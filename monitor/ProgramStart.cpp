#include "monitor/ProgramStart.h"

#include <atomic>
#include <condition_variable>
#include <exception>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

#include "monitor/Globfunc.h"
#include "monitor/lang.h"
#include "platform/EventLoop.h"
#include "platform/MessageBoxes.h"
#include "platform/Services.h"
#include "vcl/Forms.h"
#include "vcl/SysUtils.h"

namespace monitor {
namespace {

constexpr uint32_t kTextNoProgramFile = 70;

// One start in the background, shared by the thread that asks the shell and,
// as its predecessor, by the start asked for next.
class BackgroundStart {
 public:
  BackgroundStart(const platform::ShellCall& call, std::function<void(int)> onResult,
                  std::shared_ptr<BackgroundStart> previous)
      : call_(call),
        shell_(platform::processes()),
        loop_(platform::MainLoop().Link()),
        onResult_(std::move(onResult)),
        previous_(std::move(previous)) {}

  // The thread's work: the shell's answer, posted after the one before it.
  void Run() {
    int result = platform::kShellOutOfResources;
    try {
      result = shell_.ShellExecute("", call_.file, call_.parameters, call_.directory,
                                   platform::kSwShowNormal);
    } catch (const std::exception&) {
      // Nothing may escape the thread; the start failed as for want of resources.
    }
    if (previous_)
      previous_->WaitReported();
    Report(result);
  }

  // Posts the result; the start asked for next may then post its own.
  void Report(int result) {
    previous_.reset();
    loop_->Post([onResult = std::move(onResult_), result] { onResult(result); });
    {
      std::lock_guard lock(mutex_);
      reported_ = true;
    }
    reportedChanged_.notify_all();
  }

 private:
  void WaitReported() {
    std::unique_lock lock(mutex_);
    reportedChanged_.wait(lock, [this] { return reported_; });
  }

  const platform::ShellCall call_;
  platform::Processes& shell_;
  const std::shared_ptr<platform::LoopLink> loop_;
  std::function<void(int)> onResult_;
  std::shared_ptr<BackgroundStart> previous_;
  std::mutex mutex_;
  std::condition_variable reportedChanged_;
  bool reported_ = false;
};

std::atomic<int> startsUnderWay{0};
// The start asked for last, while anything holds it. Main thread only.
std::weak_ptr<BackgroundStart> latestStart;

bool IsBlankOrControl(char c) {
  return static_cast<unsigned char>(c) <= ' ';
}

std::string_view Trimmed(std::string_view text) {
  while (!text.empty() && IsBlankOrControl(text.front()))
    text.remove_prefix(1);
  while (!text.empty() && IsBlankOrControl(text.back()))
    text.remove_suffix(1);
  return text;
}

}  // namespace

std::optional<ProgramCall> SplitCommandLine(std::string_view commandLine) {
  const std::optional<std::string> program = ProgramFileName(commandLine);
  if (!program)
    return std::nullopt;
  // The program file is the start of the upper-cased, trimmed command line.
  const std::string_view line = Trimmed(commandLine);
  std::string parameters;
  if (line.size() > program->size() + 1)
    parameters = vcl::UpperCase(Trimmed(line.substr(program->size() + 1)));
  const size_t folderEnd = program->find_last_of("\\/:");
  const size_t nameStart = folderEnd == std::string::npos ? 0 : folderEnd + 1;
  return ProgramCall{program->substr(nameStart), program->substr(0, nameStart), parameters};
}

uint32_t ProgramStartErrorText(int result) {
  switch (result) {
    case 0:
      return 72;
    case 2:
      return 74;
    case 3:
      return 76;
    case 5:
      return 78;
    case 6:
      return 80;
    case 8:
      return 82;
    case 10:
      return 84;
    case 11:
      return 86;
    case 12:
      return 88;
    case 13:
      return 90;
    case 14:
      return 92;
    case 15:
      return 94;
    case 16:
      return 96;
    case 19:
      return 98;
    case 20:
      return 100;
    default:
      return 0;
  }
}

void StartInBackground(const platform::ShellCall& call, std::function<void(int)> onResult) {
  auto start = std::make_shared<BackgroundStart>(call, std::move(onResult), latestStart.lock());
  latestStart = start;
  ++startsUnderWay;
  try {
    std::thread([start] {
      start->Run();
      --startsUnderWay;
    }).detach();
  } catch (const std::system_error&) {
    // No thread to be had: the shell was not asked, as when it has no
    // resources. Said at once: the main thread waits for no other start.
    start->Report(platform::kShellOutOfResources);
    --startsUnderWay;
  }
}

int StartsUnderWay() {
  return startsUnderWay.load();
}

bool RunProgram(std::string_view commandLine) {
  if (commandLine.empty())
    return false;
  const std::string title = vcl::Application().Title();
  const std::optional<ProgramCall> call = SplitCommandLine(commandLine);
  if (!call) {
    platform::messageBoxes().Show(
        GetLangString(kTextNoProgramFile) + "\r\n" + std::string(commandLine), title,
        platform::kMbOk | platform::kMbIconInformation);
    return false;
  }
  StartInBackground({call->file, call->parameters, call->directory}, [title](int result) {
    if (result > 32)
      return;
    const uint32_t text = ProgramStartErrorText(result);
    platform::messageBoxes().Show(text ? GetLangString(text) : std::string(), title,
                                  platform::kMbOk);
  });
  return true;
}

}  // namespace monitor
