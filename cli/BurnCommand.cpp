#include "cli/BurnCommand.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <ostream>
#include <thread>

#include "app/BurnRun.h"
#include "app/PortSetup.h"
#include "app/ProgressText.h"
#include "app/StoppableDevice.h"
#include "cli/BurnReport.h"
#include "cli/LoaderFile.h"
#include "cli/ProgressDisplay.h"
#include "serial/PortDiscovery.h"

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
  std::unique_ptr<StoppableDevice> port;  // the open port as the run sees it
  uint32_t status = 0;
  std::thread worker;
  std::atomic<bool> done{false};
};

// The image is read once, up front, so that a bad one is a usage error and not a burn; every
// port then burns this one read-only copy.
bool LoadImage(const std::string& path, FlashImage& image, std::ostream& err) {
  std::error_code error;
  const auto bytes = std::filesystem::file_size(path, error);
  if (!error && bytes > uint64_t{kHighestFlashAddress} + 1) {
    err << "tarvok: image " << path << " is larger than the 128 MiB the loader can address\n";
    return false;
  }
  std::unique_ptr<uint8_t[]> data;
  uint32_t size = 0;
  uint32_t modifiedTime = 0;
  const uint32_t code = ReadWholeFile(path.c_str(), &data, &size, &modifiedTime);
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
  image.path = path;
  image.data = std::move(data);
  image.size = size;
  image.modifiedTime = modifiedTime;
  return true;
}

// "COM1001" names a port from `tarvok ports`. COM names ignore case, as the port set-up does
// when it opens them: com5 is COM5.
bool IsComName(const std::string& name) {
  return name.size() > 3 && std::toupper(static_cast<unsigned char>(name[0])) == 'C' &&
         std::toupper(static_cast<unsigned char>(name[1])) == 'O' &&
         std::toupper(static_cast<unsigned char>(name[2])) == 'M' && PortNumberOfName(name) != 0;
}

// The device a --port names, or empty when it names none. Anything but a COM name must be a
// path: the port set-up reads a bare word's number from its fourth character on, so "foo5"
// would quietly open COM5.
std::string ResolvePort(const std::string& name) {
  if (IsComName(name)) {
    return DevicePathForPortName(name);
  }
  const bool isPath = name.find('/') != std::string::npos || name.find('\\') != std::string::npos;
  return isPath ? name : std::string();
}

