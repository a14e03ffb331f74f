// Runs a program with extra environment, captures what it prints and how it exits (started
// by the one spawner of tools/spawn).
#pragma once

#include <string>
#include <vector>

namespace tarvok::testing {

struct ProcessResult {
  int exitCode = -1;
  std::string out;
  std::string err;
};

ProcessResult RunProcess(const std::vector<std::string>& args,
                         const std::vector<std::string>& extraEnvironment = {});

// A program left running in the background, its standard output readable line by line, and
// its standard error too when asked for (otherwise it goes where the test's goes).
class BackgroundProcess {
 public:
  explicit BackgroundProcess(const std::vector<std::string>& args, bool captureErrors = false);
  ~BackgroundProcess();  // kills the program if it still runs
  BackgroundProcess(const BackgroundProcess&) = delete;
  BackgroundProcess& operator=(const BackgroundProcess&) = delete;

  // The next line without its end; empty at the end of the output.
  std::string ReadLine();
  std::string ReadErrorLine();
  // All that is left, up to the end of the output.
  std::string ReadRest();
  std::string ReadErrorRest();
  void Signal(int signal);
  // Waits for the program to end by itself; its exit code, or -1 after `timeoutMs`.
  int Wait(int timeoutMs);
  // The program's process id; -1 once it has been reaped.
  int Pid() const { return pid_; }

 private:
  int pid_ = -1;
  int out_ = -1;
  int err_ = -1;
};

}  // namespace tarvok::testing
