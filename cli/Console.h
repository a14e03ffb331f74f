// What the command line needs of its console on each platform: its arguments as UTF-8, and
// whether standard output is a terminal that redraws lines.
#pragma once

#include <string>
#include <vector>

namespace tarvok::cli {

// The program's arguments as UTF-8 (on Windows from the wide command line, so that a path
// outside the ANSI code page arrives whole); as given elsewhere.
class ConsoleArguments {
 public:
  ConsoleArguments(int argc, char** argv);
  int Count() const { return static_cast<int>(pointers_.size()); }
  char** Values() { return pointers_.data(); }

 private:
  std::vector<std::string> texts_;
  std::vector<char*> pointers_;
};

// True when standard output is an interactive terminal that understands the escape
// sequences the progress display redraws with (on Windows: a console, switched to them and
// to UTF-8 output).
bool StdoutIsTerminal();

}  // namespace tarvok::cli
