#include "monitor/ProgramStart.h"

#include <atomic>
#include <exception>
#include <future>
#include <memory>
#include <system_error>
#include <thread>
#include <utility>

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

std::atomic<int> startsUnderWay{0};
// Ready once the start asked for last has posted its result. Main thread only.
std::shared_future<void> lastReported;

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
  auto reported = std::make_shared<std::promise<void>>();
  const std::shared_future<void> previous =
      std::exchange(lastReported, reported->get_future().share());
  // Posts the result; the start asked for next may then post its own.
  auto report = [loop = platform::MainLoop().Link(), reported,
                 onResult = std::move(onResult)](int result) mutable {
    loop->Post([onResult = std::move(onResult), result] { onResult(result); });
    reported->set_value();
  };
  ++startsUnderWay;
  try {
    std::thread([call, &shell = platform::processes(), previous, report]() mutable {
      int result = platform::kShellOutOfResources;
      try {
        result = shell.ShellExecute("", call.file, call.parameters, call.directory,
                                    platform::kSwShowNormal);
      } catch (const std::exception&) {
        // Nothing may escape the thread; the start failed as for want of resources.
      }
      if (previous.valid())
        previous.wait();
      report(result);
      --startsUnderWay;
    }).detach();
  } catch (const std::system_error&) {
    // No thread to be had: the shell was not asked, as when it has no
    // resources. Said at once: the main thread waits for no other start.
    report(platform::kShellOutOfResources);
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
