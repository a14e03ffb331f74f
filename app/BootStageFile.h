// Reading a boot stage other than the one built in, from a file people name beside their own
// RAM loader; and the rule every front end applies to the two.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tarvok {

// The most a boot stage may hold: one block of the boot ROM's write command.
inline constexpr uint32_t kMaxBootStageBytes = 256;

// The two options' help, as the burn and the station give it.
inline constexpr const char* kBootStageOptionHelp =
    "with --loader: bring that loader in at the burn rate through this boot stage (at most 256 "
    "bytes, the board's own); the built-in loader brings its own stage";
inline constexpr const char* kClassicOptionHelp =
    "speak to the loader as to one that knows no additions: the boot ROM downloads it at its own "
    "rate, and the flash is not read back after the image";

// Reads a boot stage whole into `bytes`. Empty, or what is wrong with the file ("is empty",
// "has 300 bytes; a boot stage has at most 256").
std::string ReadBootStageFile(const std::string& path, std::vector<uint8_t>& bytes);

}  // namespace tarvok
