#include "python/ModuleBurn.h"

#include <pybind11/stl.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "app/BootStageFile.h"
#include "app/BurnEngine.h"
#include "app/PortIdentity.h"
#include "app/ReadBackWords.h"
#include "burn/BurnFiles.h"
#include "python/ModuleImage.h"
#include "serial/PortDiscovery.h"

namespace py = pybind11;

namespace tarvok::python {
namespace {

// How often a waiting burn() lets Python run its signal handlers (Ctrl-C).
constexpr std::chrono::milliseconds kSignalSlice{50};

// What came of one burn, as Python reads it.
struct Outcome {
  std::string port;
  std::string device;
  bool portOpened = false;
  bool succeeded = false;
  uint32_t status = 0;
  uint32_t stepResult = 0;
  std::string summary;
  std::string explanation;
  std::string refusedSettings;
  bool interrupted = false;
  bool portWentAway = false;
  bool bootStageUsed = false;
  ReadBack readBack = ReadBack::kNotAsked;
  uint32_t imageCrc = 0;
  std::optional<uint32_t> flashCrc;
  double loaderSeconds = 0;
  double imageSeconds = 0;
  double readBackSeconds = 0;
  double totalSeconds = 0;
  uint32_t imageBytes = 0;
  uint32_t networkRoundTripMs = 0;
};

// The arguments of one burn() as Python gave them.
struct BurnArguments {
  py::object image;
  std::string port;
  py::object burnBaud;
  py::object romBaud;
  py::object dataBits;
  py::object parity;
  py::object stopBits;
  py::object loader;
  py::object bootStage;
  bool classic = false;
  bool loaderRunning = false;
  uint32_t flashBase = 0;
  py::object progress;
};

std::string TypeName(const py::handle& value) {
  return py::str(py::type::handle_of(value).attr("__name__")).cast<std::string>();
}

// The word of a setting given as its word ("921600", "odd", "1.5") or, where `numeric`, as
// the number itself (921600, 1.5).
std::string SettingWord(const std::string& name, const py::handle& given, bool numeric) {
  if (py::isinstance<py::str>(given)) {
    return given.cast<std::string>();
  }
  if (numeric && !py::isinstance<py::bool_>(given)) {
    if (py::isinstance<py::int_>(given)) {
      return py::str(given).cast<std::string>();
    }
    if (py::isinstance<py::float_>(given)) {
      const bool whole = given.attr("is_integer")().cast<bool>();
      const py::object number =
          whole ? py::object(py::int_(py::reinterpret_borrow<py::object>(given)))
                : py::reinterpret_borrow<py::object>(given);
      return py::str(number).cast<std::string>();
    }
  }
  throw py::type_error(name + " must be " + (numeric ? "a number or its word" : "a word") +
                       ", not " + TypeName(given));
}

// The setting `given` names among `options`, the command line's table; ValueError naming the
// choices when it names none.
template <typename Value, std::size_t N>
Value SettingOf(const std::string& name, const py::handle& given,
                const std::array<LineOption<Value>, N>& options, bool numeric = true) {
  const std::string word = SettingWord(name, given, numeric);
  if (const std::optional<Value> value = OptionByWord(options, word)) {
    return *value;
  }
  std::string choices;
  for (const auto& option : options) {
    choices += (choices.empty() ? "" : ", ") + std::string(option.word);
  }
  throw py::value_error(name + " " + py::repr(given).cast<std::string>() +
                        " is not supported: one of " + choices);
}

BurnLine LineOf(const BurnArguments& arguments) {
  BurnLine line;
  line.burnRate = SettingOf("burn_baud", arguments.burnBaud, kBurnRates);
  line.romRate = SettingOf("rom_baud", arguments.romBaud, kRomRates);
  line.dataBits = SettingOf("data_bits", arguments.dataBits, kDataBitsOptions);
  line.parity = SettingOf("parity", arguments.parity, kParityOptions, false);
  line.stopBits = SettingOf("stop_bits", arguments.stopBits, kStopBitsOptions);
  return line;
}

using ReadBytes = std::string (*)(const std::string&, std::vector<uint8_t>&);

// The loader or boot stage file `given` names, read by `read`; null for None.
std::shared_ptr<const std::vector<uint8_t>> ProgramOf(const char* what, ReadBytes read,
                                                      const py::handle& given) {
  if (given.is_none()) {
    return nullptr;
  }
  const std::string path = PathOf(given);
  std::error_code error;
  if (!std::filesystem::exists(path, error)) {
    PyErr_SetString(PyExc_FileNotFoundError,
                    (std::string(what) + " " + path + ": no such file").c_str());
    throw py::error_already_set();
  }
  auto bytes = std::make_shared<std::vector<uint8_t>>();
  if (const std::string problem = read(path, *bytes); !problem.empty()) {
    throw py::value_error(std::string(what) + " " + path + " " + problem);
  }
  return bytes;
}

// The image to burn: an Image as it is, or the file a path names read with `flashBase`.
std::shared_ptr<const FlashImage> ImageOf(const py::handle& given, uint32_t flashBase) {
  if (py::isinstance<Image>(given)) {
    const Image& image = given.cast<const Image&>();
    if (flashBase != 0 && flashBase != image.Flash()->layout.flashBase) {
      throw py::value_error(
          "flash_base applies to an image read from a path: this Image was "
          "read with its own (tarvok.Image(path, flash_base=...))");
    }
    return image.Flash();
  }
  return Image::Read(PathOf(given), flashBase).Flash();
}

// The request burn() makes of its arguments, checked before any port is opened, as the
// command line checks its own: ValueError, TypeError or FileNotFoundError when it cannot burn.
BurnRequest RequestOf(const BurnArguments& arguments, const std::atomic<bool>& stop) {
  if (!arguments.bootStage.is_none() && arguments.loader.is_none()) {
    throw py::value_error("boot_stage needs loader: the built-in loader brings its own boot stage");
  }
  if (!arguments.bootStage.is_none() && arguments.classic) {
    throw py::value_error("boot_stage and classic exclude each other: classic uses no boot stage");
  }
  if (!arguments.loader.is_none() && arguments.loaderRunning) {
    throw py::value_error(
        "loader and loader_running exclude each other: a running loader is "
        "not downloaded");
  }
  if (!arguments.progress.is_none() && !PyCallable_Check(arguments.progress.ptr())) {
    throw py::type_error("progress must be callable, not " + TypeName(arguments.progress));
  }
  BurnRequest request;
  request.line = LineOf(arguments);
  request.portName = arguments.port;
  request.devicePath = ResolvePort(arguments.port);
  if (request.devicePath.empty()) {
    throw py::value_error("no port " + arguments.port + " (see tarvok.ports())");
  }
  request.image = ImageOf(arguments.image, arguments.flashBase);
  request.loader = ProgramOf("loader", ReadLoaderFile, arguments.loader);
  request.bootStage = ProgramOf("boot stage", ReadBootStageFile, arguments.bootStage);
  request.classic = arguments.classic;
  request.loaderRunning = arguments.loaderRunning;
  request.stop = StopToken(stop);
  if (const std::string problem = ProblemWithRequest(request); !problem.empty()) {
    throw py::value_error(problem);
  }
  return request;
}

// Hands the burn's progress to a Python callable, on the burning thread with the GIL held. An
// exception from it stops the burn; burn() raises it once the chip has been left alone.
class PythonProgress : public BurnProgressSink {
 public:
  PythonProgress(py::object callback, std::atomic<bool>& stop)
      : callback_(std::move(callback)), wanted_(!callback_.is_none()), stop_(stop) {}

