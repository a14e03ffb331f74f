#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "app/DialogRequest.h"
#include "app/PortIdentity.h"
#include "app/PortSetup.h"
#include "cli/LatencyWarning.h"
#include "cli/PortsCommand.h"
#include "serial/NetworkPortName.h"
#include "serial/PortDiscovery.h"
#include "tests/support/FakeSerialDevice.h"
#include "tests/support/FixedChoices.h"

namespace tarvok {
namespace {

namespace fs = std::filesystem;
using testing::FakeSerialDevice;
using testing::FixedChoices;
using Kind = FakeSerialDevice::EventKind;

// Opens a fake device in place of the named one and remembers what it opened.
struct FakeOpener {
  std::vector<std::string> paths;
  FakeSerialDevice* last = nullptr;
  bool fail = false;
  bool showsLikeAPty = false;
  std::function<void()> beforeOpen;

  DeviceOpener Get() {
    return [this](const std::string& path) {
      if (beforeOpen)
        beforeOpen();
      paths.push_back(path);
      OpenResult result;
      if (fail) {
        result.failure = OpenFailure::kBusy;
        result.reason = path + ": in use by another program";
        return result;
      }
      auto device = std::make_unique<FakeSerialDevice>();
      LineSettings settings;
      settings.flags = 0xFFFFFFFF;
      device->SetLineSettings(settings);
      if (showsLikeAPty) {
        device->alterReadBack = [](LineSettings& shown) {
          shown.byteSize = 8;
          shown.parity = kNoParity;
          shown.stopBits = shown.stopBits == kOneStopBit ? kOneStopBit : kTwoStopBits;
        };
      }
      last = device.get();
      result.device = std::move(device);
      return result;
    };
  }
};

struct LineCase {
  const char* name;
  std::string rate, dataBits, parity, stopBits;
  int32_t burnIndex;
  LineSettings expected;
  uint32_t burnRate;
  bool showsLikeAPty = false;  // the device forgets parity and data bits, and has no 1.5
  std::string refused = "";
};

TEST(OpenSelectedPort, AppliesTheChosenSettings) {
  const uint32_t flags = 0xFFFF9C91;  // all bits set, then the edit: clear 0x636E, set 0x1010
  const LineCase cases[] = {
      {"defaults", "9600", "8", "NOPARITY", "ONESTOPBIT", 3, {9600, 8, 0, 0, flags}, 921600},
      {"odd, 1.5", "115200", "7", "ODDPARITY", "ONE5STOPBITS", 0, {115200, 7, 1, 1, flags}, 115200},
      {"even, two", "9600", "6", "EVENPARITY", "TWOSTOPBITS", 1, {9600, 6, 2, 2, flags}, 230400},
      {"mark", "9600", "8", "MARKPARITY", "ONESTOPBIT", 2, {9600, 8, 3, 0, flags}, 460800},
      {"space by fallback",
       "9600",
       "8",
       "SPACEPARITY",
       "whatever",
       3,
       {9600, 8, 4, 2, flags},
       921600},
      {"no burn rate selected",
       " 9600x",
       "8",
       "noparity",
       "ONESTOPBIT",
       -1,
       {9600, 8, 4, 0, flags},
       0},
      {"a device that cannot show every setting says so",
       "115200",
       "7",
       "ODDPARITY",
       "ONE5STOPBITS",
       0,
       {115200, 7, 1, 1, flags},
       115200,
       true,
       "the device did not take data bits 7 (it uses 8), parity odd (it uses none), "
       "stop bits 1.5 (it uses 2)"},
  };
  for (const LineCase& c : cases) {
    SCOPED_TRACE(c.name);
    FixedChoices choices;
    choices.choices[kPortListId] = {1, "/dev/fake"};
    choices.choices[kOriginalRateListId].text = c.rate;
    choices.choices[kDataBitsListId].text = c.dataBits;
    choices.choices[kParityListId].text = c.parity;
    choices.choices[kStopBitsListId].text = c.stopBits;
    choices.choices[kBurnRateListId].index = c.burnIndex;
    FakeOpener opener;
    opener.showsLikeAPty = c.showsLikeAPty;
    // The lists as the dialog reads them, then the port as the burn opens it.
    const BurnRequest request = RequestFromDialogLists(choices);
    EXPECT_EQ(request.portName, "/dev/fake");
    EXPECT_EQ(request.line.burnRate, c.burnRate);
    PortState state;
    OpenSelectedPort(request.devicePath, request.line, state, opener.Get());
    ASSERT_EQ(state.portOpen, 1);
    EXPECT_EQ(opener.paths, std::vector<std::string>{"/dev/fake"});
    ASSERT_NE(opener.last, nullptr);
    EXPECT_EQ(state.refusedSettings, c.refused);
    const LineSettings& applied = opener.last->Settings();
    EXPECT_EQ(applied.baudRate, c.expected.baudRate);
    EXPECT_EQ(applied.byteSize, c.expected.byteSize);
    EXPECT_EQ(applied.parity, c.expected.parity);
    EXPECT_EQ(applied.stopBits, c.expected.stopBits);
    EXPECT_EQ(applied.flags, c.expected.flags);
    const Timeouts& timeouts = opener.last->CurrentTimeouts();
    EXPECT_EQ(timeouts.readInterval, UINT32_MAX);
    EXPECT_EQ(timeouts.readTotalMultiplier, 10u);
    EXPECT_EQ(timeouts.readTotalConstant, 500u);
    EXPECT_EQ(timeouts.writeTotalMultiplier, 10u);
    EXPECT_EQ(timeouts.writeTotalConstant, 500u);
    const auto events = opener.last->Events();
    ASSERT_EQ(events.size(), 4u);  // initial state, the settings, break cleared, purge
    EXPECT_EQ(events[2].kind, Kind::kClearBreak);
    EXPECT_EQ(events[3].kind, Kind::kPurge);
    EXPECT_EQ(events[3].value, kPurgeAll);
    EXPECT_TRUE(state.openFailure.empty());
    CloseSelectedPort(state);
  }
}

TEST(OpenSelectedPort, FailedOpen) {
  FakeOpener opener;
  PortState state;
  opener.fail = true;
  OpenSelectedPort("/dev/ttyUSB9", BurnLine{}, state, opener.Get());
  EXPECT_EQ(state.portOpen, 0);
  EXPECT_EQ(state.openFailure, "Open/dev/ttyUSB9 Failed!");
  EXPECT_EQ(state.openFailureReason, "/dev/ttyUSB9: in use by another program");
  CloseSelectedPort(state);  // does nothing after a failed open
  EXPECT_EQ(state.portOpen, 0);
#ifdef _WIN32
  // A COM port that has left the registry since the list was shown is named by its device.
  FixedChoices lists;
  lists.choices[kPortListId] = {1, "COM77"};
  const BurnRequest request = RequestFromDialogLists(lists);
  OpenSelectedPort(request.devicePath, request.line, state, opener.Get());
  EXPECT_EQ(opener.paths.back(), "\\\\.\\COM77");
  EXPECT_EQ(state.openFailure, "Open\\\\.\\COM77 Failed!");
#endif
}

TEST(OpenSelectedPort, ReopeningClosesThePortFirst) {
  FakeOpener opener;
  PortState state;
  OpenSelectedPort("/dev/fake", BurnLine{}, state, opener.Get());
  ASSERT_EQ(state.portOpen, 1);
  // The first device is drained, purged, closed and let go of before the second is opened.
  std::vector<std::string> order;
  opener.last->onDestroy = [&order](const FakeSerialDevice& device) {
    const auto& events = device.Events();
    const bool drainedThenPurged = events.size() >= 2 && events.end()[-2].kind == Kind::kDrain &&
                                   events.back().kind == Kind::kPurge &&
                                   events.back().value == kPurgeInput;
    order.push_back(drainedThenPurged ? "drained and purged" : "not purged");
    order.push_back(device.Closed() ? "closed" : "not closed");
  };
  opener.beforeOpen = [&order, &state] {
    order.push_back(state.portHandle == nullptr ? "handle cleared, open"
                                                : "open with a port still held");
  };
  OpenSelectedPort("/dev/fake", BurnLine{}, state, opener.Get());
  EXPECT_EQ(order,
            (std::vector<std::string>{"drained and purged", "closed", "handle cleared, open"}));
  EXPECT_EQ(opener.paths.size(), 2u);
  CloseSelectedPort(state);
  EXPECT_EQ(state.portOpen, 0);
  EXPECT_EQ(state.portHandle, nullptr);
}

#ifndef _WIN32  // sysfs: the Linux enumeration
class FakeSysfs {
 public:
  FakeSysfs() : root_(fs::temp_directory_path() / ("tarvok-sysfs-" + std::to_string(getpid()))) {}
  ~FakeSysfs() { fs::remove_all(root_); }
  FakeSysfs(const FakeSysfs&) = delete;
  FakeSysfs& operator=(const FakeSysfs&) = delete;

