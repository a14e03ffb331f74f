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

}  // namespace tarvok::testing
