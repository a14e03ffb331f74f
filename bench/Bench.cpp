// tarvok-bench: how fast the image stage runs against the simulated chip, next to what the
// line alone allows, and what the host process costs while it runs.
//
// For each image size and burn rate it starts tarvok-sim (wire throttled to the baud rate,
// loader already running) and runs `tarvok burn --json` against it as a separate process,
// so the host's CPU time and peak memory are its own. Each burn runs twice, side by side:
// into the C++ model of the loader, and into our loader firmware on the simulated chip's
// emulated CPU (tarvok-sim --cpu), whose own CPU time is measured too. Then the same at 921600
// behind a USB adapter's latency timer (1 ms in low-latency mode, 16 ms by default).
//
// The cycle-time table burns whole chips: boot-ROM handshake, loader download, image stage,
// read-back and finish, into our firmware on the emulated CPU with the wire throttled, once
// through the boot stage (the loader at the burn rate) and once with --classic (the loader at
// the boot ROM's 9600 baud, no read-back).
//
// The network table burns the same image stage on the pseudo-terminal directly, through
// ser2net on 127.0.0.1 (rfc2217://), and through ser2net behind our delay proxy, which adds
// a round trip as a distant server would.
//
// The image table reads image files of each form (bench/ImageTable.cpp).
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "bench/ImageTable.h"
#include "bench/Ser2netBridge.h"
#include "burn/LineOptions.h"
#include "tools/delay-proxy/DelayProxy.h"
#include "tools/spawn/Spawn.h"

