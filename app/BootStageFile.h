// Reading a boot stage other than the one built in, from a file people name beside their own
// RAM loader; and the rule every front end applies to the two.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tarvok {

// The most a boot stage may hold: one block of the boot ROM's write command.
inline constexpr uint32_t kMaxBootStageBytes = 256;

// Reads a boot stage whole into `bytes`. Empty, or what is wrong with the file ("is empty",
// "has 300 bytes; a boot stage has at most 256").
std::string ReadBootStageFile(const std::string& path, std::vector<uint8_t>& bytes);

}  // namespace tarvok
