// The RAM loader's command protocol against every reply a loader (or a noisy line) can give:
// hello, baud switch with its probes and echo test, flash parameters, the image stream with
// its block replies and re-synchronisations, and finish. All five run one after another,
// each also from whatever state the one before left the line in.
#include <array>

#include "tests/fuzz/FuzzTarget.h"
#include "tests/fuzz/LoaderBounds.h"
#include "tests/fuzz/Require.h"
#include "tests/fuzz/TestData.h"

namespace tarvok::fuzz {
namespace {

constexpr std::array<uint32_t, 6> kBlockSizes = {kDefaultBlockSize, 1, 7, 256, 4096, 0};
constexpr uint32_t kMaxImageBytes = 6000;

}  // namespace

void RunTarget(FuzzInput& input, WhenScriptEnds end) {
  const uint32_t imageSize = input.Below(kMaxImageBytes + 1, 5000);
  const uint32_t blockSize = kBlockSizes[input.Byte() % kBlockSizes.size()];
  const auto baudCode = static_cast<uint8_t>(input.Byte(4) % 16);  // 0 and 15 are refused
  const auto echoRepeats = static_cast<uint8_t>(input.Byte() % 3);
  const uint8_t eraseWait = input.Byte();
  const uint32_t progressSteps = input.Byte() % 3;  // 0 derives them from the size
  FlashImage image = SeededImage(imageSize, blockSize, input.Byte());
  if ((input.Byte() & 1) != 0) {
    // Addresses beyond 27 bits, which lose their upper bits on the wire.
    image.startAddress = 0xF8000000u;
    image.endAddress = image.startAddress + (imageSize == 0 ? 0 : imageSize - 1);
  }

  LoaderModel chip(eraseWait, imageSize);
  ScriptedLine line(input, chip, LoaderLinkBounds(imageSize, blockSize, echoRepeats), end);
  SerialPort port = testing::OpenPort(line);
  line.StartChip();
  const LoaderLink link;

  LoaderHello hello;
  const uint32_t helloResult = link.ReadHello(port, &hello);
  Require(helloResult == 0 || helloResult == 8 || helloResult == 9 || helloResult == 10 ||
              helloResult == 16,
          "ReadHello returns one of its codes");
  Require(hello.started == 1, "the hello record marks the exchange as begun");

  const uint32_t switchResult = link.SwitchBaud(port, baudCode, echoRepeats);
  Require(switchResult <= 13 && switchResult != 6, "SwitchBaud returns one of its codes");
  if (switchResult == 0) {
    Require(line.BaudRate() == baudRates[baudCode], "a switched port runs at the new rate");
  }
  if (switchResult == 1) {
    Require(baudCode < 1 || baudCode > kMaxBaudCode, "only a code outside 1-14 is refused");
  }

  const uint32_t parametersResult = link.SetFlashParameters(port, &image);
  Require(parametersResult <= 7, "SetFlashParameters returns one of its codes");

  ProgressWatch progress;
  const uint32_t streamResult = link.StreamImage(port, &image, progressSteps, nullptr, nullptr,
                                                 &ProgressWatch::Report, &progress);
  Require(streamResult <= kStreamTooManyRejections, "StreamImage returns one of its codes");
  if (streamResult == 0) {
    Require(progress.lastPercent == 100, "a whole stream ends with its 100 % report");
  }
  const uint32_t finishResult = link.Finish(port);
  Require(finishResult <= 1, "Finish returns one of its codes");

  if (line.AnsweredRightly()) {
    const bool validCode = baudCode >= 1 && baudCode <= kMaxBaudCode;
    const bool validImage = image.IsValid() == 0 && blockSize != 0;
    Require(helloResult == 0 && switchResult == (validCode ? 0u : 1u) && parametersResult == 0,
            "a loader that answers rightly is spoken to");
    Require(streamResult == (validImage ? 0u : 2u),
            "a loader that answers rightly takes the image");
    if (validImage && validCode) {
      Require(TookImageWhole(chip.Taken(), image),
              "a loader that answers rightly receives the image whole");
      Require(chip.Finished(), "the finish command reaches the loader");
    }
  }
  line.CheckTotal("loader protocol ms");
}

}  // namespace tarvok::fuzz
