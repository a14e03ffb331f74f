// What the command line needs of its console on each platform: its arguments as UTF-8 (as
// every program here takes them), and whether standard output is a terminal that redraws lines.
#pragma once

#include "station/platform/ProgramArguments.h"

namespace tarvok::cli {

// The program's arguments as UTF-8.
using ConsoleArguments = tarvok::ProgramArguments;

// True when standard output is an interactive terminal that understands the escape
// sequences the progress display redraws with (on Windows: a console, switched to them and
// to UTF-8 output).
bool StdoutIsTerminal();

}  // namespace tarvok::cli
