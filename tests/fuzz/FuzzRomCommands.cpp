// The boot ROM's command set against every echo and answer a chip (or a noisy line) can give:
// the loader download with its blocks, halfwords and closing checksum, the execute command,
// and the array commands.
#include <algorithm>
#include <array>
#include <vector>

#include "rom/RomTR7340.h"
#include "tests/fuzz/FuzzTarget.h"
#include "tests/fuzz/Require.h"
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

// The last step number each command can fail at.
constexpr uint32_t HighestStep(Command command) {
  switch (command) {
    case kWriteMemory:
      return 10;
    case kExecute:
      return 2;
    default:
      return 4;
  }
}

constexpr uint32_t kMaxLength = 1200;  // bytes of WriteMemory: a few blocks, then halfwords
constexpr uint32_t kMaxCount = 64;     // elements of the array commands

// Between two writes the host pauses at most a block's echo pause and then reads either one
// echo (a block at most) or, for the read commands, every element in a row.
LineBounds RomBounds(uint32_t length, uint32_t count) {
  const uint64_t elements = uint64_t{count} + 1;
  return {.maxWrites = 3 + length / 2 + 1 + 3 + count,
          .maxMsBetweenWrites = kRomBlockEchoPauseMs + std::max(ReadBoundMs(kRomBlockBytes, 0, 100),
                                                                elements * ReadBoundMs(4, 0, 100)),
          // The write's yield and the pause, then the echo and, for the read commands, the
          // elements.
          .maxCallsBetweenWrites =
              2 + std::max(ReadCallsBound(kRomBlockBytes, 0), elements * ReadCallsBound(4, 0)),
          .maxWriteBytes = kRomBlockBytes};
}

}  // namespace

void RunTarget(FuzzInput& input, WhenScriptEnds end) {
  const auto command = static_cast<Command>(input.Byte() % kCommandCount);
  const uint32_t length = input.Below(kMaxLength + 1, 3120 % kMaxLength);
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
  const auto send = [&]() -> uint32_t {
    uint16_t checksum = 0;
    switch (command) {
      case kWriteMemory:
        return rom.WriteMemory(port, address, length == 0 ? nullptr : bytes.get(), length, nullptr,
                               nullptr, &ProgressWatch::Report, &progress);
      case kChecksum:
        return rom.Checksum(port, address, count, checksum);
      case kExecute:
        return rom.Execute(port, address, (seed & 1) != 0);
      case kWriteHalfwords:
        return rom.WriteHalfwords(port, address, halfwords.data(), count);
      case kReadHalfwords:
        return rom.ReadHalfwords(port, address, halfwords.data(), count);
      case kWriteWords:
        return rom.WriteWords(port, address, words.data(), count);
      case kReadWords:
        return rom.ReadWords(port, address, words.data(), count);
      default:
        return 0;
    }
  };
  const uint32_t result = send();
  if (command == kWriteMemory) {
    Require(progress.reports <= kRomProgressSteps, "at most 30 download progress reports");
    if (result == 9 || result == 10 || result == 0) {
      Require(progress.lastPercent == 100, "the whole download reported before the checksum");
    }
  }
  Require(result <= HighestStep(command), "a ROM command returns one of its step numbers");
  if (line.AnsweredRightly()) {
    const bool nothingToWrite = command == kWriteMemory && length == 0;
    Require(result == (nothingToWrite ? 1u : 0u), "a ROM that echoes rightly accepts the command");
  }
  line.CheckTotal("ROM command ms");
}

}  // namespace tarvok::fuzz
