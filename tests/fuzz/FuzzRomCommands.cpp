// The boot ROM's command set against every echo and answer a chip (or a noisy line) can give:
// the loader download with its blocks, halfwords and closing checksum, the execute command,
// and the array commands.
#include <algorithm>
#include <array>
#include <vector>

#include "rom/RomTR7340.h"
#include "tests/fuzz/Require.h"
#include "tests/fuzz/ScriptedLine.h"
#include "tests/fuzz/TestData.h"

namespace tarvok::fuzz {
namespace {

enum Command : uint8_t {
  kWriteMemory,
  kChecksum,
  kExecute,
  kWriteHalfwords,
  kReadHalfwords,
  kWriteWords,
  kReadWords,
  kCommandCount,
};

constexpr uint32_t kMaxLength = 1200;  // bytes of WriteMemory: a few blocks, then halfwords
constexpr uint32_t kMaxCount = 64;     // elements of the array commands

// Between two writes the host pauses at most a block's echo pause and then reads either one
// echo (a block at most) or, for the read commands, every element in a row.
LineBounds RomBounds(uint32_t length, uint32_t count) {
  LineBounds bounds;
  bounds.maxWrites = 3 + length / 2 + 1 + 3 + count;
  bounds.maxMsBetweenWrites =
      kRomBlockEchoPauseMs +
      std::max(ReadBoundMs(kRomBlockBytes, 0, 100), (uint64_t{count} + 1) * ReadBoundMs(4, 0, 100));
  // The write's yield and the pause, then the echo and, for the read commands, the elements.
  bounds.maxCallsBetweenWrites =
      2 + std::max(ReadCallsBound(kRomBlockBytes, 0), (uint64_t{count} + 1) * ReadCallsBound(4, 0));
  bounds.maxWriteBytes = kRomBlockBytes;
  return bounds;
}

}  // namespace
}  // namespace tarvok::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace tarvok;
  using namespace tarvok::fuzz;
  FuzzInput input(data, size);
  const auto end = (input.Byte() & 1) != 0 ? WhenScriptEnds::kSilence : WhenScriptEnds::kAnswer;
  const auto command = static_cast<Command>(input.Byte() % kCommandCount);
  const uint32_t length = input.Below(kMaxLength + 1, 8728 % kMaxLength);
  const uint32_t count = input.Below(kMaxCount + 1, 3);
  const uint8_t seed = input.Byte();
  uint32_t address = kLoaderAddress;
  if ((input.Byte() & 1) != 0) {
    address = 0xFF000000u | input.Below(65536);
  }

  RomModel chip(true);
  ScriptedLine line(input, chip, RomBounds(length, count), end);
  SerialPort port = testing::OpenPort(line);
  Rom_TR7340 rom(200, 20);
  const auto bytes = SeededBytes(length, seed);
  std::vector<uint16_t> halfwords(count);
  std::vector<uint32_t> words(count);
  for (uint32_t k = 0; k < count; ++k) {
    halfwords[k] = static_cast<uint16_t>(bytes[k % (length == 0 ? 1 : length)] * 257u);
    words[k] = halfwords[k] * 65537u;
  }
  ProgressWatch progress;
  uint32_t result = 0;
  uint32_t highest = 0;
  switch (command) {
    case kWriteMemory:
      result = rom.WriteMemory(port, address, length == 0 ? nullptr : bytes.get(), length, nullptr,
                               nullptr, &ProgressWatch::Report, &progress);
      highest = 10;
      Require(progress.reports <= kRomProgressSteps, "at most 30 download progress reports");
      if (result == 9 || result == 10 || result == 0) {
        Require(progress.lastPercent == 100, "the whole download reported before the checksum");
      }
      break;
    case kChecksum: {
      uint16_t answer = 0;
      result = rom.Checksum(port, address, count, answer);
      highest = 4;
      break;
    }
    case kExecute:
      result = rom.Execute(port, address, (seed & 1) != 0);
      highest = 2;
      break;
    case kWriteHalfwords:
      result = rom.WriteHalfwords(port, address, halfwords.data(), count);
      highest = 4;
      break;
    case kReadHalfwords:
      result = rom.ReadHalfwords(port, address, halfwords.data(), count);
      highest = 4;
      break;
    case kWriteWords:
      result = rom.WriteWords(port, address, words.data(), count);
      highest = 4;
      break;
    case kReadWords:
      result = rom.ReadWords(port, address, words.data(), count);
      highest = 4;
      break;
    default:
      break;
  }
  Require(result <= highest, "a ROM command returns one of its step numbers");
  if (!line.Bent() && end == WhenScriptEnds::kAnswer) {
    const bool nothingToWrite = command == kWriteMemory && length == 0;
    Require(result == (nothingToWrite ? 1u : 0u), "a ROM that echoes rightly accepts the command");
  }
  line.CheckTotal("ROM command ms");
  return 0;
}
