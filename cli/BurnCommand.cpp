#include "cli/BurnCommand.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <ostream>
#include <thread>

#include "app/BurnRun.h"
#include "app/ProgressText.h"
#include "cli/LoaderFile.h"
#include "cli/ProgressDisplay.h"
#include "serial/PortDiscovery.h"
#include "serial/PortSetup.h"

namespace tarvok::cli {
namespace {

// The command line's choices, presented as the dialog's lists present them.
class CommandLineChoices : public PortChoices {
 public:
  CommandLineChoices(const BurnOptions& options, const std::string& device) {
    static const std::map<std::string, std::string> kParity = {{"none", "NOPARITY"},
                                                               {"odd", "ODDPARITY"},
                                                               {"even", "EVENPARITY"},
                                                               {"mark", "MARKPARITY"},
                                                               {"space", "SPACEPARITY"}};
    static const std::map<std::string, std::string> kStopBits = {
        {"1", "ONESTOPBIT"}, {"1.5", "ONE5STOPBITS"}, {"2", "TWOSTOPBITS"}};
    static const std::map<std::string, int32_t> kBurnRates = {
        {"115200", 0}, {"230400", 1}, {"460800", 2}, {"921600", 3}};
    texts_[kPortListId] = device;
    indexes_[kPortListId] = 1;
    texts_[kOriginalRateListId] = options.romBaud;
    texts_[kDataBitsListId] = options.dataBits;
    texts_[kParityListId] = kParity.at(options.parity);
    texts_[kStopBitsListId] = kStopBits.at(options.stopBits);
    texts_[kBurnRateListId] = options.burnBaud;
    indexes_[kBurnRateListId] = kBurnRates.at(options.burnBaud);
  }
  int32_t SelectedIndex(int controlId) const override {
    const auto it = indexes_.find(controlId);
    return it != indexes_.end() ? it->second : 0;
  }
  std::string SelectedText(int controlId) const override { return texts_.at(controlId); }
  void ShowMessage(const std::string& text) override { message = text; }

  std::string message;

