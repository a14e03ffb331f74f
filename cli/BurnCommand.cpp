#include "cli/BurnCommand.h"

#include <algorithm>
#include <chrono>
#include <mutex>
#include <ostream>
#include <thread>

#include "app/BurnEngine.h"
#include "app/BurnRun.h"
#include "app/ProgressText.h"
#include "cli/BurnPlan.h"
#include "cli/BurnReport.h"
#include "cli/LatencyWarning.h"
#include "cli/ProgressDisplay.h"

namespace tarvok::cli {
namespace {

// One chip on one port: its request, its display and, once its worker is done, its outcome.
class PortBurn : public BurnRun {
 public:
  PortBurn(const BurnRequest& request, PortProgress& progress)
      : BurnRun(progress), request_(request), progress_(progress) {}

  void Start() {
    worker_ = std::thread([this] {
      outcome_ = Burn(request_, *this);
      done_ = true;
    });
  }
  bool Done() const { return done_; }
  void Join() { worker_.join(); }

  // A warning the port's set-up left, to be printed once by the main thread.
  std::string TakeWarning() {
    const std::lock_guard lock(mutex_);
    return std::exchange(warning_, {});
  }
  // Once the worker is done: why its port did not open (or why the burn refused the request
  // before opening it), to be printed once.
  std::string TakeOpenFailure() {
    if (!done_ || openFailureTaken_ || outcome_.portOpened) {
      return "";
    }
    openFailureTaken_ = true;
    return outcome_.openFailure.empty()
               ? request_.portName + ": " + outcome_.explanation
               : outcome_.openFailure + " (" + outcome_.openFailureReason + ")";
  }
  void OnBurnStart(const std::string& refusedSettings) override {
    {
      const std::lock_guard lock(mutex_);
      warning_ = refusedSettings;
    }
    BurnRun::OnBurnStart(refusedSettings);
  }

  const BurnRequest& Request() const { return request_; }
  const BurnOutcome& Outcome() const { return outcome_; }
  PortProgress& Progress() { return progress_; }

 private:
  const BurnRequest& request_;
  PortProgress& progress_;
  std::thread worker_;
  std::atomic<bool> done_{false};
  BurnOutcome outcome_;
  bool openFailureTaken_ = false;
  std::mutex mutex_;
  std::string warning_;
};

using PortBurns = std::vector<std::unique_ptr<PortBurn>>;

// What the ports' set-ups said, as soon as they said it: a setting the device refused, or a
// port that did not open while the others burn on.
void PrintWarnings(PortBurns& burns, std::ostream& err) {
  for (auto& burn : burns) {
    if (const std::string warning = burn->TakeWarning(); !warning.empty()) {
      err << "tarvok: warning: " << burn->Request().portName << ": " << warning << "\n";
    }
    if (const std::string failure = burn->TakeOpenFailure(); !failure.empty()) {
      err << "tarvok: " << failure << "\n";
    }
  }
}

// Starts every port's worker, then ticks every run once a second and redraws the display
// until every worker is done.
void RunPorts(PortBurns& burns, ProgressDisplay& display, std::ostream& err) {
  for (auto& burn : burns) {
    burn->Start();
  }
  auto nextTick = std::chrono::steady_clock::now() + std::chrono::seconds(1);
  const auto allDone = [&burns] {
    return std::all_of(burns.begin(), burns.end(), [](const auto& burn) { return burn->Done(); });
  };
  while (!allDone()) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    PrintWarnings(burns, err);
    if (std::chrono::steady_clock::now() >= nextTick) {
      nextTick += std::chrono::seconds(1);
      for (auto& burn : burns) {
        burn->OnBurnTick();
      }
    }
    display.Redraw();
  }
  for (auto& burn : burns) {
    burn->Join();
    const BurnOutcome& outcome = burn->Outcome();
    if (outcome.imageStageSeconds > 0) {
      burn->Progress().Finish(
          FormatRate(static_cast<uint32_t>(outcome.imageBytesDone / outcome.imageStageSeconds)));
    }
  }
  PrintWarnings(burns, err);
  display.Redraw();
}

int Report(const PortBurns& burns, const BurnOptions& options, std::ostream& out,
           std::ostream& human, std::ostream& err) {
  const bool noneOpened = std::none_of(burns.begin(), burns.end(),
                                       [](const auto& burn) { return burn->Outcome().portOpened; });
  if (noneOpened) {
    return kExitBadInput;  // no chip was touched: the ports were wrong, not a burn
  }
  bool allOk = true;
  bool interrupted = false;
  nlohmann::json results = nlohmann::json::array();
  for (const auto& burn : burns) {
    const BurnOutcome& outcome = burn->Outcome();
    allOk = allOk && outcome.Succeeded();
    interrupted = interrupted || outcome.interrupted;
    if (outcome.portOpened) {
      PrintOutcome(human, burn->Request(), outcome, burns.size() > 1);
      const BurnRequest& request = burn->Request();
      const uint32_t burnRate =
          request.line.burnRate != 0 ? request.line.burnRate : request.line.romRate;
      if (const std::string slow =
              SlowRoundTripText(request.portName, outcome.networkRoundTripMs, burnRate);
          !slow.empty()) {
        err << "tarvok: " << slow << "\n";
      }
    }
    results.push_back(ReportOf(burn->Request(), outcome));
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
  if (options.json && !out) {
    err << "tarvok: the JSON report could not be written to standard output\n";
    return exitCode == kExitSuccess ? kExitBurnFailed : exitCode;
  }
  return exitCode;
}

}  // namespace

int RunBurnCommand(const BurnOptions& options, std::ostream& out, std::ostream& err,
                   bool interactive, const std::atomic<bool>& stop) {
  BurnPlan plan;
  if (!PlanBurn(options, StopToken(stop), plan, err)) {
    return kExitBadInput;
  }
  // With --json only the JSON object goes to standard output.
  std::ostream& human = options.json ? err : out;
  ProgressDisplay display(human, interactive && !options.json);
  LatencyCheck latency = MachineLatencyCheck();
  for (const BurnRequest& request : plan.requests) {
    if (const std::string line = latency.Check(request.portName, request.devicePath);
        !line.empty()) {
      err << line << "\n";
    }
  }
  PortBurns burns;
  for (const BurnRequest& request : plan.requests) {
    PortProgress& progress = display.Add(request.portName, !request.loaderRunning);
    burns.push_back(std::make_unique<PortBurn>(request, progress));
  }
  RunPorts(burns, display, err);
  return Report(burns, options, out, human, err);
}

}  // namespace tarvok::cli
