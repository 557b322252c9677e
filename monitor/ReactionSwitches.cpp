#include "monitor/ReactionSwitches.h"

#include <mutex>

namespace monitor {
namespace {

struct Published {
  std::mutex mutex;
  ReactionSwitches switches;
};

Published& Latest() {
  static Published latest;
  return latest;
}

}  // namespace

ReactionSwitches CurrentReactionSwitches() {
  Published& latest = Latest();
  std::lock_guard lock(latest.mutex);
  return latest.switches;
}

void PublishReactionSwitches(const ReactionSwitches& switches) {
  Published& latest = Latest();
  std::lock_guard lock(latest.mutex);
  latest.switches = switches;
}

}  // namespace monitor
