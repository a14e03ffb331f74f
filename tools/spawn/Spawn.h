// The one way the tests, the soaks and the benchmark start other processes: a program with
// its standard streams piped, sent to /dev/null or left as they are, or a function of ours in
// a forked child. Beside the product: no product binary links it.
#pragma once

#include <sys/types.h>

#include <functional>
#include <string>
#include <vector>

namespace tarvok::spawn {

// Where one of the child's standard streams goes (or, for its input, comes from).
enum class Sink { kPipe, kNull, kInherit };

struct SpawnRequest {
  std::vector<std::string> args;              // args[0] is the program's path
  std::vector<std::string> extraEnvironment;  // "NAME=value", ahead of ours
  Sink in = Sink::kInherit;  // kPipe is taken as kInherit: nobody writes to a child here
  Sink out = Sink::kPipe;
  Sink err = Sink::kPipe;
};

// A started child: its id (-1 when it could not start) and the read ends of the pipes asked
// for (-1 otherwise), which the caller closes.
struct Spawned {
  pid_t pid = -1;
  int out = -1;
  int err = -1;
};

Spawned Spawn(const SpawnRequest& request);

// Forks a child that runs `body` with the write end of a pipe and then exits with 0; the
// parent gets the read end as `out`. Buffered output is flushed first, so that the child does
// not print it twice.
Spawned ForkRun(const std::function<void(int out)>& body);

// The exit code of a status from waitpid, or 128 + the signal that ended the child.
int ExitCodeOf(int status);

// From a blocking pipe, until the program closes it: the next line without its end (empty at
// the end of the output), or all that is left.
std::string ReadLineFrom(int fd);
std::string ReadRestFrom(int fd);

// Makes `fd` non-blocking (for a loop that follows several children at once).
void SetNonBlocking(int fd);

}  // namespace tarvok::spawn
