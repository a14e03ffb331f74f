// `tarvok burn --loader FILE`: a RAM loader from a file (a chip vendor's, or ours ported to
// another board), downloaded instead of the one built into the program.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <string>
#include <vector>

namespace tarvok::cli {

// The most the boot ROM can load: from 0xC00 to the end of the chip's RAM.
extern const uint32_t kMaxLoaderBytes;

// Reads the whole file into `bytes`. False, with a one-line message on `err`, when the file
// cannot be read, is empty or is larger than the boot ROM can load.
bool ReadLoaderFile(const std::string& path, std::vector<uint8_t>& bytes, std::ostream& err);

}  // namespace tarvok::cli
