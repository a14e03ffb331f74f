#include "app/DialogOptions.h"

#include "app/BootStageFile.h"
#include "burn/BurnFiles.h"

namespace tarvok {
namespace {

using ReadBytes = std::string (*)(const std::string&, std::vector<uint8_t>&);

struct FileOption {
  const char* name;  // "--loader"
  const char* what;  // "loader", for people
  ReadBytes read;
  std::shared_ptr<const std::vector<uint8_t>> DialogBurnOptions::*field;
};

const FileOption kFileOptions[] = {
    {"--loader", "loader", ReadLoaderFile, &DialogBurnOptions::loader},
    {"--boot-stage", "boot stage", ReadBootStageFile, &DialogBurnOptions::bootStage},
};

// Takes `option`'s file at args[at] ("--loader FILE" or "--loader=FILE") and reads it; the
// count of arguments taken, or 0 after `problem` is said.
std::size_t TakeFile(const FileOption& option, std::vector<std::string>& args, std::size_t at,
                     DialogBurnOptions& options, std::string& problem) {
  const std::string joined = std::string(option.name) + "=";
  const bool isJoined = args[at].rfind(joined, 0) == 0;
  if (!isJoined && at + 1 >= args.size()) {
    problem = std::string(option.name) + " needs a file";
    return 0;
  }
  const std::string path = isJoined ? args[at].substr(joined.size()) : args[at + 1];
  auto bytes = std::make_shared<std::vector<uint8_t>>();
  if (std::string fault = option.read(path, *bytes); !fault.empty()) {
    problem = std::string(option.what) + " " + path + " " + fault;
    return 0;
  }
  options.*option.field = std::move(bytes);
  return isJoined ? 1 : 2;
}

}  // namespace

const char* const kDialogBurnOptionsHelp =
    "  --loader FILE      download this RAM loader instead of the one built in: a real board\n"
    "                     needs its own (the built-in loader is for the simulated chip)\n"
    "  --boot-stage FILE  with --loader: bring that loader in at the burn rate through this\n"
    "                     boot stage (at most 256 bytes); the built-in loader brings its own\n"
    "  --classic          speak to the loader as to one that knows no additions: no boot\n"
    "                     stage, and the flash is not read back after the image\n";

std::string TakeDialogBurnOptions(std::vector<std::string>& args, DialogBurnOptions& options) {
  std::string problem;
  for (std::size_t at = 0; at < args.size();) {
    if (args[at] == "--classic") {
      options.classic = true;
      args.erase(args.begin() + static_cast<std::ptrdiff_t>(at));
      continue;
    }
    std::size_t taken = 0;
    bool named = false;
    for (const FileOption& option : kFileOptions) {
      const std::string name = option.name;
      if (args[at] == name || args[at].rfind(name + "=", 0) == 0) {
        named = true;
        taken = TakeFile(option, args, at, options, problem);
      }
    }
    if (named && taken == 0) {
      return problem;
    }
    const auto from = args.begin() + static_cast<std::ptrdiff_t>(at);
    args.erase(from, from + static_cast<std::ptrdiff_t>(taken));
    at += named ? 0 : 1;
  }
  if (options.bootStage && !options.loader) {
    return "--boot-stage needs --loader: the built-in loader brings its own boot stage";
  }
  if (options.bootStage && options.classic) {
    return "--boot-stage excludes --classic: the stage would not be used";
  }
  return "";
}

}  // namespace tarvok
