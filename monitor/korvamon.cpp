// korvamon: the monitor program's entry.
#include "platform/EventLoop.h"

int main() {
  auto& loop = platform::MainLoop();
  loop.Post([&loop] { loop.Terminate(); });
  loop.Run();
  return 0;
}
