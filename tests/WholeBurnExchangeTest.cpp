// The whole exchange of a burn, from the user's settings to the last byte on the wire, held
// against a recording: every write, purge, line change, drain and sleep the host made, at the
// virtual time it made it, and the progress the display was given in between. A change to
// any layer that alters what a chip sees, or when, shows up here as the first line that
// differs.
//
// After a deliberate change to the exchange, TARVOK_RECORD_EXCHANGE=1 rewrites the
// recordings in tests/data/exchange/; review the difference before committing it.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "app/BurnEngine.h"
#include "app/BurnRun.h"
#include "app/DialogRequest.h"
#include "tests/support/ChipOnWire.h"
#include "tests/support/FakeSerialDevice.h"
#include "tests/support/FixedChoices.h"
#include "tests/support/ImageFactory.h"

namespace tarvok {
namespace {

using testing::ChipOnWire;
using testing::FakeSerialDevice;
using testing::FixedChoices;
using Kind = FakeSerialDevice::EventKind;

// One line per host operation: "<virtual us> <what>".
class ExchangeLog : public ProgressView {
 public:
  // Logs `device`'s events from the next one on; the rest as the device goes away.
  void Follow(FakeSerialDevice& device) {
    device_ = &device;
    next_ = device.Events().size();
    device.onDestroy = [this](const FakeSerialDevice& gone) {
      AddEventsOf(gone);
      device_ = nullptr;
    };
  }
  void SetProgress(uint8_t percent) override {
    if (device_ != nullptr) {
      AddEventsOf(*device_);
    }
    FlushSleep();
    lines_ << "progress " << int{percent} << "\n";
  }
  void SetSpeedText(const std::string&) override {}
  void SetElapsedText(const std::string&) override {}

  void AddLine(const std::string& line) {
    FlushSleep();
    lines_ << line << "\n";
  }
  std::string Text() const { return lines_.str(); }

 private:
  void AddEventsOf(const FakeSerialDevice& device) {
    const auto& events = device.Events();
    for (; next_ < events.size(); ++next_) {
      AddEvent(events[next_]);
    }
  }

  // Back-to-back sleeps are one pause on the line, however the host sliced it.
  void FlushSleep() {
    if (sleepMs_ != 0) {
      lines_ << sleepAtUs_ << " sleep " << sleepMs_ << "\n";
      sleepMs_ = 0;
    }
  }

  void AddEvent(const FakeSerialDevice::Event& event) {
    if (event.kind == Kind::kSleep) {
      if (sleepMs_ == 0) {
        sleepAtUs_ = event.atUs;
      }
      sleepMs_ += event.value;
      return;
    }
    FlushSleep();
    lines_ << event.atUs << " ";
    switch (event.kind) {
      case Kind::kWrite:
        lines_ << "write";
        for (const uint8_t byte : event.bytes) {
          char hex[4];
          std::snprintf(hex, sizeof hex, " %02x", byte);
          lines_ << hex;
        }
        break;
      case Kind::kPurge:
        lines_ << "purge " << event.value;
        break;
      case Kind::kSetLine:
        lines_ << "line " << event.value << " " << int{event.line.byteSize} << " "
               << int{event.line.parity} << " " << int{event.line.stopBits} << " 0x" << std::hex
               << event.line.flags << std::dec;
        break;
      case Kind::kSleep:
        break;
      case Kind::kClearBreak:
        lines_ << "clear-break";
        break;
      case Kind::kDrain:
        lines_ << "drain " << event.value;
        break;
    }
    lines_ << "\n";
  }

