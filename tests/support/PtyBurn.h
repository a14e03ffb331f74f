// One whole burn through the Linux serial layer into a simulated chip on a pseudo-terminal,
// with the port opened and closed as the dialog does it.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "app/BurnEngine.h"
#include "burn/BurnSequence.h"
#include "burn/EmbeddedLoader.h"
#include "sim/PtyChip.h"
#include "tests/support/ImageFactory.h"

namespace tarvok::testing {

struct ChipBurnResult {
  uint32_t status = 0xFFFFFFFF;
  bool flashHoldsImage = false;
  bool finishArrived = false;  // the chip received 0xE5
  double seconds = 0;
};

struct BurnSetup {
  std::string romRate = "9600";
  int32_t burnRateList = 3;  // position in the table of burn rates; -1 keeps the ROM's rate
  bool download = true;      // false: the chip already runs its loader
  std::vector<uint8_t> loader{kEmbeddedLoader, kEmbeddedLoader + kEmbeddedLoaderLength};
  uint8_t echoRepeats = 0;
};

// Burns the image into the chip as a front end asks for a burn, with the chip's port named
// as the dialog lists it (through TARVOK_EXTRA_PORTS).
inline ChipBurnResult BurnInto(sim::PtyChip& chip, const std::vector<uint8_t>& bytes,
                               const BurnSetup& setup) {
  setenv("TARVOK_EXTRA_PORTS", chip.Path().c_str(), 1);
  BurnRequest request;
  request.portName = "COM1001";
  request.devicePath = DevicePathForChoice(request.portName);
  request.line.romRate = static_cast<uint32_t>(std::stoul(setup.romRate));
  request.line.burnRate = setup.burnRateList < 0
                              ? 0
                              : kBurnRates.at(static_cast<std::size_t>(setup.burnRateList)).value;
  request.image = MakeImage(bytes);
  request.loader = std::make_shared<const std::vector<uint8_t>>(setup.loader);
  request.loaderRunning = !setup.download;
  request.echoRepeats = setup.echoRepeats;
  BurnProgressSink unwatched;
  const auto start = std::chrono::steady_clock::now();
  const BurnOutcome burned = Burn(request, unwatched);
  ChipBurnResult outcome;
  outcome.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  EXPECT_TRUE(burned.portOpened) << burned.openFailureReason;
  if (!burned.portOpened) {
    return outcome;
  }
  outcome.status = burned.status;
  const std::vector<uint8_t> flash = chip.FlashContents();
  outcome.flashHoldsImage =
      flash.size() >= bytes.size() && std::equal(bytes.begin(), bytes.end(), flash.begin());
  // The host sends the finish command after the stream's trailer; give the chip's side of the
  // line a moment to take it in. After a failure nothing more is sent, so nothing comes.
  if (outcome.status == kBurnOk) {
    chip.WaitForBurnEnd(3000);
  }
  outcome.finishArrived = chip.Report().finishArrived;
  return outcome;
}

// A chip with 256 KiB of flash, room for every image of the end-to-end tests.
inline sim::PtyChipOptions SmallChipOptions() {
  sim::PtyChipOptions options;
  options.chip.flashBytes = 256 * 1024;
  return options;
}

// Names the cases of a parameterised test after their `name` field.
struct CaseName {
  template <typename Case>
  std::string operator()(const ::testing::TestParamInfo<Case>& info) const {
    return info.param.name;
  }
};

inline std::unique_ptr<sim::PtyChip> StartChip(sim::PtyChipOptions options) {
  options.wire.trace = std::getenv("TARVOK_SIM_TRACE") != nullptr;
  std::string error;
  auto chip = sim::PtyChip::Start(options, &error);
  EXPECT_NE(chip, nullptr) << error;
  return chip;
}

// Our loader firmware's block (built, or the committed copy).
inline std::vector<uint8_t> FirmwareBlock() {
  std::ifstream in(TARVOK_FIRMWARE_BLOCK, std::ios::binary);
  std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                             std::istreambuf_iterator<char>());
  EXPECT_FALSE(bytes.empty()) << TARVOK_FIRMWARE_BLOCK;
  return bytes;
}

// A chip whose loader is our firmware on the emulated CPU, already running.
inline void RunFirmwareOnCpu(sim::PtyChipOptions& options) {
  options.chip.cpu = true;
  options.chip.startInLoader = true;
  options.chip.programInRam = FirmwareBlock();
}

}  // namespace tarvok::testing
