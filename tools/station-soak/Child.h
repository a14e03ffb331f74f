// A program run in the background whose standard output and error are read line by line
// without ever blocking, so that one loop can follow several programs at once (started by
// the one spawner of tools/spawn).
#pragma once

#include <sys/types.h>

#include <functional>
#include <string>
#include <vector>

namespace tarvok::stationsoak {

enum class Stream { kOut, kErr };

class Child {
 public:
  // Starts `args[0]` (a path) with `args`; IsRunning() tells whether that worked.
  explicit Child(const std::vector<std::string>& args);
  ~Child();  // kills the program if it still runs
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;

  // Hands over each complete line that has arrived since the last call (without its end).
  void ReadLines(const std::function<void(Stream, const std::string&)>& onLine);
  void Signal(int signal) const;
  // True once the program has ended (its exit code, or 128 + the signal, in `exitCode`).
  bool Ended(int& exitCode);
  // Waits at most `timeoutMs` for the program to end, reading its output meanwhile.
  bool WaitEnded(int timeoutMs, int& exitCode,
                 const std::function<void(Stream, const std::string&)>& onLine);
  // What is left after the last line end of each stream, once the program has ended.
  std::string Rest(Stream stream) const { return stream == Stream::kOut ? outRest_ : errRest_; }

 private:
  pid_t pid_ = -1;
  int out_ = -1;
  int err_ = -1;
  std::string outRest_;
  std::string errRest_;
  bool ended_ = false;
  int exitCode_ = -1;
};

}  // namespace tarvok::stationsoak
