// `tarvok burn`: burns one image into one or more chips at once, one worker per port, with
// the same engine and port set-up as the dialog.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <string>
#include <vector>

namespace tarvok::cli {

struct BurnOptions {
  std::string image;
  std::vector<std::string> ports;  // device paths or "COM" names
  std::string romBaud = "9600";
  std::string burnBaud = "921600";
  std::string dataBits = "8";
  std::string parity = "none";
  std::string stopBits = "1";
  bool json = false;
  bool loaderRunning = false;  // the chip already runs the RAM loader: no boot-ROM stage
  std::string loaderFile;      // download this RAM loader instead of the embedded one
};

inline constexpr int kExitSuccess = 0;
inline constexpr int kExitBurnFailed = 1;
inline constexpr int kExitBadInput = 2;

int RunBurnCommand(const BurnOptions& options, std::ostream& out, std::ostream& err,
                   bool interactive);

}  // namespace tarvok::cli