  void OnStageProgress(BurnStage stage, uint8_t percent, uint32_t done, uint32_t total) override {
    if (!wanted_ || error_) {
      return;
    }
    const py::gil_scoped_acquire gil;
    try {
      callback_(stage == BurnStage::kLoader ? "loader" : "image", percent, done, total);
    } catch (py::error_already_set& error) {
      error_.emplace(std::move(error));
      stop_ = true;
    }
  }
  // Once the burn has ended.
  std::optional<py::error_already_set>& Error() { return error_; }

 private:
  py::object callback_;
  const bool wanted_;
  std::atomic<bool>& stop_;
  std::optional<py::error_already_set> error_;
};

// Runs the burn on a thread of its own while the caller's thread waits with the GIL released,
// taking it back every slice to let Python run its signal handlers. A handler's exception
// (KeyboardInterrupt) stops the burn at its next byte; it is returned, to be raised once the
// chip has been left alone. Called with the GIL held.
BurnOutcome RunBurn(const BurnRequest& request, PythonProgress& sink, std::atomic<bool>& stop,
                    std::optional<py::error_already_set>& signalled) {
  BurnOutcome outcome;
  const py::gil_scoped_release release;
  std::mutex mutex;
  std::condition_variable ended;
  bool done = false;
  std::thread worker([&] {
    BurnOutcome result = Burn(request, sink);
    const std::lock_guard lock(mutex);
    outcome = std::move(result);
    done = true;
    ended.notify_all();
  });
  std::unique_lock lock(mutex);
  while (!ended.wait_for(lock, kSignalSlice, [&done] { return done; })) {
    if (signalled) {
      continue;  // stopping already
    }
    lock.unlock();
    {
      const py::gil_scoped_acquire gil;
      if (PyErr_CheckSignals() != 0) {
        signalled.emplace();
        stop = true;
      }
    }
    lock.lock();
  }
  lock.unlock();
  worker.join();
  return outcome;
}

Outcome OutcomeOf(const BurnRequest& request, const BurnOutcome& burn) {
  Outcome outcome{
      .port = request.portName,
      .device = request.devicePath,
      .portOpened = burn.portOpened,
      .succeeded = burn.Succeeded(),
      .status = burn.status,
      .stepResult = burn.stepResult,
      .summary = burn.summary,
      .explanation = burn.explanation,
      .refusedSettings = burn.refusedSettings,
      .interrupted = burn.interrupted,
      .portWentAway = burn.portWentAway,
      .bootStageUsed = burn.bootStageUsed,
      .readBack = burn.readBack,
      .imageCrc = Image(request.image).Crc32(),
      .flashCrc = FlashCrcOf(burn),
      .loaderSeconds = burn.loaderStageSeconds,
      .imageSeconds = burn.imageStageSeconds,
      .readBackSeconds = burn.readBackSeconds,
      .totalSeconds = burn.totalSeconds,
      .imageBytes = burn.imageBytesDone,
      .networkRoundTripMs = burn.networkRoundTripMs,
  };
  if (!burn.openFailure.empty()) {
    outcome.explanation =
        burn.openFailure + " (" + burn.openFailureReason + "): " + outcome.explanation;
  }
  return outcome;
}

// The outcome on the exception that ended a burn, as `outcome`, where the exception takes it.
void AttachOutcome(py::error_already_set& error, const Outcome& outcome) {
  try {
    py::setattr(error.value(), "outcome", py::cast(outcome));
  } catch (py::error_already_set&) {
    // An exception without attributes of its own goes up as it is.
  }
}

Outcome BurnWith(const BurnArguments& arguments) {
  std::atomic<bool> stop{false};
  const BurnRequest request = RequestOf(arguments, stop);
  PythonProgress sink(arguments.progress, stop);
  std::optional<py::error_already_set> signalled;
  const BurnOutcome burn = RunBurn(request, sink, stop, signalled);
  const Outcome outcome = OutcomeOf(request, burn);
  if (signalled || sink.Error()) {
    py::error_already_set& error = signalled ? *signalled : *sink.Error();
    AttachOutcome(error, outcome);
    throw error;
  }
  return outcome;
}

// The read-back as Python names its members (not_asked, no_answer): identifiers, not the
// reports' words.
const char* ReadBackMemberName(ReadBack readBack) {
  switch (readBack) {
    case ReadBack::kMatched:
      return "matched";
    case ReadBack::kDiffers:
      return "differs";
    case ReadBack::kNoAnswer:
      return "no_answer";
    case ReadBack::kNotAsked:
      break;
  }
  return "not_asked";
}

std::string OutcomeRepr(const Outcome& outcome) {
  const std::string port = py::repr(py::str(outcome.port)).cast<std::string>();
  const std::string seconds = py::str(py::float_(outcome.totalSeconds)).cast<std::string>();
  std::string text = "<tarvok.Outcome " + port + " ";
  if (outcome.succeeded) {
    text += "succeeded: " + std::to_string(outcome.imageBytes) + " bytes, read back " +
            ReadBackMemberName(outcome.readBack);
  } else {
    text += std::string(outcome.interrupted ? "interrupted" : "failed") + ": status " +
            std::to_string(outcome.status) + ", " +
            py::repr(py::str(outcome.explanation)).cast<std::string>();
  }
  return text + ", " + seconds + " s>";
}

std::string PortRepr(const PortInfo& port) {
  return "<tarvok.Port COM" + std::to_string(port.number) + " " +
         py::repr(py::str(port.device)).cast<std::string>() + ">";
}

void BindPorts(py::module_& module) {
  py::class_<PortInfo>(module, "Port", "A serial port of this machine, as discovery finds it.")
      .def_property_readonly(
          "name", [](const PortInfo& port) { return "COM" + std::to_string(port.number); },
          "The port's name, as 'tarvok ports' shows it and burn() takes it: 'COM101'.")
      .def_readonly("number", &PortInfo::number, "The number in the port's name.")
      .def_readonly("device", &PortInfo::device,
                    "The device opened: '/dev/ttyUSB0', or a network port's name.")
      .def_readonly("description", &PortInfo::description,
                    "What the system knows of the port (USB vendor, product); may be empty.")
      .def_property_readonly(
          "latency_timer_ms",
          [](const PortInfo& port) {
            return port.latencyTimerMs < 0 ? std::nullopt : std::optional<int>(port.latencyTimerMs);
          },
          "The USB adapter's latency timer in milliseconds, or None when it shows none.")
      .def_readonly("usb_serial", &PortInfo::usbSerial,
                    "The USB adapter's serial number; empty when unknown.")
      .def("__repr__", &PortRepr);
  module.def(
      "ports",
      [] {
        const py::gil_scoped_release release;
        return DiscoverSerialPorts();
      },
      R"(The machine's serial ports, by number.

Also the ports named in the environment variable TARVOK_EXTRA_PORTS (':'-separated device
paths and network ports such as rfc2217://host:port), numbered from 1001.)");
}

template <typename Field>
void ReadOnly(py::class_<Outcome>& outcome, const char* name, Field Outcome::*field,
              const char* doc) {
  outcome.def_readonly(name, field, doc);
}

void BindOutcome(py::module_& module) {
  py::enum_<ReadBack>(module, "ReadBack", "Whether the flash was read back, and what it said.")
      .value("not_asked", ReadBack::kNotAsked,
             "The loader does not read back, classic was asked, or the burn ended before.")
      .value("matched", ReadBack::kMatched, "The flash's CRC-32 is the image's.")
      .value("differs", ReadBack::kDiffers, "The flash's CRC-32 is not the image's.")
      .value("no_answer", ReadBack::kNoAnswer, "The loader did not answer the read-back.");
  py::class_<Outcome> outcome(module, "Outcome",
                              "What came of one burn. A burn that fails is an outcome too.");
  ReadOnly(outcome, "port", &Outcome::port, "The port as burn() was given it.");
  ReadOnly(outcome, "device", &Outcome::device, "The device that was opened.");
  ReadOnly(outcome, "port_opened", &Outcome::portOpened, "Whether the port opened at all.");
  ReadOnly(outcome, "succeeded", &Outcome::succeeded, "The chip took the image.");
  ReadOnly(outcome, "status", &Outcome::status, "The burn status: 0 for success.");
  ReadOnly(outcome, "step_result", &Outcome::stepResult, "The failing step's own code, or 0.");
  ReadOnly(outcome, "summary", &Outcome::summary, "'Burn Flash Img Success !' or its failure.");
  ReadOnly(outcome, "explanation", &Outcome::explanation,
           "What the chip confirmed, or what failed and what to check.");
  ReadOnly(outcome, "refused_settings", &Outcome::refusedSettings,
           "The line settings the device did not take; empty when it took them all.");
  ReadOnly(outcome, "interrupted", &Outcome::interrupted,
           "Stopped by Ctrl-C or by an exception from the progress callable.");
  ReadOnly(outcome, "port_went_away", &Outcome::portWentAway,
           "The device disappeared or hung up under the burn.");
  ReadOnly(outcome, "boot_stage_used", &Outcome::bootStageUsed,
           "The loader came in through a boot stage.");
  ReadOnly(outcome, "read_back", &Outcome::readBack, "Whether the flash was read back.");
  ReadOnly(outcome, "image_crc", &Outcome::imageCrc, "CRC-32 of the image burned.");
  ReadOnly(outcome, "flash_crc", &Outcome::flashCrc,
           "CRC-32 the loader read from the flash; None unless the flash was read back.");
  ReadOnly(outcome, "loader_seconds", &Outcome::loaderSeconds, "The loader stage; 0 if none.");
  ReadOnly(outcome, "image_seconds", &Outcome::imageSeconds, "The image stage; 0 if none.");
  ReadOnly(outcome, "read_back_seconds", &Outcome::readBackSeconds,
           "The flash read-back, inside the image stage.");
  ReadOnly(outcome, "total_seconds", &Outcome::totalSeconds, "The whole burn.");
  ReadOnly(outcome, "image_bytes", &Outcome::imageBytes, "Bytes of the image that went in.");
  ReadOnly(outcome, "network_round_trip_ms", &Outcome::networkRoundTripMs,
           "The round trip to a network port's server; 0 for a local port.");
  outcome.def("__repr__", &OutcomeRepr);
}

// A default from the burn's own defaults, as a number where its word is one.
py::object DefaultSetting(const char* word) {
  const std::string text = word;
  if (text.find('.') != std::string::npos) {
    return py::float_(std::stod(text));
  }
  return py::int_(std::stoul(text));
}

constexpr const char* kBurnDoc = R"(Burns `image` into the chip on `port`; returns an Outcome.

image: a path (str or os.PathLike) or a tarvok.Image.
port: a name as `tarvok burn --port` takes it: '/dev/ttyUSB0', 'COM101', 'rfc2217://host:port'.
burn_baud, rom_baud, data_bits, parity, stop_bits: the line settings `tarvok burn` takes, as
numbers or as its words ('921600', 'odd', '1.5').
loader, boot_stage: files of a RAM loader other than the one built in, and of the boot stage
that brings it in; classic: speak to the loader as to one without additions.
loader_running: the loader was started by other means and is about to greet.
flash_base: the bus address of flash address 0, for an image read from a path.
progress: called as progress(stage, percent, done, total) with stage 'loader' or 'image', on
the burning thread; an exception from it stops the burn and is raised once the chip has been
left alone, with the outcome as its `outcome` attribute.

A failed burn is an Outcome with succeeded False, never an exception. Bad arguments raise
ValueError, TypeError or FileNotFoundError before any port is opened. Ctrl-C stops the burn at
its next byte and raises KeyboardInterrupt, its `outcome` attribute saying interrupted. The GIL
is released while the burn runs: several threads may burn at once.)";

}  // namespace

void BindBurn(py::module_& module) {
  BindPorts(module);
  BindOutcome(module);
  const BurnLine defaults;
  module.def(
      "burn",
      [](py::object image, std::string port, py::object burnBaud, py::object romBaud,
         py::object dataBits, py::object parity, py::object stopBits, py::object loader,
         py::object bootStage, bool classic, bool loaderRunning, uint32_t flashBase,
         py::object progress) {
        return BurnWith(BurnArguments{std::move(image), std::move(port), std::move(burnBaud),
                                      std::move(romBaud), std::move(dataBits), std::move(parity),
                                      std::move(stopBits), std::move(loader), std::move(bootStage),
                                      classic, loaderRunning, flashBase, std::move(progress)});
      },
      py::arg("image"), py::arg("port"), py::kw_only(),
      py::arg("burn_baud") = DefaultSetting(WordOf(kBurnRates, defaults.burnRate)),
      py::arg("rom_baud") = DefaultSetting(WordOf(kRomRates, defaults.romRate)),
      py::arg("data_bits") = DefaultSetting(WordOf(kDataBitsOptions, defaults.dataBits)),
      py::arg("parity") = WordOf(kParityOptions, defaults.parity),
      py::arg("stop_bits") = DefaultSetting(WordOf(kStopBitsOptions, defaults.stopBits)),
      py::arg("loader") = py::none(), py::arg("boot_stage") = py::none(),
      py::arg("classic") = false, py::arg("loader_running") = false, py::arg("flash_base") = 0,
      py::arg("progress") = py::none(), kBurnDoc);
}

}  // namespace tarvok::python