 private:
  std::map<int, std::string> texts_;
  std::map<int, int32_t> indexes_;
};

// One chip on one port.
struct PortJob {
  std::string name;  // as the user gave it
  std::string device;
  PortState state;
  std::unique_ptr<CommandLineChoices> choices;
  PortProgress* progress = nullptr;
  std::unique_ptr<BurnRun> run;
  uint32_t status = 0;
  std::thread worker;
  std::atomic<bool> done{false};
};

// The image is checked once up front, so that a bad one is a usage error and not a burn.
bool CheckImage(const std::string& path, uint32_t& size, std::ostream& err) {
  std::error_code error;
  const auto bytes = std::filesystem::file_size(path, error);
  if (!error && bytes > uint64_t{kHighestFlashAddress} + 1) {
    err << "tarvok: image " << path << " is larger than the 128 MiB the loader can address\n";
    return false;
  }
  std::unique_ptr<uint8_t[]> data;
  const uint32_t code = ReadWholeFile(path.c_str(), &data, &size, nullptr);
  const char* problem = nullptr;
  switch (code) {
    case 0:
      break;
    case 2:
      problem = "cannot be opened (missing, or no permission)";
      break;
    case 3:
      problem = "is not a regular file";
      break;
    case 4:
      problem = "is empty";
      break;
    case 5:
      problem = "is too large to load";
      break;
    default:
      problem = "cannot be read";
      break;
  }
  if (problem == nullptr && size < 2) {
    problem = "is too small (an image has at least 2 bytes)";
  }
  if (problem == nullptr && size - 1 > kHighestFlashAddress) {
    problem = "is larger than the 128 MiB the loader can address";
  }
  if (problem != nullptr) {
    err << "tarvok: image " << path << " " << problem << "\n";
    return false;
  }
  return true;
}

// "COM1001" names a port from `tarvok ports`; anything else is a device path.
std::string ResolvePort(const std::string& name) {
  if (name.rfind("COM", 0) == 0 && PortNumberOfName(name) != 0) {
    return DevicePathForPortName(name);
  }
  return name;
}

// One run with its descriptors prepared as the dialog prepares them.
uint32_t PrepareAndBurn(PortJob& job, const BurnOptions& options,
                        const std::vector<uint8_t>& loaderFile) {
  std::unique_ptr<FlashImage> image;
  std::unique_ptr<LoaderImage> loader;
  PrepareBurnImages(options.image, image, loader);
  if (loader && !loaderFile.empty()) {
    loader->LoadEmbedded(loaderFile.data(), static_cast<uint32_t>(loaderFile.size()));
  }
  job.run->burning = 1;
  const uint32_t status = job.run->RunBurn(
      job.state.portHandle.get(), options.loaderRunning ? nullptr : loader.get(), image.get());
  job.run->burning = 0;
  return status;
}

nlohmann::json Report(const PortJob& job, const BurnOptions& options, uint32_t imageSize) {
  char hex[16];
  std::snprintf(hex, sizeof(hex), "%x", job.status);
  const double imageSeconds = job.run->ImageStageSeconds();
  return {
      {"status", job.status},
      {"status_hex", hex},
      {"message", job.status == 0 ? std::string(kBurnSuccessText) : BurnFailureText(job.status)},
      {"explanation", ExplainBurnStatus(job.status)},
      {"image", {{"path", options.image}, {"size", imageSize}}},
      {"port", job.name},
      {"device", job.device},
      {"rates", {{"rom", std::stoul(options.romBaud)}, {"burn", std::stoul(options.burnBaud)}}},
      {"seconds",
       {{"loader_stage", job.run->LoaderStageSeconds()},
        {"image_stage", imageSeconds},
        {"total", job.run->LoaderStageSeconds() + imageSeconds}}},
      {"bytes_per_second",
       imageSeconds > 0 ? static_cast<double>(job.run->ImageBytesDone()) / imageSeconds : 0.0},
  };
}

}  // namespace

int RunBurnCommand(const BurnOptions& options, std::ostream& out, std::ostream& err,
                   bool interactive) {
  uint32_t imageSize = 0;
  if (!CheckImage(options.image, imageSize, err)) {
    return kExitBadInput;
  }
  std::vector<uint8_t> loaderFile;
  if (!options.loaderFile.empty() && !ReadLoaderFile(options.loaderFile, loaderFile, err)) {
    return kExitBadInput;
  }
  // With --json only the JSON object goes to standard output.
  std::ostream& human = options.json ? err : out;
  ProgressDisplay display(human, interactive && !options.json);

  std::vector<std::unique_ptr<PortJob>> jobs;
  for (const std::string& name : options.ports) {
    auto job = std::make_unique<PortJob>();
    job->name = name;
    job->device = ResolvePort(name);
    if (job->device.empty()) {
      err << "tarvok: no port " << name << " (see 'tarvok ports')\n";
      return kExitBadInput;
    }
    jobs.push_back(std::move(job));
  }
  // Every port must open before any chip is touched.
  for (auto& job : jobs) {
    job->choices = std::make_unique<CommandLineChoices>(options, job->device);
    OpenSelectedPort(*job->choices, job->state);
    if (job->state.portOpen == 0) {
      err << "tarvok: " << job->choices->message << " (" << job->state.openFailure << ")\n";
      for (auto& other : jobs) {
        CloseSelectedPort(other->state);
      }
      return kExitBadInput;
    }
    job->progress = &display.Add(job->name);
    job->run = std::make_unique<BurnRun>(*job->progress);
  }

  for (auto& job : jobs) {
    PortJob* raw = job.get();
    raw->worker = std::thread([raw, &options, &loaderFile] {
      raw->status = PrepareAndBurn(*raw, options, loaderFile);
      CloseSelectedPort(raw->state);
      raw->done = true;
    });
  }

  // The one-second tick of every run, and the display, until every worker is done.
  auto nextTick = std::chrono::steady_clock::now() + std::chrono::seconds(1);
  const auto allDone = [&jobs] {
    return std::all_of(jobs.begin(), jobs.end(), [](const auto& job) { return job->done.load(); });
  };
  while (!allDone()) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    if (std::chrono::steady_clock::now() >= nextTick) {
      nextTick += std::chrono::seconds(1);
      for (auto& job : jobs) {
        job->run->OnBurnTick();
      }
    }
    display.Redraw();
  }
  for (auto& job : jobs) {
    job->worker.join();
  }
  display.Redraw();

  bool allOk = true;
  nlohmann::json results = nlohmann::json::array();
  for (const auto& job : jobs) {
    allOk = allOk && job->status == 0;
    if (jobs.size() > 1) {
      human << job->name << ":\n";
    }
    human << (job->status == 0 ? std::string(kBurnSuccessText) : BurnFailureText(job->status))
          << "\n";
    if (job->status != 0) {
      human << ExplainBurnStatus(job->status) << "\n";
    }
    results.push_back(Report(*job, options, imageSize));
  }
  if (options.json) {
    if (results.size() == 1) {
      out << results[0].dump(2) << "\n";
    } else {
      out << nlohmann::json{{"status", allOk ? 0 : 1}, {"results", results}}.dump(2) << "\n";
    }
  }
  return allOk ? kExitSuccess : kExitBurnFailed;
}

}  // namespace tarvok::cli
