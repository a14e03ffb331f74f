// The libFuzzer entry point of every target (and of its corpus replay).
#include "tests/fuzz/FuzzTarget.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using tarvok::fuzz::WhenScriptEnds;
  tarvok::fuzz::FuzzInput input(data, size);
  const auto end = (input.Byte() & 1) != 0 ? WhenScriptEnds::kSilence : WhenScriptEnds::kAnswer;
  tarvok::fuzz::RunTarget(input, end);
  return 0;
}