  // A tty with hardware behind it at `devicePath` (relative to the root).
  void AddTty(const std::string& name, const std::string& devicePath,
              const std::string& type = "") {
    const fs::path entry = root_ / "class" / "tty" / name;
    fs::create_directories(entry);
    fs::create_directories(root_ / devicePath);
    fs::create_directory_symlink(root_ / devicePath, entry / "device");
    if (!type.empty()) {
      std::ofstream(entry / "type") << type << "\n";
    }
  }
  // The usb-serial bus's entry for a tty whose device is at `devicePath`, as the kernel links it.
  void AddUsbSerial(const std::string& name, const std::string& devicePath) {
    const fs::path bus = root_ / "bus" / "usb-serial" / "devices";
    fs::create_directories(bus);
    fs::create_directory_symlink(root_ / devicePath, bus / name);
  }
  void AddVirtualTty(const std::string& name) {
    fs::create_directories(root_ / "class" / "tty" / name);
  }
  void WriteFile(const std::string& path, const std::string& text) {
    std::ofstream(root_ / path) << text << "\n";
  }
  std::string ReadFile(const std::string& path) const {
    std::string line;
    std::getline(std::ifstream(root_ / path), line);
    return line;
  }
  std::string Root() const { return root_.string(); }

 private:
  fs::path root_;
};

TEST(PortDiscovery, NumbersStayWithTheirDevices) {
  FakeSysfs sysfs;
  sysfs.AddTty("ttyS0", "devices/pnp0/00:01", "4");
  sysfs.AddTty("ttyS1", "devices/platform/serial8250/s1", "0");  // no UART found there
  sysfs.AddTty("ttyS255", "devices/pnp0/00:ff", "4");
  // An FTDI adapter: ftdi_sio shows its timer, the USB device its serial number.
  sysfs.AddTty("ttyUSB0", "devices/usb1/1-1/1-1:1.0/ttyUSB0");
  sysfs.AddUsbSerial("ttyUSB0", "devices/usb1/1-1/1-1:1.0/ttyUSB0");
  sysfs.WriteFile("devices/usb1/1-1/1-1:1.0/ttyUSB0/latency_timer", "16");
  sysfs.WriteFile("devices/usb1/1-1/idVendor", "0403");
  sysfs.WriteFile("devices/usb1/1-1/idProduct", "6001");
  sysfs.WriteFile("devices/usb1/1-1/product", "FT232R USB UART");
  sysfs.WriteFile("devices/usb1/1-1/serial", "FT12345");
  // A CH340: on the usb-serial bus too, but with no timer and no serial number.
  sysfs.AddTty("ttyUSB1", "devices/usb1/1-3/1-3:1.0/ttyUSB1");
  sysfs.AddUsbSerial("ttyUSB1", "devices/usb1/1-3/1-3:1.0/ttyUSB1");
  sysfs.WriteFile("devices/usb1/1-3/idVendor", "1a86");
  sysfs.WriteFile("devices/usb1/1-3/idProduct", "7523");
  sysfs.AddTty("ttyACM3", "devices/usb1/1-2/1-2:1.0");
  sysfs.AddTty("rfcomm0", "devices/bt/rfcomm0");
  sysfs.AddVirtualTty("tty0");
  sysfs.AddVirtualTty("ptmx");

  const auto ports = DiscoverSerialPorts(
      sysfs.Root(), "/dev/pts/7::/tmp/chip:rfc2217://rack-3:4001:tcp://[fe80::1]:4002:");
  std::vector<std::string> lines;
  for (const PortInfo& port : ports) {
    lines.push_back(cli::PortLine(port));
  }
  const std::vector<std::string> expected = {
      "COM1\t/dev/ttyS0",
      "COM101\t/dev/ttyUSB0\tUSB 0403:6001 FT232R USB UART\tlatency timer 16 ms\tserial FT12345",
      "COM102\t/dev/ttyUSB1\tUSB 1a86:7523",
      "COM204\t/dev/ttyACM3",
      "COM256\t/dev/ttyS255",  // kept whole: COM256, not COM0
      "COM401\t/dev/rfcomm0",
      "COM1001\t/dev/pts/7\tfrom TARVOK_EXTRA_PORTS",
      "COM1002\t/tmp/chip\tfrom TARVOK_EXTRA_PORTS",
      // A network port's name keeps its colons.
      "COM1003\trfc2217://rack-3:4001\tnetwork port, from TARVOK_EXTRA_PORTS",
      "COM1004\ttcp://[fe80::1]:4002\tnetwork port, from TARVOK_EXTRA_PORTS",
  };
  EXPECT_EQ(lines, expected);
  ASSERT_EQ(ports.size(), expected.size());
  EXPECT_EQ(ports[1].latencyTimerMs, 16);
  EXPECT_EQ(ports[2].latencyTimerMs, -1);

  // Lowering writes the usb-serial attribute and reads it back; a port without one is left.
  std::string problem;
  EXPECT_TRUE(TryLowerLatencyTimer(sysfs.Root(), ports[1], problem)) << problem;
  EXPECT_EQ(sysfs.ReadFile("devices/usb1/1-1/1-1:1.0/ttyUSB0/latency_timer"), "1");
  EXPECT_EQ(DiscoverSerialPorts(sysfs.Root(), "")[1].latencyTimerMs, 1);
  EXPECT_FALSE(TryLowerLatencyTimer(sysfs.Root(), ports[2], problem));
  EXPECT_EQ(problem, "the adapter has no latency timer to set");
}
#endif

// A slow adapter is lowered, or else warned of, once per port however often its port is
// burned through or however it is named; ports without a slow timer pass silently.
TEST(PortDiscovery, SlowLatencyTimerWarnsOncePerPort) {
  const auto port = [](uint32_t number, const std::string& device, int timerMs) {
    PortInfo info;
    info.number = number;
    info.device = device;
    info.latencyTimerMs = timerMs;
    return info;
  };
  std::vector<std::string> lowered;  // the devices whose timer lowering was tried
  cli::LatencyCheck check(
      {port(101, "/dev/ttyUSB0", 16), port(102, "/dev/ttyUSB1", 1), port(103, "/dev/ttyUSB2", -1),
       port(104, "/dev/ttyUSB3", 16), port(105, "/dev/ttyUSB4", 4)},
      [&lowered](const PortInfo& info, std::string& problem) {
        lowered.push_back(info.device);
        problem = "Permission denied";
        return info.number == 104;
      });
#ifdef _WIN32
  const std::string sameAsFirst = "/DEV/TTYUSB0";  // Windows names ignore case
  const std::string fix =
      "set Latency Timer to 1 ms in Device Manager > the port > Port Settings > Advanced";
#else
  const std::string sameAsFirst = "/dev/../dev/ttyUSB0";
  const std::string fix =
      "set it to 1 ms with a udev rule: ACTION==\"add\", SUBSYSTEM==\"usb-serial\", "
      "DRIVER==\"ftdi_sio\", ATTR{latency_timer}=\"1\"";
#endif
  const struct {
    std::string name;
    std::string device;
    std::string line;
  } checks[] = {
      {"COM101", "/dev/ttyUSB0",
       "tarvok: warning: COM101: USB adapter latency timer 16 ms (costs about a third of the "
       "image stage's speed); " +
           fix},
      {"COM101", "/dev/ttyUSB0", ""},   // burned through again
      {"other name", sameAsFirst, ""},  // the same device
      {"COM102", "/dev/ttyUSB1", ""},   // already 1 ms
      {"COM103", "/dev/ttyUSB2", ""},   // no timer known
      {"COM104", "/dev/ttyUSB3",
       "tarvok: COM104: USB adapter latency timer set from 16 ms to 1 ms"},
      {"COM104", "/dev/ttyUSB3", ""},
      {"COM105", "/dev/ttyUSB4",
       "tarvok: warning: COM105: USB adapter latency timer 4 ms (slows the image stage); " + fix},
      {"/tmp/chip", "/tmp/chip", ""},  // not a port discovery found
  };
  for (const auto& c : checks) {
    EXPECT_EQ(check.Check(c.name, c.device), c.line) << c.name << " " << c.device;
  }
  EXPECT_EQ(lowered, (std::vector<std::string>{"/dev/ttyUSB0", "/dev/ttyUSB3", "/dev/ttyUSB4"}));
}

TEST(PortDiscovery, NamesAndNumbers) {
  const struct {
    const char* text;
    int64_t value;
  } decimals[] = {{"9600", 9600}, {"  115200", 115200}, {"+7", 7}, {"-3", -3},
                  {"12abc", 12},  {"abc", 0},           {"", 0}};
  for (const auto& d : decimals) {
    EXPECT_EQ(ParseDecimal(d.text), d.value) << d.text;
  }
  // One port however its name is spelled: a COM name in any case, with or without its
  // \\.\ prefix, is "COM" and its number; anything else stays as given.
  // On Windows a name opens as "\\.\" + the name whether or not the registry lists it:
  // none of these is registered where the tests run (COM77 stands for a port unplugged
  // after the list was shown).
  const struct {
    const char* name;
    uint32_t number;
    const char* windowsDevice;
    const char* key;
  } names[] = {{"COM3", 3, "\\\\.\\COM3", "COM3"},
               {"COM12", 12, "\\\\.\\COM12", "COM12"},
               {"COM256", 256, "\\\\.\\COM256", "COM256"},
               {"COM77", 77, "\\\\.\\COM77", "COM77"},
               {"com77", 77, "\\\\.\\com77", "COM77"},
               {"cOm077", 77, "\\\\.\\cOm077", "COM77"},
               {"\\\\.\\com5", 0, "", "COM5"},
               {"\\\\.\\COM5", 0, "", "COM5"},
               {"\\\\.\\USB7", 0, "", "\\\\.\\USB7"},
               {"VCOM2", 0, "", "VCOM2"},
               {"USB7", 7, "\\\\.\\USB7", "USB7"},
               {"COM", 0, "", "COM"},
               {"CO", 0, "", "CO"},
               {"COMx", 0, "", "COMx"},
               {"COM0", 0, "", "COM0"},
               {"/dev/ttyUSB0", 0, "", "/dev/ttyUSB0"},
               {"/dev/serial/by-id/usb-FTDI_COM5", 0, "", "/dev/serial/by-id/usb-FTDI_COM5"}};
  for (const auto& n : names) {
    EXPECT_EQ(PortNumberOfName(n.name), n.number) << n.name;
    EXPECT_EQ(PortNameKey(n.name), n.key) << n.name;
#ifdef _WIN32
    EXPECT_EQ(DevicePathForPortName(n.name), n.windowsDevice) << n.name;
#endif
  }
  EXPECT_EQ(ParityFromListText("EVENPARITY"), Parity::kEven);
  EXPECT_EQ(StopBitsFromListText("ONE5STOPBITS"), StopBits::kOneAndHalf);
}

TEST(PortDiscovery, NetworkPortNames) {
  const struct {
    const char* text;
    NetworkNameParse parse;
    NetworkScheme scheme = NetworkScheme::kRfc2217;
    const char* host = "";
    uint16_t port = 0;
    const char* written = "";  // as the tool writes it back
  } cases[] = {
      {.text = "rfc2217://127.0.0.1:2000",
       .parse = NetworkNameParse::kOk,
       .host = "127.0.0.1",
       .port = 2000,
       .written = "rfc2217://127.0.0.1:2000"},
      {.text = "RFC2217://Rack-3:65535",
       .parse = NetworkNameParse::kOk,
       .host = "Rack-3",
       .port = 65535,
       .written = "rfc2217://Rack-3:65535"},
      {.text = "tcp://[::1]:4001",
       .parse = NetworkNameParse::kOk,
       .scheme = NetworkScheme::kRawTcp,
       .host = "::1",
       .port = 4001,
       .written = "tcp://[::1]:4001"},
      {.text = "rfc2217://host", .parse = NetworkNameParse::kMalformed},
      {.text = "rfc2217://host:", .parse = NetworkNameParse::kMalformed},
      {.text = "rfc2217://host:0", .parse = NetworkNameParse::kMalformed},
      {.text = "rfc2217://host:65536", .parse = NetworkNameParse::kMalformed},
      {.text = "rfc2217://host:20x0", .parse = NetworkNameParse::kMalformed},
      {.text = "rfc2217://:2000", .parse = NetworkNameParse::kMalformed},
      {.text = "rfc2217://host:2000/", .parse = NetworkNameParse::kMalformed},
      {.text = "tcp://[::1:4001", .parse = NetworkNameParse::kMalformed},
      {.text = "telnet://host:23", .parse = NetworkNameParse::kUnknownScheme},
      {.text = "/dev/ttyUSB0", .parse = NetworkNameParse::kNotNetwork},
      {.text = "COM5", .parse = NetworkNameParse::kNotNetwork},
      {.text = "\\\\.\\COM5", .parse = NetworkNameParse::kNotNetwork},
  };
  for (const auto& c : cases) {
    NetworkPortName name;
    EXPECT_EQ(ParseNetworkPortName(c.text, name), c.parse) << c.text;
    EXPECT_EQ(HasNetworkScheme(c.text), c.parse != NetworkNameParse::kNotNetwork) << c.text;
    if (c.parse == NetworkNameParse::kOk) {
      EXPECT_EQ(name.scheme, c.scheme) << c.text;
      EXPECT_EQ(name.host, c.host) << c.text;
      EXPECT_EQ(name.port, c.port) << c.text;
      EXPECT_EQ(NetworkPortNameText(name), c.written) << c.text;
      // The name is its own device, and one server port is one port however it is spelled.
      EXPECT_EQ(DevicePathForPortName(c.text), c.text);
      EXPECT_EQ(DeviceIdentity(c.text), DeviceIdentity(c.written)) << c.text;
    }
  }
  EXPECT_EQ(DeviceIdentity("rfc2217://RACK-3:4001"), DeviceIdentity("rfc2217://rack-3:4001"));
}

// A block and its sum take 11.1 ms at 921600 and 89 ms at 115200; the answer comes a round
// trip later. From a tenth of the speed on, a burn says so.
TEST(PortDiscovery, WhatANetworkRoundTripCosts) {
  const struct {
    uint32_t roundTripMs;
    uint32_t burnRate;
    uint32_t percent;
    bool warned;
  } cases[] = {
      {.roundTripMs = 0, .burnRate = 921600, .percent = 0, .warned = false},
      {.roundTripMs = 1, .burnRate = 921600, .percent = 8, .warned = false},
      {.roundTripMs = 2, .burnRate = 921600, .percent = 15, .warned = true},
      {.roundTripMs = 5, .burnRate = 921600, .percent = 31, .warned = true},
      {.roundTripMs = 20, .burnRate = 921600, .percent = 64, .warned = true},
      {.roundTripMs = 5, .burnRate = 115200, .percent = 5, .warned = false},
      {.roundTripMs = 20, .burnRate = 115200, .percent = 18, .warned = true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.roundTripMs) + " ms at " + std::to_string(c.burnRate));
    EXPECT_EQ(RoundTripCostPercent(c.roundTripMs, c.burnRate), c.percent);
    const std::string warning =
        cli::SlowRoundTripText("rfc2217://rack-3:4001", c.roundTripMs, c.burnRate);
    EXPECT_EQ(warning.empty(), !c.warned) << warning;
    if (c.warned) {
      EXPECT_NE(warning.find("costs about " + std::to_string(c.percent) + " %"), std::string::npos)
          << warning;
    }
  }
  EXPECT_NE(DeviceIdentity("rfc2217://rack-3:4001"), DeviceIdentity("rfc2217://rack-3:4002"));
}

}  // namespace
}  // namespace tarvok
