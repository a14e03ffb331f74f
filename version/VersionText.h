// What `--version` prints: the program and its version, then the RAM loader it carries.
#pragma once

#include <string>
#include <string_view>

namespace tarvok {

// Two lines without a final newline, such as
//   tarvok 2.6
//   RAM loader: 3136 bytes, SHA-256 e00a22d0defd
// The hash is the start of the SHA-256 of the embedded loader's bytes.
std::string VersionText(std::string_view program);

}  // namespace tarvok
