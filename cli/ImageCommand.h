// `tarvok image FILE`: what a burn of the file would write, without touching a port — its form,
// the regions it places in flash and the fill between them, and the CRC-32 and SHA-256 of the
// bytes burned from flash address 0 (the SHA-256 a station file pins).
#pragma once

#include <cstdint>
#include <iosfwd>
#include <string>

namespace tarvok::cli {

struct ImageOptions {
  std::string image;
  std::string flashBase = "0";  // checked by the option parser: decimal or 0x...
  bool json = false;
};

// 0 after the report on `out`; kExitBadInput after one line on `err` for a file it cannot use.
int RunImageCommand(const ImageOptions& options, std::ostream& out, std::ostream& err);

}  // namespace tarvok::cli
