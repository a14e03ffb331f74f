// One burn in a child process of its own: started from its plan, its verdict read back
// through a pipe, and its end told apart from a crash or a hang.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <string>

#include "tools/soak/SoakBurn.h"

namespace tarvok::soak {

struct ChildBurn {
  pid_t pid = -1;
  int out = -1;  // the pipe the child writes its verdict to
  BurnPlan plan;
  std::chrono::steady_clock::time_point started;
  std::string text;  // what the child has written so far
};

// Forks a child that runs the burn and writes its verdict; pid -1 when it could not start.
ChildBurn Launch(const BurnPlan& plan);
// Takes what the child has written; false once its pipe has ended.
bool ReadOutput(ChildBurn& child);
// The child has outlived every bound of its burn, its own watchdog included: it is to be
// killed.
bool Overdue(const ChildBurn& child);
// Waits for the child and reads its verdict; a child killed by a signal is a crash, one that
// was killed as overdue a hang.
BurnResult Collect(ChildBurn& child, bool killed);

}  // namespace tarvok::soak
