// What `--version` prints: the program and its version, then the RAM loader and the boot
// stage it carries.
#pragma once

#include <string>
#include <string_view>

namespace tarvok {

// Three lines without a final newline, such as
//   tarvok 2.6
//   RAM loader: 3120 bytes, SHA-256 b2b879b45939
//   boot stage: 212 bytes, SHA-256 4d07c1a9e2f0
// Each hash is the start of the SHA-256 of the embedded bytes.
std::string VersionText(std::string_view program);

}  // namespace tarvok