  const FakeSerialDevice* device_ = nullptr;
  uint64_t sleepAtUs_ = 0;
  uint64_t sleepMs_ = 0;
  std::size_t next_ = 0;
  std::ostringstream lines_;
};

// Which loader the burn downloads, and how it speaks to it.
enum class LoaderKind {
  kOlder,    // an older build of ours, without the declaration: the classic exchange
  kClassic,  // the one built in, with --classic: the classic exchange
  kBuiltIn,  // the one built in: through the boot stage, and the flash read back
};

struct ExchangeCase {
  const char* name;
  LoaderKind loader;
  const char* romRate;
  const char* burnRate;
  int32_t burnRateIndex;
  const char* dataBits;
  const char* parity;
  const char* stopBits;
  bool loaderRunning;
  uint32_t imageBytes;
  uint32_t rejectBlock;  // rejected twice, so the stream re-synchronises
};

std::shared_ptr<const std::vector<uint8_t>> OlderLoader() {
  std::ifstream in(std::string(TARVOK_SOURCE_DIR) + "/tests/data/older-loader.bin",
                   std::ios::binary);
  return std::make_shared<const std::vector<uint8_t>>(std::istreambuf_iterator<char>(in),
                                                      std::istreambuf_iterator<char>());
}

// Runs the burn a front end asks for over a fake port with the simulated chip behind it.
std::string RecordBurn(const ExchangeCase& c) {
  sim::ChipOptions chipOptions;
  chipOptions.romRate = static_cast<uint32_t>(std::stoul(c.romRate));
  chipOptions.flashBytes = 64 * 1024;
  chipOptions.startInLoader = c.loaderRunning;
  chipOptions.loader.rejectBlock = c.rejectBlock;
  chipOptions.loader.rejectTimes = 2;

  auto device = std::make_unique<FakeSerialDevice>();
  // A running loader greets after the port set-up, which discards what came before.
  constexpr uint64_t kGreetingAfterUs = 100'000;
  ChipOnWire wire(*device, chipOptions, kGreetingAfterUs);
  ExchangeLog log;
  log.Follow(*device);

  // The dialog's lists, read as the dialog reads them when "Burn" is pressed.
  FixedChoices lists;
  lists.choices[kOriginalRateListId] = {0, c.romRate};
  lists.choices[kBurnRateListId] = {c.burnRateIndex, c.burnRate};
  lists.choices[kDataBitsListId] = {0, c.dataBits};
  lists.choices[kParityListId] = {0, c.parity};
  lists.choices[kStopBitsListId] = {0, c.stopBits};
  BurnRequest request = RequestFromDialogLists(lists);
  request.image = testing::MakeImage(testing::ImageBytes(c.imageBytes));
  request.loaderRunning = c.loaderRunning;
  if (c.loader == LoaderKind::kOlder) {
    request.loader = OlderLoader();
  }
  request.classic = c.loader == LoaderKind::kClassic;
  BurnRun run(log);
  const uint32_t status = Burn(request, run, [&device](const std::string&) {
                            OpenResult opened;
                            opened.device = std::move(device);
                            return opened;
                          }).status;
  log.AddLine("status " + std::to_string(status));
  return log.Text();
}

std::string RecordingPath(const ExchangeCase& c) {
  return std::string(TARVOK_SOURCE_DIR) + "/tests/data/exchange/" + c.name + ".txt";
}

std::string ReadRecording(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// The first line where two recordings part, for a message that points at it.
std::string FirstDifference(const std::string& expected, const std::string& actual) {
  std::istringstream e(expected), a(actual);
  std::string le, la;
  for (int line = 1;; ++line) {
    const bool moreE = static_cast<bool>(std::getline(e, le));
    const bool moreA = static_cast<bool>(std::getline(a, la));
    if (!moreE && !moreA) {
      return "identical";
    }
    if (!moreE || !moreA || le != la) {
      return "line " + std::to_string(line) + ":\n  recorded: " + (moreE ? le : "<end>") +
             "\n  now:      " + (moreA ? la : "<end>");
    }
  }
}

TEST(WholeBurnExchange, MatchesTheRecording) {
  constexpr uint32_t kNone = sim::kNoBlock;
  using enum LoaderKind;
  // The older loader's recordings are those of the exchange before the boot stage and the
  // read-back existed: a loader that declares neither must see that exchange byte for byte.
  const ExchangeCase cases[] = {
      // name                  loader  rom     burn    idx  bits parity   stop   running  bytes rej
      {"rom9600-burn115200", kOlder, "9600", "115200", 0, "8", "NOPARITY", "ONESTOPBIT", false,
       2561, 1},
      {"rom9600-burn230400", kOlder, "9600", "230400", 1, "8", "NOPARITY", "ONESTOPBIT", false,
       2561, kNone},
      {"rom9600-burn460800", kOlder, "9600", "460800", 2, "8", "NOPARITY", "ONESTOPBIT", false,
       2561, kNone},
      {"rom9600-burn921600", kOlder, "9600", "921600", 3, "8", "NOPARITY", "ONESTOPBIT", false,
       2561, 2},
      {"rom115200-7e2-burn921600", kOlder, "115200", "921600", 3, "7", "EVENPARITY", "TWOSTOPBITS",
       false, 1025, kNone},
      {"loader-running-burn921600", kOlder, "9600", "921600", 3, "8", "ODDPARITY", "ONE5STOPBITS",
       true, 4096, 0},
      {"classic-rom9600-burn921600", kClassic, "9600", "921600", 3, "8", "NOPARITY", "ONESTOPBIT",
       false, 2561, 2},
      {"stage-rom9600-burn115200", kBuiltIn, "9600", "115200", 0, "8", "NOPARITY", "ONESTOPBIT",
       false, 2561, 1},
      {"stage-rom9600-burn921600", kBuiltIn, "9600", "921600", 3, "8", "NOPARITY", "ONESTOPBIT",
       false, 2561, 2},
      {"stage-rom115200-7e2-burn921600", kBuiltIn, "115200", "921600", 3, "7", "EVENPARITY",
       "TWOSTOPBITS", false, 1025, kNone},
      {"stage-loader-running-burn921600", kBuiltIn, "9600", "921600", 3, "8", "ODDPARITY",
       "ONE5STOPBITS", true, 4096, 0},
  };
  const bool record = std::getenv("TARVOK_RECORD_EXCHANGE") != nullptr;
  for (const ExchangeCase& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string actual = RecordBurn(c);
    ASSERT_NE(actual.find("status 0\n"), std::string::npos) << "the burn itself failed";
    if (record) {
      std::ofstream(RecordingPath(c), std::ios::binary) << actual;
      continue;
    }
    const std::string expected = ReadRecording(RecordingPath(c));
    ASSERT_FALSE(expected.empty()) << "no recording at " << RecordingPath(c);
    EXPECT_TRUE(expected == actual) << FirstDifference(expected, actual);
  }
}

}  // namespace
}  // namespace tarvok
