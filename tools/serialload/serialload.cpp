// serialload: what the serial link costs the program. It opens a COM port
// through TSerial with its event thread, reads the module's frames as the
// main window does (a block when 84 bytes wait), and after the given time
// reports the bytes and posts it handled and the CPU time the whole process
// used, from /proc/self/stat.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "monitor/Serial.h"
#include "platform/EventLoop.h"
#include "vcl/Forms.h"

namespace {

constexpr uint32_t kBlockBytes = 84;

// User plus system time of this process so far, in milliseconds.
std::optional<double> CpuMs() {
  std::ifstream in("/proc/self/stat");
  std::string stat;
  if (!std::getline(in, stat))
    return std::nullopt;
  // The fields after the program name, which may hold blanks, start with the
  // state (field 3); utime and stime are fields 14 and 15.
  const size_t close = stat.rfind(')');
  if (close == std::string::npos)
    return std::nullopt;
  std::istringstream fields(stat.substr(close + 2));
  std::vector<std::string> field;
  for (std::string word; fields >> word;)
    field.push_back(word);
  if (field.size() < 13)
    return std::nullopt;
  const double ticks = std::stod(field[11]) + std::stod(field[12]);
  return ticks * 1000.0 / static_cast<double>(sysconf(_SC_CLK_TCK));
}

class LoadForm : public vcl::TForm {
 public:
  explicit LoadForm(vcl::TComponent* owner) : vcl::TForm(owner, "TLoadForm") {
    serial = new monitor::TSerial(this);
    serial->OnError = [](vcl::TObject*) {};
    serial->OnEventChar = [](vcl::TObject*) {};
  }

  void WndProc(vcl::TMessage& message) override {
    if (message.Msg != monitor::WM_COMMEVENT)
      return vcl::TForm::WndProc(message);
    ++posts;
    if (message.WParam == platform::EV_ERR)
      ++lineErrors;
    if (message.WParam == platform::EV_RXFLAG && serial->InQueCount() >= kBlockBytes) {
      std::string block;
      serial->ReadStr(block);
      bytes += block.size();
      ++blocks;
    }
  }

  monitor::TSerial* serial;
  uint64_t posts = 0;
  uint64_t lineErrors = 0;
  uint64_t bytes = 0;
  uint64_t blocks = 0;
};

int Usage() {
  std::fprintf(stderr, "usage: serialload [--port N] [--seconds S]\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  int port = 1;
  int seconds = 10;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string option = argv[i];
    const int value = std::atoi(argv[i + 1]);
    if (option == "--port" && value >= 1 && value <= 4)
      port = value;
    else if (option == "--seconds" && value >= 1)
      seconds = value;
    else
      return Usage();
  }
  if (argc % 2 == 0)
    return Usage();

  LoadForm* form = vcl::Application().CreateForm<LoadForm>();
  form->serial->SetCOMPort(port);
  if (!form->serial->Open(true)) {
    std::fprintf(stderr, "serialload: cannot open COM%d: %s\n", port,
                 form->serial->LastSystemErrorText().c_str());
    return 1;
  }
  const std::optional<double> cpuBefore = CpuMs();
  const auto start = std::chrono::steady_clock::now();
  platform::MainLoop().RunFor(static_cast<uint32_t>(seconds) * 1000);
  const std::optional<double> cpuAfter = CpuMs();
  const double wallMs =
      std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
  form->serial->Close();

  std::printf(
      "serialload: %.1f s on COM%d, %llu bytes in %llu blocks, %llu posts, %llu line errors\n",
      wallMs / 1000.0, port, static_cast<unsigned long long>(form->bytes),
      static_cast<unsigned long long>(form->blocks), static_cast<unsigned long long>(form->posts),
      static_cast<unsigned long long>(form->lineErrors));
  if (!cpuBefore || !cpuAfter) {
    std::printf("serialload: no CPU time (/proc/self/stat unreadable)\n");
    return 1;
  }
  const double cpuMs = *cpuAfter - *cpuBefore;
  std::printf("serialload: CPU %.0f ms = %.3f %% of one core\n", cpuMs, 100.0 * cpuMs / wallMs);
  vcl::Application().Done();
  return 0;
}
