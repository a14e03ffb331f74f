// A program's arguments as UTF-8: on Windows from the wide command line, so that a path outside
// the ANSI code page arrives whole; as given elsewhere.
#pragma once

#include <string>
#include <vector>

namespace tarvok {

class ProgramArguments {
 public:
  ProgramArguments(int argc, char** argv);
  int Count() const { return static_cast<int>(pointers_.size()); }
  char** Values() { return pointers_.data(); }

 private:
  std::vector<std::string> texts_;
  std::vector<char*> pointers_;
};

}  // namespace tarvok
