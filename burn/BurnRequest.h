// A burn as every front end asks for it, and what came of it.
//
// A request names the port, the line settings in their own types, the image (read once and
// shared read-only, so one read serves many ports), the RAM loader and a stop token. The
// outcome says whether the chip took the image, what failed if it did not, how long each stage
// took, and the words to show people. Progress arrives at a small sink while the burn runs.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "burn/FlashImage.h"
#include "burn/LineOptions.h"
#include "burn/LoaderLink.h"

namespace tarvok {

struct BurnLine {
  uint32_t romRate = kRomRates.front().value;  // the rate the chip's boot ROM talks
  // The rate of the image transfer; 0 keeps the rate the loader greeted at.
  uint32_t burnRate = kDefaultBurnRate;
  DataBits dataBits = DataBits::k8;
  Parity parity = Parity::kNone;
  StopBits stopBits = StopBits::kOne;
};

// The line settings named by their words (as the options tables spell them); a word that names
// none keeps the default, for a caller that has checked the words already.
inline BurnLine BurnLineOfWords(const std::string& romBaud, const std::string& burnBaud,
                                const std::string& dataBits, const std::string& parity,
                                const std::string& stopBits) {
  BurnLine line;
  line.romRate = OptionByWord(kRomRates, romBaud).value_or(line.romRate);
  line.burnRate = OptionByWord(kBurnRates, burnBaud).value_or(line.burnRate);
  line.dataBits = OptionByWord(kDataBitsOptions, dataBits).value_or(line.dataBits);
  line.parity = OptionByWord(kParityOptions, parity).value_or(line.parity);
  line.stopBits = OptionByWord(kStopBitsOptions, stopBits).value_or(line.stopBits);
  return line;
}

// Asks a running burn to stop at its next byte boundary. It only reads the flag, which its
// owner keeps alive for the whole burn and may set from any thread or a signal handler.
class StopToken {
 public:
  StopToken() = default;
  explicit StopToken(const std::atomic<bool>& flag) : flag_(&flag) {}
  bool StopRequested() const { return flag_ != nullptr && flag_->load(std::memory_order_relaxed); }

 private:
  const std::atomic<bool>* flag_ = nullptr;
};

struct BurnRequest {
  std::string portName;    // as people know the port: "COM5", "/dev/ttyUSB0"
  std::string devicePath;  // what is opened: "/dev/ttyUSB0", "\\.\COM5"
  BurnLine line;
  // Burned from flash address 0. An image that did not load is refused by the burn (0x505).
  std::shared_ptr<const FlashImage> image;
  // The RAM loader to download; null downloads the one built in.
  std::shared_ptr<const std::vector<uint8_t>> loader;
  // The boot stage that brings the loader in at the burn rate, for a loader named above; the
  // built-in loader goes through the stage built in when it declares it. Null for a named
  // loader: the boot ROM downloads it, as always.
  std::shared_ptr<const std::vector<uint8_t>> bootStage;
  // Speak to any loader as to one that declares no additions: no boot stage, no read-back.
  bool classic = false;
  // The loader already runs and is about to greet: skip the boot ROM and the download.
  bool loaderRunning = false;
  // After the rate switch, how often the loader echoes each test value (0x00-0x0A) back at the
  // new rate before the burn goes on; 0 trusts the switch's own probes.
  uint8_t echoRepeats = 0;
  StopToken stop;
};

// What a round trip to a network port's server of `roundTripMs` costs a burn at `burnRate`,
// in percent of the image stage's speed: every block of 1,024 bytes and its sum waits for its
// answer, which comes a round trip after the block has left. 0 for no round trip.
inline uint32_t RoundTripCostPercent(uint32_t roundTripMs, uint32_t burnRate) {
  constexpr double kBlockBits = 10.0 * (1024 + 2);
  if (roundTripMs == 0 || burnRate == 0) {
    return 0;
  }
  const double blockMs = kBlockBits * 1000 / burnRate;
  return static_cast<uint32_t>(100 * roundTripMs / (blockMs + roundTripMs) + 0.5);
}
// From this cost on, a burn says what its network port's round trip costs.
inline constexpr uint32_t kSlowRoundTripPercent = 10;

// Why a request cannot be burned as it stands, for people; empty when it can.
std::string ProblemWithRequest(const BurnRequest& request);
// Why the port `devicePath` cannot burn with `line`, for people; empty when it can, and for
// every local port. A network port's name must be well formed, and a raw TCP port cannot
// change the line's rate.
std::string ProblemWithNetworkPort(const std::string& devicePath, const BurnLine& line);

enum class BurnStage { kLoader, kImage };

// Told what the burn does while it runs, on the burning thread. The loader stage reports the
// RAM loader going into the chip; the image stage the image going into flash.
class BurnProgressSink {
 public:
  virtual ~BurnProgressSink() = default;
  // The port is open and configured; the chip is about to be spoken to. `refusedSettings`
  // names the settings the device did not take, for people (empty when it took them all).
  virtual void OnBurnStart(const std::string& /*refusedSettings*/) {}
  virtual void OnStageStart(BurnStage /*stage*/) {}
  virtual void OnStageProgress(BurnStage /*stage*/, uint8_t /*percent*/, uint32_t /*done*/,
                               uint32_t /*total*/) {}
  // The chip has been left alone; the port is about to be closed.
  virtual void OnBurnEnd() {}
};

// Whether the flash was read back after the image went in, and what it said.
enum class ReadBack {
  kNotAsked,  // the loader does not declare it, --classic, or the burn ended before
  kMatched,   // the flash's CRC-32 is the image's
  kDiffers,   // the flash's CRC-32 is not the image's: the burn failed
  kNoAnswer,  // the loader did not answer the request: the burn failed
};

struct BurnOutcome {
  bool portOpened = false;
  std::string openFailure;        // "Open<device> Failed!" when the port did not open
  std::string openFailureReason;  // why, for people
  // The settings the device did not take, for people; empty when it took them all.
  std::string refusedSettings;

  uint32_t status = 0;         // the burn status, 0 for success
  uint32_t stepResult = 0;     // the failing step's own code (why the stream failed, say)
  bool interrupted = false;    // stopped through the request's stop token
  bool portWentAway = false;   // the device disappeared or hung up under the burn
  LoaderHello hello;           // what the loader announced
  bool bootStageUsed = false;  // the loader came in through a boot stage
  ReadBack readBack = ReadBack::kNotAsked;
  uint32_t imageCrc = 0;  // CRC-32 of the image's bytes, when the flash was read back
  uint32_t flashCrc = 0;  // CRC-32 the loader read from the flash (kMatched or kDiffers)

  // The round trip to a network port's serial server as the burn measured it; 0 for a local
  // port. Every block waits for its answer, so a long round trip costs speed.
  uint32_t networkRoundTripMs = 0;

  double loaderStageSeconds = 0;  // 0 for a stage that never began
  double imageStageSeconds = 0;
  double readBackSeconds = 0;  // inside the image stage: the loader reading the flash back
  double totalSeconds = 0;
  uint32_t imageBytesDone = 0;

  std::string summary;      // "Burn Flash Img Success !" or "Burn Flash Img Fail ! Error=e"
  std::string explanation;  // what the chip confirmed, or what failed and what to check

  bool Succeeded() const { return portOpened && status == 0 && !interrupted; }
};

}  // namespace tarvok