namespace {

namespace fs = std::filesystem;

// A program whose standard output is read and whose errors are dropped.
tarvok::spawn::Spawned Spawn(const std::vector<std::string>& args) {
  tarvok::spawn::SpawnRequest request;
  request.args = args;
  request.err = tarvok::spawn::Sink::kNull;
  return tarvok::spawn::Spawn(request);
}

struct Measurement {
  bool ok = false;
  double imageSeconds = 0;
  double cpuSeconds = 0;
  double simCpuSeconds = 0;
  long peakKiB = 0;
};

double CpuSeconds(const rusage& usage) {
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

struct Programs {
  std::string tarvok;
  std::string sim;
  std::string firmware = TARVOK_FIRMWARE_BLOCK;
  std::string ser2net = "/usr/sbin/ser2net";
};

// One `tarvok burn --json` against one simulated chip: the report (null when the output was
// not one) and what each process used.
struct BurnProcesses {
  nlohmann::json report;
  rusage usage{};
  rusage simUsage{};
};

// A started simulated chip and the pseudo-terminal it made.
struct SimChip {
  tarvok::spawn::Spawned process;
  std::string pty;
};

SimChip StartSim(const std::vector<std::string>& simArgs) {
  SimChip sim{Spawn(simArgs), {}};
  sim.pty = tarvok::spawn::ReadLineFrom(sim.process.out);
  return sim;
}

// Runs tarvok with `hostArgs`, --port `port` and --json, then stops the simulated chip, and
// waits for both.
BurnProcesses RunHost(const SimChip& sim, std::vector<std::string> hostArgs,
                      const std::string& port) {
  BurnProcesses run;
  hostArgs.insert(hostArgs.end(), {"--port", port, "--json"});
  const tarvok::spawn::Spawned host = Spawn(hostArgs);
  const std::string output = tarvok::spawn::ReadRestFrom(host.out);
  int status = 0;
  wait4(host.pid, &status, 0, &run.usage);
  kill(sim.process.pid, SIGTERM);
  wait4(sim.process.pid, nullptr, 0, &run.simUsage);
  close(sim.process.out);
  close(host.out);
  run.report = nlohmann::json::parse(output, nullptr, false);
  return run;
}

// Starts the simulated chip with `simArgs`, then tarvok on its pseudo-terminal.
BurnProcesses RunBurn(const std::vector<std::string>& simArgs, std::vector<std::string> hostArgs) {
  const SimChip sim = StartSim(simArgs);
  return RunHost(sim, std::move(hostArgs), sim.pty);
}

std::vector<std::string> SimArgs(const Programs& programs, bool throttle, uint32_t latencyMs) {
  std::vector<std::string> args = {programs.sim, "--exit-after-burn", "--flash-size",
                                   std::to_string(16 * 1024 * 1024)};
  if (throttle) {
    args.push_back("--throttle");
  }
  if (latencyMs != 0) {
    args.insert(args.end(), {"--latency-ms", std::to_string(latencyMs)});
  }
  return args;
}

bool Succeeded(const nlohmann::json& report) {
  return report.is_object() && report.value("status", -1) == 0;
}

double StageSeconds(const nlohmann::json& report, const char* stage) {
  try {
    return report.at("seconds").at(stage).get<double>();
  } catch (const std::exception&) {
    return 0;
  }
}

Measurement Burn(const Programs& programs, const std::string& image, uint32_t burnRate,
                 bool throttle, bool firmware, uint32_t latencyMs = 0) {
  std::vector<std::string> simArgs = SimArgs(programs, throttle, latencyMs);
  simArgs.push_back("--start-in-loader");
  if (firmware) {
    simArgs.insert(simArgs.end(), {"--cpu", "--ram-loader", programs.firmware});
  }
  const BurnProcesses run = RunBurn(simArgs, {programs.tarvok, "burn", image, "--burn-baud",
                                              std::to_string(burnRate), "--loader-running"});
  Measurement m;
  m.ok = Succeeded(run.report);
  m.imageSeconds = StageSeconds(run.report, "image_stage");
  m.cpuSeconds = CpuSeconds(run.usage);
  m.simCpuSeconds = CpuSeconds(run.simUsage);
  m.peakKiB = run.usage.ru_maxrss;
  return m;
}

// One whole chip: the handshake (with opening the port), the loader download, the image stage
// with the finish, and the cycle they make, as tarvok's own clock measured them.
struct Cycle {
  bool ok = false;
  double handshakeSeconds = 0;
  double loaderSeconds = 0;
  double imageSeconds = 0;
  double readBackSeconds = 0;  // inside the image stage
  double cycleSeconds = 0;
  std::string failure;  // tarvok's message when the burn failed
};

// The built-in loader, through the boot stage or with --classic.
Cycle BurnWholeChip(const Programs& programs, const std::string& image, bool classic,
                    uint32_t latencyMs) {
  std::vector<std::string> simArgs = SimArgs(programs, true, latencyMs);
  simArgs.push_back("--cpu");
  std::vector<std::string> hostArgs = {programs.tarvok, "burn", image, "--burn-baud", "921600"};
  if (classic) {
    hostArgs.push_back("--classic");
  }
  const BurnProcesses run = RunBurn(simArgs, hostArgs);
  Cycle cycle;
  cycle.ok = Succeeded(run.report);
  cycle.loaderSeconds = StageSeconds(run.report, "loader_stage");
  cycle.imageSeconds = StageSeconds(run.report, "image_stage");
  cycle.readBackSeconds = StageSeconds(run.report, "read_back");
  cycle.cycleSeconds = StageSeconds(run.report, "total");
  cycle.handshakeSeconds = cycle.cycleSeconds - cycle.loaderSeconds - cycle.imageSeconds;
  if (!cycle.ok) {
    cycle.failure = run.report.is_object() ? run.report.value("message", "") : "no report";
  }
  return cycle;
}

// How the host reaches the chip in a row of the network table: its pseudo-terminal, or
// ser2net serving it, possibly behind the delay proxy's added round trip.
struct NetworkPath {
  bool throughServer = false;
  std::optional<uint32_t> addedRoundTripMs;
  tarvok::bench::Ser2netSettings server;
};

NetworkPath ThroughServer(bool tcpNoDelay, bool charDelay,
                          std::optional<uint32_t> addedRoundTripMs = std::nullopt) {
  NetworkPath path;
  path.throughServer = true;
  path.server.tcpNoDelay = tcpNoDelay;
  path.server.charDelay = charDelay;
  path.addedRoundTripMs = addedRoundTripMs;
  return path;
}

struct NetworkMeasurement {
  bool ok = false;
  double imageSeconds = 0;
  uint32_t measuredRoundTripMs = 0;  // as the burn itself measured it
  std::string failure;
};

// The port name through which the path reaches `pty`, starting what it needs into `server`
// and `proxy`; empty when something did not start.
std::string ReachChip(const Programs& programs, const std::string& pty, const NetworkPath& path,
                      std::optional<tarvok::bench::Ser2netBridge>& server,
                      std::unique_ptr<tarvok::delayproxy::DelayProxy>& proxy) {
  if (!path.throughServer) {
    return pty;
  }
  server.emplace(programs.ser2net, pty, path.server);
  if (server->Port() == 0) {
    return "";
  }
  if (!path.addedRoundTripMs) {
    return server->PortName();
  }
  tarvok::delayproxy::ProxyStart started{};
  proxy = tarvok::delayproxy::DelayProxy::Start(
      {.targetPort = server->Port(), .addedRoundTripUs = *path.addedRoundTripMs * 1000}, started);
  return proxy ? "rfc2217://127.0.0.1:" + std::to_string(proxy->Port()) : "";
}

// The image stage at 921600 into our firmware on the emulated CPU, wire throttled, over `path`.
NetworkMeasurement BurnOverPath(const Programs& programs, const std::string& image,
                                const NetworkPath& path) {
  std::vector<std::string> simArgs = SimArgs(programs, true, 0);
  simArgs.insert(simArgs.end(), {"--start-in-loader", "--cpu", "--ram-loader", programs.firmware});
  const SimChip sim = StartSim(simArgs);
  std::optional<tarvok::bench::Ser2netBridge> server;
  std::unique_ptr<tarvok::delayproxy::DelayProxy> proxy;
  const std::string port = ReachChip(programs, sim.pty, path, server, proxy);
  NetworkMeasurement m;
  if (port.empty()) {
    m.failure = server && server->Port() == 0 ? "ser2net did not listen" : "no delay proxy";
  }
  // Run even without a port, which stops the simulated chip.
  const BurnProcesses run =
      RunHost(sim, {programs.tarvok, "burn", image, "--burn-baud", "921600", "--loader-running"},
              port.empty() ? "rfc2217://127.0.0.1:0" : port);
  m.ok = port.empty() ? false : Succeeded(run.report);
  m.imageSeconds = StageSeconds(run.report, "image_stage");
  if (run.report.is_object()) {
    m.measuredRoundTripMs = run.report.value("network_round_trip_ms", 0u);
    if (!m.ok && m.failure.empty()) {
      m.failure = run.report.value("message", "");
    }
  } else if (m.failure.empty()) {
    m.failure = "no report";
  }
  return m;
}

// What the line alone needs for the image stage: the header, each block with its sum and
// reply, and the trailer, at 10 bits a byte.
double WireBoundSeconds(uint64_t size, uint32_t rate) {
  const uint64_t blocks = (size - 4 + 1023) / 1024;
  const uint64_t bytes = 9 + 2 + (size - 4) + blocks * 3 + 2;
  return static_cast<double>(bytes) * 10 / rate;
}

struct BenchOptions {
  std::vector<uint32_t> sizesKiB = {64, 1024, 4096};
  std::vector<uint32_t> rates;
  std::vector<uint32_t> latencies = {1, 16};
  std::vector<uint32_t> cycleSizesKiB = {256, 1024};
  std::vector<uint32_t> cycleLatencies = {0, 1, 16};
  std::vector<std::string> tables = {"throttled", "latency", "unthrottled", "cycle"};
  uint32_t networkSizeKiB = 1024;
  std::vector<uint32_t> networkRoundTripsMs = {1, 5, 20};
  uint32_t networkRepeats = 1;
};

bool Wanted(const BenchOptions& options, const std::string& table) {
  return std::find(options.tables.begin(), options.tables.end(), table) != options.tables.end();
}

std::string ImagePath(uint32_t kib) {
  return "/tmp/tarvok-bench/image-" + std::to_string(kib) + ".bin";
}

// One image of random bytes per size, the same bytes every run.
void WriteImages(const std::vector<uint32_t>& sizesKiB) {
  fs::create_directories("/tmp/tarvok-bench");
  std::mt19937 random(1);
  for (const uint32_t kib : sizesKiB) {
    const uint64_t size = uint64_t{kib} * 1024;
    std::vector<char> bytes(size);
    for (char& b : bytes)
      b = static_cast<char>(random());
    std::ofstream(ImagePath(kib), std::ios::binary)
        .write(bytes.data(), static_cast<std::streamsize>(size));
  }
}

// Each size at each rate, into the loader model and into our firmware, wire throttled.
void PrintThrottledTable(const Programs& programs, const BenchOptions& options) {
  std::printf("%-8s %-8s %-8s %9s %9s %12s %8s %10s %8s %9s %10s\n", "image", "rate", "loader",
              "stage s", "wire s", "bytes/s", "of bound", "CPU ms/MiB", "CPU %", "peak MiB",
              "sim ms/MiB");
  for (const uint32_t kib : options.sizesKiB) {
    const uint64_t size = uint64_t{kib} * 1024;
    for (const uint32_t rate : options.rates) {
      for (const bool firmware : {false, true}) {
        const Measurement m = Burn(programs, ImagePath(kib), rate, true, firmware);
        const double bound = WireBoundSeconds(size, rate);
        const double mib = static_cast<double>(size) / (1024 * 1024);
        std::printf("%-8s %-8u %-8s %9.2f %9.2f %12.0f %7.1f%% %10.1f %7.2f%% %9.1f %10.1f%s\n",
                    (std::to_string(kib) + "K").c_str(), rate, firmware ? "firmware" : "model",
                    m.imageSeconds, bound, static_cast<double>(size) / m.imageSeconds,
                    100 * bound / m.imageSeconds, 1000 * m.cpuSeconds / mib,
                    100 * m.cpuSeconds / m.imageSeconds, static_cast<double>(m.peakKiB) / 1024,
                    1000 * m.simCpuSeconds / mib, m.ok ? "" : "  FAILED");
        std::fflush(stdout);
      }
    }
  }
}

// Every block waits for its one-byte reply, which a USB adapter hands over only when its
// latency timer fires: each block costs up to one timer period on top of its line time.
void PrintLatencyTable(const Programs& programs, const BenchOptions& options) {
  if (options.latencies.empty()) {
    return;
  }
  std::printf("\nAdapter latency at 921600 (the chip's answers leave in bursts):\n");
  std::printf("%-8s %-8s %10s %10s %12s %8s\n", "image", "latency", "stage s", "wire s", "bytes/s",
              "of bound");
  for (const uint32_t kib : options.sizesKiB) {
    const uint64_t size = uint64_t{kib} * 1024;
    for (const uint32_t latency : options.latencies) {
      const Measurement m = Burn(programs, ImagePath(kib), 921600, true, false, latency);
      const double bound = WireBoundSeconds(size, 921600);
      std::printf("%-8s %-8s %10.2f %10.2f %12.0f %7.1f%%%s\n", (std::to_string(kib) + "K").c_str(),
                  (std::to_string(latency) + " ms").c_str(), m.imageSeconds, bound,
                  static_cast<double>(size) / m.imageSeconds, 100 * bound / m.imageSeconds,
                  m.ok ? "" : "  FAILED");
      std::fflush(stdout);
    }
  }
}

// Whole chips at 921600 into our firmware on the emulated CPU, wire throttled: what one chip
// costs a port through the boot stage with the read-back, and with --classic.
void PrintCycleTable(const Programs& programs, const BenchOptions& options) {
  std::printf(
      "\nCycle time per chip at 921600 (handshake, loader, image with read-back and finish; "
      "firmware on the emulated CPU, wire throttled):\n");
  std::printf("%-8s %-8s %-8s %11s %9s %9s %11s %9s %10s\n", "image", "latency", "mode",
              "handshake s", "loader s", "image s", "read-back s", "cycle s", "chips/h");
  for (const uint32_t kib : options.cycleSizesKiB) {
    for (const uint32_t latency : options.cycleLatencies) {
      for (const bool classic : {false, true}) {
        const Cycle c = BurnWholeChip(programs, ImagePath(kib), classic, latency);
        std::printf("%-8s %-8s %-8s %11.2f %9.2f %9.2f %11.3f %9.2f %10.0f%s\n",
                    (std::to_string(kib) + "K").c_str(),
                    latency == 0 ? "none" : (std::to_string(latency) + " ms").c_str(),
                    classic ? "classic" : "stage", c.handshakeSeconds, c.loaderSeconds,
                    c.imageSeconds, c.readBackSeconds, c.cycleSeconds,
                    c.cycleSeconds > 0 ? 3600 / c.cycleSeconds : 0.0,
                    c.ok ? "" : ("  FAILED: " + c.failure).c_str());
        std::fflush(stdout);
      }
    }
  }
}

// The best of `repeats` burns over `path` (the shortest image stage; a shared machine only
// ever slows a burn down).
NetworkMeasurement BestOverPath(const Programs& programs, const std::string& image,
                                const NetworkPath& path, uint32_t repeats) {
  NetworkMeasurement best;
  for (uint32_t i = 0; i < std::max(repeats, 1u); ++i) {
    const NetworkMeasurement m = BurnOverPath(programs, image, path);
    if (i == 0 || (m.ok && (!best.ok || m.imageSeconds < best.imageSeconds))) {
      best = m;
    }
  }
  return best;
}

// The same image stage on the pseudo-terminal; through ser2net as it comes, with TCP_NODELAY
// on its side (tcp(nodelay)), and configured as the README shows, without its character
// delay (tuned); and through that tuned ser2net behind each added round trip: what the
// network costs.
void PrintNetworkTable(const Programs& programs, const BenchOptions& options) {
  const uint32_t kib = options.networkSizeKiB;
  std::printf(
      "\nNetwork at 921600 (%uK into our firmware on the emulated CPU, wire throttled; best of "
      "%u):\n",
      kib, std::max(options.networkRepeats, 1u));
  std::printf("%-16s %9s %9s %12s %10s %12s\n", "path", "added RTT", "stage s", "bytes/s",
              "of direct", "measured RTT");
  std::vector<std::pair<std::string, NetworkPath>> paths = {
      {"pty", NetworkPath{}},
      {"ser2net", ThroughServer(false, true)},
      {"ser2net nodelay", ThroughServer(true, true)},
      {"ser2net tuned", ThroughServer(false, false)}};
  for (const uint32_t ms : options.networkRoundTripsMs) {
    paths.push_back({"tuned + delay", ThroughServer(false, false, ms)});
  }
  double direct = 0;
  for (const auto& [name, path] : paths) {
    const NetworkMeasurement m =
        BestOverPath(programs, ImagePath(kib), path, options.networkRepeats);
    if (!path.throughServer && m.ok) {
      direct = m.imageSeconds;
    }
    const double rate = m.imageSeconds > 0 ? uint64_t{kib} * 1024 / m.imageSeconds : 0;
    std::printf(
        "%-16s %9s %9.2f %12.0f %9.1f%% %9u ms%s\n", name.c_str(),
        path.addedRoundTripMs ? (std::to_string(*path.addedRoundTripMs) + " ms").c_str() : "-",
        m.imageSeconds, rate, m.imageSeconds > 0 ? 100 * direct / m.imageSeconds : 0.0,
        m.measuredRoundTripMs, m.ok ? "" : ("  FAILED: " + m.failure).c_str());
    std::fflush(stdout);
  }
}

void PrintUnthrottledTable(const Programs& programs, const BenchOptions& options) {
  std::printf("\nUnthrottled (the host's own cost per block):\n");
  for (const uint32_t kib : options.sizesKiB) {
    for (const bool firmware : {false, true}) {
      const Measurement m = Burn(programs, ImagePath(kib), 921600, false, firmware);
      const double mib = static_cast<double>(kib) / 1024;
      std::printf("%-8s %-8s %10.3f s %10.2f MiB/s  sim %8.1f ms/MiB%s\n",
                  (std::to_string(kib) + "K").c_str(), firmware ? "firmware" : "model",
                  m.imageSeconds, mib / m.imageSeconds, 1000 * m.simCpuSeconds / mib,
                  m.ok ? "" : "  FAILED");
    }
  }
}

// Every image size the chosen tables burn, each once.
std::vector<uint32_t> ImageSizesOf(const BenchOptions& options) {
  std::vector<uint32_t> imageSizes = options.sizesKiB;
  if (Wanted(options, "network")) {
    imageSizes.push_back(options.networkSizeKiB);
  }
  if (Wanted(options, "cycle")) {
    for (const uint32_t kib : options.cycleSizesKiB) {
      if (std::find(imageSizes.begin(), imageSizes.end(), kib) == imageSizes.end()) {
        imageSizes.push_back(kib);
      }
    }
  }
  return imageSizes;
}

}  // namespace

int main(int argc, char** argv) {
  // Beside this program's folder in the build tree: cli/tarvok and sim/tarvok-sim.
  const fs::path buildDir = fs::absolute(argv[0]).parent_path().parent_path();
  Programs programs{(buildDir / "cli" / "tarvok").string(),
                    (buildDir / "sim" / "tarvok-sim").string()};
  BenchOptions options;
  for (const auto& rate : tarvok::kBurnRates) {
    options.rates.push_back(rate.value);
  }
  CLI::App app{"Image-stage speed and cycle time of tarvok against the simulated chip"};
  app.add_option("--tarvok", programs.tarvok, "the tarvok program to measure");
  app.add_option("--sim", programs.sim, "the simulated chip");
  app.add_option("--firmware", programs.firmware, "the loader firmware for the emulated CPU");
  app.add_option("--ser2net", programs.ser2net, "the serial server of the network table");
  app.add_option("--sizes", options.sizesKiB, "image sizes in KiB");
  app.add_option("--rates", options.rates, "burn rates");
  app.add_option("--latencies", options.latencies,
                 "USB adapter latency timers (ms) to measure at 921600; none for no such rows");
  app.add_option("--cycle-sizes", options.cycleSizesKiB, "image sizes in KiB of the cycle table");
  app.add_option("--cycle-latencies", options.cycleLatencies,
                 "USB adapter latency timers (ms) of the cycle table; 0 for none");
  app.add_option("--network-size", options.networkSizeKiB,
                 "image size in KiB of the network table");
  app.add_option("--network-rtts", options.networkRoundTripsMs,
                 "round trips (ms) the delay proxy adds in the network table");
  app.add_option("--network-repeats", options.networkRepeats,
                 "burns per row of the network table, of which the fastest counts");
  app.add_option("--tables", options.tables,
                 "the tables to measure (network, through ser2net, and image, reading image "
                 "files, only when named)")
      ->check(CLI::IsMember({"throttled", "latency", "unthrottled", "cycle", "network", "image"}));
  CLI11_PARSE(app, argc, argv);

  WriteImages(ImageSizesOf(options));
  if (Wanted(options, "throttled")) {
    PrintThrottledTable(programs, options);
  }
  if (Wanted(options, "latency")) {
    PrintLatencyTable(programs, options);
  }
  if (Wanted(options, "unthrottled")) {
    PrintUnthrottledTable(programs, options);
  }
  if (Wanted(options, "cycle")) {
    PrintCycleTable(programs, options);
  }
  if (Wanted(options, "network")) {
    PrintNetworkTable(programs, options);
  }
  if (Wanted(options, "image")) {
    tarvok::bench::PrintImageTable();
  }
  fs::remove_all("/tmp/tarvok-bench");
  return 0;
}
