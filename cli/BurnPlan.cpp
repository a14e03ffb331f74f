#include "cli/BurnPlan.h"

#include <algorithm>
#include <cctype>
#include <map>
#include <ostream>

#include "app/BootStageFile.h"
#include "app/ImageText.h"
#include "burn/BurnFiles.h"

namespace tarvok::cli {

namespace {

bool ReadImage(const std::string& path, BurnPlan& plan, std::ostream& err) {
  auto image = std::make_shared<FlashImage>();
  if (const ImageProblem problem = tarvok::ReadImage(path, ImageReadOptions{}, *image)) {
    err << "tarvok: image " << path << " " << ImageProblemText(problem) << "\n";
    return false;
  }
  plan.image = std::move(image);
  return true;
}

using ReadBytes = std::string (*)(const std::string&, std::vector<uint8_t>&);

// The loader or the boot stage at `path`, read by `read`; `what` names it in the message.
bool ReadProgram(const char* what, ReadBytes read, const std::string& path,
                 std::shared_ptr<const std::vector<uint8_t>>& program, std::ostream& err) {
  auto bytes = std::make_shared<std::vector<uint8_t>>();
  if (const std::string problem = read(path, *bytes); !problem.empty()) {
    err << "tarvok: " << what << " " << path << " " << problem << "\n";
    return false;
  }
  program = std::move(bytes);
  return true;
}

}  // namespace

BurnLine LineOfOptions(const BurnOptions& options) {
  return BurnLineOfWords(options.romBaud, options.burnBaud, options.dataBits, options.parity,
                         options.stopBits);
}

bool PlanBurn(const BurnOptions& options, StopToken stop, BurnPlan& plan, std::ostream& err) {
  if (!options.bootStageFile.empty() && options.loaderFile.empty()) {
    err << "tarvok: --boot-stage needs --loader: the built-in loader brings its own boot stage "
           "(see 'tarvok burn --help')\n";
    return false;
  }
  if (!ReadImage(options.image, plan, err)) {
    return false;
  }
  std::shared_ptr<const std::vector<uint8_t>> loader;
  if (!options.loaderFile.empty() &&
      !ReadProgram("loader", ReadLoaderFile, options.loaderFile, loader, err)) {
    return false;
  }
  std::shared_ptr<const std::vector<uint8_t>> bootStage;
  if (!options.bootStageFile.empty() &&
      !ReadProgram("boot stage", ReadBootStageFile, options.bootStageFile, bootStage, err)) {
    return false;
  }
  std::map<std::string, std::string> nameOfDevice;
  for (const std::string& name : options.ports) {
    BurnRequest request;
    request.portName = name;
    request.devicePath = ResolvePort(name);
    if (request.devicePath.empty()) {
      err << "tarvok: no port " << name << " (see 'tarvok ports')\n";
      return false;
    }
    const std::string identity = DeviceIdentity(request.devicePath);
    const auto [earlier, fresh] = nameOfDevice.emplace(identity, name);
    if (!fresh) {
      err << "tarvok: " << earlier->second << " and " << name << " are the same port (" << identity
          << "): give each port once\n";
      return false;
    }
    request.line = LineOfOptions(options);
    request.image = plan.image;
    request.loader = loader;
    request.bootStage = bootStage;
    request.classic = options.classic;
    request.loaderRunning = options.loaderRunning;
    request.stop = stop;
    // Refused here, before any port opens, rather than by each burn on its own.
    if (const std::string problem = ProblemWithRequest(request); !problem.empty()) {
      err << "tarvok: " << problem << "\n";
      return false;
    }
    plan.requests.push_back(std::move(request));
  }
  return true;
}

}  // namespace tarvok::cli
