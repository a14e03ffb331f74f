// The station file an engineer prepares: read into the station's plan, refused with one
// message for people, and never changed by reading it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "cli/StationFileOptions.h"
#include "cli/StationPlan.h"
#include "station/config/StationFile.h"
#include "station/platform/Sha256.h"
#include "tests/support/FileText.h"
#include "tests/support/ImageFactory.h"
#include "tests/support/ScratchFolder.h"

namespace tarvok {
namespace {

using Bytes = std::vector<uint8_t>;

void WriteFile(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

using testing::FileText;

std::string Replaced(std::string text, const std::string& from, const std::string& to) {
  const std::size_t at = text.find(from);
  EXPECT_NE(at, std::string::npos) << from;
  return at == std::string::npos ? text : text.replace(at, from.size(), to);
}

// A station folder: an image, a loader, and the station file naming both by their digests.
class StationFolder {
 public:
  StationFolder() {
    WriteFile(folder_.PathOf("release.bin"), std::string(image_.begin(), image_.end()));
    WriteFile(folder_.PathOf("loader.bin"), std::string(loader_.begin(), loader_.end()));
  }

  std::string PathOf(const std::string& name) const { return folder_.PathOf(name); }
  std::string ImageSha256() const { return Sha256Hex(image_.data(), image_.size()); }
  std::string LoaderSha256() const { return Sha256Hex(loader_.data(), loader_.size()); }

  // Line numbers matter to the refusals below.
  std::string GoodText() const {
    return "name = \"line-3\"\n"       // 1
           "log = \"line3.jsonl\"\n"   // 2
           "max_failures = 5\n"        // 3
           "\n"                        // 4
           "[image]\n"                 // 5
           "path = \"release.bin\"\n"  // 6
           "sha256 = \"" +             // 7
           ImageSha256() +
           "\"\n"
           "\n"                       // 8
           "[loader]\n"               // 9
           "path = \"loader.bin\"\n"  // 10
           "sha256 = \"" +            // 11
           LoaderSha256() +
           "\"\n"
           "\n"                                  // 12
           "[line]\n"                            // 13
           "rom_baud = 115200\n"                 // 14
           "burn_baud = 460800\n"                // 15
           "data_bits = 7\n"                     // 16
           "parity = \"even\"\n"                 // 17
           "stop_bits = \"2\"\n"                 // 18
           "\n"                                  // 19
           "[units]\n"                           // 20
           "offset = 0x100\n"                    // 21
           "first = 40000\n"                     // 22
           "step = 2\n"                          // 23
           "format = \"be32\"\n"                 // 24
           "state = \"units.state\"\n"           // 25
           "\n"                                  // 26
           "[[port]]\n"                          // 27
           "name = \"COM5\"\n"                   // 28
           "board = \"dsr\"\n"                   // 29
           "\n"                                  // 30
           "[[port]]\n"                          // 31
           "name = \"/dev/tarvok-fixture-2\"\n"  // 32
           "board = \"chip\"\n"                  // 33
           "leave_silence_ms = 2500\n";          // 34
  }

  // The station file with `text`, through the command line's completion and plan.
  bool Plan(const std::string& text, cli::StationPlan& plan, std::string& message) {
    WriteFile(PathOf("line3.toml"), text);
    cli::StationOptions options;
    options.stationFile = PathOf("line3.toml");
    std::ostringstream err;
    const bool planned =
        cli::CompleteStationOptions(options, {}, err) && cli::PlanStation(options, plan, err);
    message = err.str();
    return planned;
  }

 private:
  ScratchFolder folder_;
  const Bytes image_ = testing::ImageBytes(4096, 7);
  const Bytes loader_ = testing::ImageBytes(300, 9);
};

TEST(StationFile, GivesTheSetupItDescribesWithoutChangingTheFile) {
  StationFolder station;
  const std::string text = station.GoodText();
  cli::StationPlan plan;
  std::string message;
  ASSERT_TRUE(station.Plan(text, plan, message)) << message;
  EXPECT_EQ(message, "");
  EXPECT_EQ(FileText(station.PathOf("line3.toml")), text);

  const StationSetup& setup = plan.setup;
  EXPECT_EQ(setup.name, "line-3");
  EXPECT_EQ(setup.imagePath, station.PathOf("release.bin"));
  EXPECT_EQ(setup.imageSha256, station.ImageSha256());
  ASSERT_NE(setup.loader, nullptr);
  EXPECT_EQ(setup.loaderSha256, station.LoaderSha256());
  EXPECT_EQ(plan.log->Path(), station.PathOf("line3.jsonl"));
  EXPECT_EQ(setup.failuresToStopPort, 5u);
  EXPECT_EQ(setup.line.romRate, 115200u);
  EXPECT_EQ(setup.line.burnRate, 460800u);
  EXPECT_EQ(setup.line.dataBits, DataBits::k7);
  EXPECT_EQ(setup.line.parity, Parity::kEven);
  EXPECT_EQ(setup.line.stopBits, StopBits::kTwo);
  ASSERT_TRUE(setup.units.has_value());
  EXPECT_EQ(setup.units->offset, 0x100u);
  EXPECT_EQ(setup.units->first, 40000u);
  EXPECT_EQ(setup.units->step, 2u);
  EXPECT_EQ(setup.units->encoding, UnitEncoding::kBigEndian32);
  ASSERT_NE(plan.units, nullptr);
  EXPECT_EQ(plan.units->Path(), station.PathOf("units.state"));
  ASSERT_EQ(setup.ports.size(), 2u);
  EXPECT_EQ(setup.ports[0].portName, "COM5");
  EXPECT_EQ(setup.ports[0].signal.kind, BoardSignal::kModemLine);
  EXPECT_EQ(setup.ports[0].signal.modemLine, kModemDsr);
  EXPECT_EQ(setup.ports[1].portName, "/dev/tarvok-fixture-2");
  EXPECT_EQ(setup.ports[1].signal.kind, BoardSignal::kChip);
  EXPECT_EQ(setup.ports[1].signal.leaveSilenceMs, 2500u);
}

TEST(StationFile, RefusesWithOneMessageAndNeverChangesTheFile) {
  StationFolder station;
  const std::string good = station.GoodText();
  const std::string otherSha(64, 'a');
  const struct {
    const char* name;
    std::string from;
    std::string to;
    std::string stateFile;  // written before the plan, when not empty
    std::string message;
  } cases[] = {
      {"last week's image", station.ImageSha256(), otherSha, "",
       "image " + station.PathOf("release.bin") + " is not the expected one: its SHA-256 is " +
           station.ImageSha256() + ", not " + otherSha + "; nothing was burned"},
      {"another loader", station.LoaderSha256(), otherSha, "",
       "loader " + station.PathOf("loader.bin") + " is not the expected one: its SHA-256 is " +
           station.LoaderSha256() + ", not " + otherSha + "; nothing was burned"},
      {"a port twice", "/dev/tarvok-fixture-2", "com5", "",
       "line 32: port com5 is already on line 27: give each port once"},
      {"an unknown key", "parity = \"even\"\n", "parity = \"even\"\nspeed = 3\n", "",
       "line 18: unknown key \"speed\" in [line]"},
      {"a misspelt table", "[units]", "[unit]", "", "line 20: unknown key \"unit\""},
      {"a rate out of the table", "burn_baud = 460800", "burn_baud = 12345", "",
       "line 15: burn_baud 12345 in [line] is not one of 115200, 230400, 460800, 921600"},
      {"a negative count", "max_failures = 5", "max_failures = -1", "",
       "line 3: max_failures -1 is out of range: 0 to 1000000"},
      {"an offset past 32 bits", "offset = 0x100", "offset = 0x100000000", "",
       "line 21: offset 4294967296 in [units] is out of range"},
      {"a count as a string", "max_failures = 5", "max_failures = \"5\"", "",
       "line 3: max_failures must be an integer, not a string"},
      {"a silence with a fraction", "leave_silence_ms = 2500", "leave_silence_ms = 2.5", "",
       "line 34: leave_silence_ms in [[port]] must be an integer, not a number with a fraction"},
      {"an unknown board signal", "board = \"dsr\"", "board = \"dtr\"", "",
       "line 29: board dtr in [[port]] is not one of operator, port, dsr, cts, dcd, ri, chip"},
      {"no image table",
       "[image]\npath = \"release.bin\"\nsha256 = \"" + station.ImageSha256() + "\"\n", "", "",
       "needs image"},
      {"an image without its digest", "sha256 = \"" + station.ImageSha256() + "\"\n", "", "",
       "[image] needs sha256 (the image's expected SHA-256)"},
      {"a digest too short", station.ImageSha256(), "9c1f", "",
       "line 7: sha256 in [image] is not 64 hexadecimal digits"},
      {"not TOML", "max_failures = 5", "max_failures = ", "", "line 3:"},
      {"a state file of another series", "", "",
       R"({"first":1,"step":2,"encoding":"be32","offset":256,"next":5})"
       "\n",
       "belongs to another series: this station has first number 40000 (the state file has 1)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::remove(station.PathOf("units.state").c_str());
    if (!c.stateFile.empty()) {
      WriteFile(station.PathOf("units.state"), c.stateFile);
    }
    const std::string text = c.from.empty() ? good : Replaced(good, c.from, c.to);
    cli::StationPlan plan;
    std::string message;
    EXPECT_FALSE(station.Plan(text, plan, message));
    EXPECT_NE(message.find(c.message), std::string::npos) << message;
    EXPECT_EQ(message.rfind("tarvok: ", 0), 0u) << message;
    EXPECT_EQ(std::count(message.begin(), message.end(), '\n'), 1) << message;
    EXPECT_EQ(FileText(station.PathOf("line3.toml")), text);
  }
}

}  // namespace
}  // namespace tarvok
