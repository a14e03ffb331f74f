// What a production station is asked to do, and what it needs of the world around it.
//
// A station burns one image into board after board on each of its ports. Each port learns
// that a board has arrived and that it has left through one signal, chosen per port.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/PortSetup.h"
#include "burn/BurnRequest.h"
#include "station/records/UnitNumber.h"

namespace tarvok {

enum class BoardSignal {
  kPort,       // the port appears when a board (with its own adapter) is plugged in, and goes
  kModemLine,  // a modem-status input follows the fixture's board-present contact
  kOperator,   // the operator confirms each board on the terminal
  kChip,       // the chip itself: its boot ROM answers, and its firmware speaks after the burn
};

struct BoardSignalChoice {
  BoardSignal kind = BoardSignal::kOperator;
  uint32_t modemLine = kModemDsr;  // with kModemLine: kModemDsr, kModemCts, kModemDcd or kModemRing
  // With kChip: a board has left once the line has been this quiet after the chip last spoke.
  uint32_t leaveSilenceMs = 3000;

  bool operator==(const BoardSignalChoice&) const = default;
};

struct StationPortSetup {
  std::string portName;  // as given: "COM5", "/dev/ttyUSB0"
  BoardSignalChoice signal;
};

struct StationSetup {
  std::string name;  // the station's name in its records
  std::string imagePath;
  std::shared_ptr<const FlashImage> image;
  std::string imageSha256;
  std::shared_ptr<const std::vector<uint8_t>> loader;  // null: the one built in
  std::string loaderSha256;
  std::shared_ptr<const std::vector<uint8_t>> bootStage;  // null: none named with the loader
  std::string bootStageSha256;
  bool classic = false;  // no boot stage and no flash read-back, whatever the loader declares
  BurnLine line;
  uint8_t echoRepeats = 0;
  std::vector<StationPortSetup> ports;
  uint32_t failuresToStopPort = 3;  // failed boards in a row that stop a port; 0 never
  uint64_t boardsToPass = 0;        // the station ends once this many boards passed; 0 never
  std::optional<UnitNumberPlan> units;
};

// A USB adapter whose latency timer slows each reply the burn waits for.
struct AdapterLatency {
  int timerMs = 0;
  bool lowered = false;  // set to 1 ms before the burn
};

// The world as the station sees it: ports to open, ports that come and go, and a clock. The
// command line uses the real ones; tests put a virtual clock and fake ports behind them.
struct StationWorld {
  DeviceOpener open = OpenSerialDevice;
  // Whether the named port is on the machine now, and the device to open for it.
  std::function<bool(const std::string& portName, std::string& devicePath)> findPort;
  std::function<void(uint32_t ms)> sleep;
  std::function<uint64_t()> nowMs;
  // The serial number of the USB adapter behind a device, where the platform tells it.
  std::function<std::string(const std::string& devicePath)> adapterSerial;
  // The latency timer of the USB adapter behind a port about to burn, where it slows the
  // burn (told once per port), or nullopt.
  std::function<std::optional<AdapterLatency>(const std::string& portName,
                                              const std::string& devicePath)>
      adapterLatency;
  // What tells the device behind a path from another one put there later (where the path
  // leads, the device's node, a USB adapter's place and number on its bus); equal for the same
  // device, empty when the platform cannot tell.
  std::function<std::string(const std::string& devicePath)> deviceIdentity;
};

// The real world: the machine's serial ports and its steady clock.
StationWorld RealStationWorld();

}  // namespace tarvok
