// What `--version` prints: the program and its version, then the RAM loader and the boot
// stage it carries.
#pragma once

#include <string>
#include <string_view>

namespace tarvok {

// Three lines without a final newline, such as
//   tarvok 2.6
//   RAM loader: 3136 bytes, SHA-256 e00a22d0defd
//   boot stage: 256 bytes, SHA-256 52abbb51881b
// Each hash is the start of the SHA-256 of the embedded bytes.
std::string VersionText(std::string_view program);

}  // namespace tarvok
