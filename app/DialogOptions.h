// The dialog's own options, as both dialogs take them from their command line: the RAM loader
// to download instead of the one built in, its boot stage, and --classic.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace tarvok {

struct DialogBurnOptions {
  std::shared_ptr<const std::vector<uint8_t>> loader;     // null: the one built in
  std::shared_ptr<const std::vector<uint8_t>> bootStage;  // null: none named
  bool classic = false;  // no boot stage and no flash read-back, whatever the loader declares
};

// Takes "--loader FILE", "--boot-stage FILE" (or "--loader=FILE", "--boot-stage=FILE") and
// "--classic" out of `args`, reads the files and checks them together. Empty, or one line
// saying what is wrong ("--boot-stage needs --loader: ...", "loader x.bin is empty"); the
// remaining arguments keep their order.
std::string TakeDialogBurnOptions(std::vector<std::string>& args, DialogBurnOptions& options);

// The dialog's help lines for those options.
extern const char* const kDialogBurnOptionsHelp;

}  // namespace tarvok
