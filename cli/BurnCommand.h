// `tarvok burn`: burns one image into one or more chips at once, one worker per port, with
// the same engine and port set-up as the dialog.
#pragma once

#include <atomic>
#include <cstdint>
#include <iosfwd>
#include <string>
#include <vector>

#include "burn/BurnRequest.h"

namespace tarvok::cli {

struct BurnOptions {
  std::string image;
  std::vector<std::string> ports;  // device paths or "COM" names
  std::string flashBase = "0";     // the file's address of flash address 0: decimal or 0x...
  // The settings' words, by default those of a burn's defaults.
  std::string romBaud = WordOf(kRomRates, BurnLine{}.romRate);
  std::string burnBaud = WordOf(kBurnRates, BurnLine{}.burnRate);
  std::string dataBits = WordOf(kDataBitsOptions, BurnLine{}.dataBits);
  std::string parity = WordOf(kParityOptions, BurnLine{}.parity);
  std::string stopBits = WordOf(kStopBitsOptions, BurnLine{}.stopBits);
  bool json = false;
  // The RAM loader has just been started by other means and is about to greet: no boot-ROM
  // stage. It greets only once, so this does not recover a chip after a stopped burn.
  bool loaderRunning = false;
  std::string loaderFile;  // download this RAM loader instead of the embedded one
  // The boot stage that brings `loaderFile` in at the burn rate; the built-in loader brings
  // its own.
  std::string bootStageFile;
  // Speak to the loader as to one without additions: no boot stage, no flash read-back.
  bool classic = false;
};

inline constexpr int kExitSuccess = 0;
inline constexpr int kExitBurnFailed = 1;
inline constexpr int kExitBadInput = 2;
inline constexpr int kExitInterrupted = 130;  // as a shell reports a program ended by SIGINT

// Burns until every port has ended. Once `stop` is set (by a signal), every run still going
// stops at its next byte boundary, its port is set back and it is reported as interrupted.
int RunBurnCommand(const BurnOptions& options, std::ostream& out, std::ostream& err,
                   bool interactive, const std::atomic<bool>& stop);

}  // namespace tarvok::cli
