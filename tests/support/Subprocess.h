// Runs a program with extra environment, captures what it prints and how it exits.
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

// A program left running in the background, its standard output readable line by line.
class BackgroundProcess {
 public:
  explicit BackgroundProcess(const std::vector<std::string>& args);
  ~BackgroundProcess();  // kills the program if it still runs
  BackgroundProcess(const BackgroundProcess&) = delete;
  BackgroundProcess& operator=(const BackgroundProcess&) = delete;

  std::string ReadLine();
  // Waits for the program to end by itself; its exit code, or -1 after `timeoutMs`.
  int Wait(int timeoutMs);

 private:
  int pid_ = -1;
  int out_ = -1;
};

}  // namespace tarvok::testing