// The device itself, to tell one port given twice: through any symbolic links, and on Windows
// whatever the case of its name (\\.\com5 is \\.\COM5).
std::string DeviceIdentity(const std::string& device) {
#ifdef _WIN32
  std::string identity = device;
  std::transform(identity.begin(), identity.end(), identity.begin(),
                 [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  return identity;
#else
  std::error_code error;
  const std::filesystem::path resolved = std::filesystem::weakly_canonical(device, error);
  return error ? device : resolved.string();
#endif
}

// Every port resolved, each device once; false after a one-line error.
bool ResolvePorts(const BurnOptions& options, std::vector<std::unique_ptr<PortJob>>& jobs,
                  std::ostream& err) {
  std::map<std::string, std::string> nameOfDevice;
  for (const std::string& name : options.ports) {
    auto job = std::make_unique<PortJob>();
    job->name = name;
    job->device = ResolvePort(name);
    if (job->device.empty()) {
      err << "tarvok: no port " << name << " (see 'tarvok ports')\n";
      return false;
    }
    const std::string identity = DeviceIdentity(job->device);
    const auto [earlier, fresh] = nameOfDevice.emplace(identity, name);
    if (!fresh) {
      err << "tarvok: " << earlier->second << " and " << name << " are the same port (" << identity
          << "): give each port once\n";
      return false;
    }
    jobs.push_back(std::move(job));
  }
  return true;
}

// One run over the job's port, with the descriptors prepared as the dialog prepares them but
// sharing the image's bytes, and with the loader from a file when one was given.
uint32_t PrepareAndBurn(PortJob& job, const FlashImage& source, const BurnOptions& options,
                        const std::vector<uint8_t>& loaderFile) {
  std::unique_ptr<FlashImage> image;
  std::unique_ptr<LoaderImage> loader;
  PrepareBurnImages(source, image, loader);
  if (loader && !loaderFile.empty()) {
    loader->LoadEmbedded(loaderFile.data(), static_cast<uint32_t>(loaderFile.size()));
  }
  job.run->burning = 1;
  const uint32_t status =
      job.run->RunBurn(job.port.get(), job.state.burnRateIndex,
                       options.loaderRunning ? nullptr : loader.get(), image.get());
  job.run->burning = 0;
  return status;
}

PortOutcome OutcomeOf(const PortJob& job) {
  PortOutcome outcome;
  outcome.name = job.name;
  outcome.device = job.device;
  outcome.status = job.status;
  // A run that had to be refused anything was cut short, even if the step it cut (the finish
  // command) does not change the status.
  outcome.interrupted = job.port->Stopped();
  outcome.portWentAway = job.port->WentAway();
  outcome.loaderStageSeconds = job.run->LoaderStageSeconds();
  outcome.imageStageSeconds = job.run->ImageStageSeconds();
  outcome.totalSeconds = job.run->TotalSeconds();
  outcome.imageBytesDone = job.run->ImageBytesDone();
  return outcome;
}

}  // namespace

int RunBurnCommand(const BurnOptions& options, std::ostream& out, std::ostream& err,
                   bool interactive, const std::atomic<bool>& stop) {
  FlashImage source;
  if (!LoadImage(options.image, source, err)) {
    return kExitBadInput;
  }
  std::vector<uint8_t> loaderFile;
  if (!options.loaderFile.empty() && !ReadLoaderFile(options.loaderFile, loaderFile, err)) {
    return kExitBadInput;
  }
  std::vector<std::unique_ptr<PortJob>> jobs;
  if (!ResolvePorts(options, jobs, err)) {
    return kExitBadInput;
  }
  // With --json only the JSON object goes to standard output.
  std::ostream& human = options.json ? err : out;
  ProgressDisplay display(human, interactive && !options.json);

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
    if (!job->state.refusedSettings.empty()) {
      err << "tarvok: warning: " << job->name << ": " << job->state.refusedSettings << "\n";
    }
    job->port = std::make_unique<StoppableDevice>(*job->state.portHandle, stop);
    job->progress = &display.Add(job->name, !options.loaderRunning);
    job->run = std::make_unique<BurnRun>(*job->progress);
  }

  for (auto& job : jobs) {
    PortJob* raw = job.get();
    raw->worker = std::thread([raw, &source, &options, &loaderFile] {
      raw->status = PrepareAndBurn(*raw, source, options, loaderFile);
      if (raw->port->Stopped()) {
        raw->port->RestoreLine();
      }
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
    const double imageSeconds = job->run->ImageStageSeconds();
    if (imageSeconds > 0) {
      job->progress->Finish(
          FormatRate(static_cast<uint32_t>(job->run->ImageBytesDone() / imageSeconds)));
    }
  }
  display.Redraw();

  bool allOk = true;
  bool interrupted = false;
  nlohmann::json results = nlohmann::json::array();
  for (const auto& job : jobs) {
    const PortOutcome outcome = OutcomeOf(*job);
    allOk = allOk && outcome.status == 0 && !outcome.interrupted;
    interrupted = interrupted || outcome.interrupted;
    PrintOutcome(human, outcome, options, jobs.size() > 1);
    results.push_back(ReportOf(outcome, options, source.size));
  }
  const int exitCode = interrupted ? kExitInterrupted : allOk ? kExitSuccess : kExitBurnFailed;
  if (options.json) {
    if (results.size() == 1) {
      out << JsonText(results[0]) << "\n";
    } else {
      const char* result = interrupted ? "interrupted" : allOk ? "success" : "failure";
      out << JsonText({{"status", exitCode}, {"result", result}, {"results", results}}) << "\n";
    }
  }
  out.flush();
  return exitCode;
}

}  // namespace tarvok::cli
