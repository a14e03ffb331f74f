// The station file an engineer prepares: read into the station's plan, refused with one
// message for people, and never changed by reading it.
#include <gtest/gtest.h>

#include <unistd.h>
#include <algorithm>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "app/BootStageFile.h"
#include "cli/StationRefusalText.h"
#include "firmware/boot_stage_codes.h"
#include "station/config/OpenStation.h"
#include "station/config/StationArguments.h"
#include "station/config/StationFile.h"
#include "station/panel/StationPanelText.h"
#include "station/platform/Sha256.h"
#include "tests/support/FileText.h"
#include "tests/support/HexText.h"
#include "tests/support/ImageFactory.h"
#include "tests/support/ScratchFolder.h"

namespace tarvok {
namespace {

using Bytes = std::vector<uint8_t>;

static_assert(kMaxBootStageBytes == BOOT_STAGE_MAX_BYTES, "the front ends' limit is the stage's");

void WriteFile(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

using testing::FileText;

std::string Replaced(std::string text, const std::string& from, const std::string& to) {
  const std::size_t at = text.find(from);
  EXPECT_NE(at, std::string::npos) << from;
  return at == std::string::npos ? text : text.replace(at, from.size(), to);
}

using Edits = std::vector<std::pair<std::string, std::string>>;

// The station opened from `arguments` (the options of `front`): the refusal, if any, and
// the command line's words for it on `message`.
std::optional<StationRefusal> Open(const std::vector<std::string>& arguments, StationFront front,
                                   StationParts& parts, std::string& message) {
  CLI::App app;
  StationArguments given;
  AddStationOptions(app, front, given);
  std::vector<std::string> reversed(arguments.rbegin(), arguments.rend());
  app.parse(reversed);
  StationOptions options;
  std::vector<StationOverride> overrides;
  std::optional<StationRefusal> refusal = CompleteStationOptions(given, options, overrides);
  if (!refusal) {
    refusal = OpenStation(options, parts);
  }
  message = refusal ? "tarvok: " + cli::StationRefusalText(*refusal) + "\n" : "";
  return refusal;
}

// A station folder: an image, a loader, and the station file naming both by their digests.
class StationFolder {
 public:
  StationFolder() {
    WriteFile(folder_.PathOf("release.bin"), std::string(image_.begin(), image_.end()));
    WriteFile(folder_.PathOf("loader.bin"), std::string(loader_.begin(), loader_.end()));
    WriteFile(folder_.PathOf("stage.bin"), std::string(stage_.begin(), stage_.end()));
    WriteFile(folder_.PathOf("big-stage.bin"), std::string(kMaxBootStageBytes + 1, 'x'));
  }

  std::string PathOf(const std::string& name) const { return folder_.PathOf(name); }
  std::string ImageSha256() const { return Sha256Hex(image_.data(), image_.size()); }
  std::string LoaderSha256() const { return Sha256Hex(loader_.data(), loader_.size()); }
  std::string StageSha256() const { return Sha256Hex(stage_.data(), stage_.size()); }
  const Bytes& Stage() const { return stage_; }
  // The [loader] table's last line, and it followed by a boot stage's two keys.
  std::string LoaderDigestLine() const { return "sha256 = \"" + LoaderSha256() + "\"\n"; }
  std::string WithStage(const std::string& path, const std::string& sha256) const {
    return LoaderDigestLine() + "boot_stage = \"" + path + "\"\nboot_stage_sha256 = \"" + sha256 +
           "\"\n";
  }

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

  // The station file with `text`, completed and opened as `tarvok station --station` does.
  std::optional<StationRefusal> Plan(const std::string& text, StationParts& plan,
                                     std::string& message) {
    WriteFile(PathOf("line3.toml"), text);
    return Open({"--station", PathOf("line3.toml")}, StationFront::kCommandLine, plan, message);
  }

 private:
  ScratchFolder folder_;
  const Bytes image_ = testing::ImageBytes(4096, 7);
  const Bytes loader_ = testing::ImageBytes(300, 9);
  const Bytes stage_ = testing::ImageBytes(kMaxBootStageBytes, 11);  // the largest there is
};

// A HEX file linked at the flash's bus address: its flash_base beside it, and its sha256 that
// of the bytes it burns, which are the .bin's; without the base it is refused by its line.
TEST(StationFile, PinsAHexImageByTheBytesItBurns) {
  StationFolder station;
  const Bytes bytes = testing::ImageBytes(4096, 7);
  WriteFile(station.PathOf("release.hex"), testing::HexOf(bytes, 0x10000000));
  std::string text = station.GoodText();
  const std::string path = "path = \"release.bin\"\n";
  text.replace(text.find(path), path.size(), "path = \"release.hex\"\nflash_base = 0x10000000\n");
  StationParts plan;
  std::string message;
  ASSERT_FALSE(station.Plan(text, plan, message)) << message;
  EXPECT_EQ(plan.setup.imageSha256, station.ImageSha256());
  ASSERT_NE(plan.setup.image, nullptr);
  EXPECT_EQ(plan.setup.image->layout.format, ImageFormat::kIntelHex);
  EXPECT_EQ(
      Bytes(plan.setup.image->data.get(), plan.setup.image->data.get() + plan.setup.image->size),
      bytes);

  text.replace(text.find("flash_base = 0x10000000\n"), 24, "");
  StationParts refused;
  ASSERT_TRUE(station.Plan(text, refused, message));
  EXPECT_NE(message.find("line 2: bytes at 0x10000000 to 0x1000000F lie beyond the flash's "
                         "128 MiB; a file linked for the chip's bus addresses needs --flash-base "
                         "0x10000000"),
            std::string::npos)
      << message;
}

TEST(StationFile, GivesTheSetupItDescribesWithoutChangingTheFile) {
  StationFolder station;
  const std::string text = station.GoodText();
  StationParts plan;
  std::string message;
  ASSERT_FALSE(station.Plan(text, plan, message)) << message;
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

// Long for its table: one row for each refusal, all checked by the same few lines below it.
TEST(StationFile, RefusesWithOneMessageAndNeverChangesTheFile) {
  StationFolder station;
  const std::string good = station.GoodText();
  const std::string otherSha(64, 'a');
  const std::string file = "station file " + station.PathOf("line3.toml") + ", line ";
  // One device under two names: a fixture's port and a link to it (POSIX: on Windows a port
  // has one COM name, whose spellings the row before covers).
  WriteFile(station.PathOf("ttyA"), "");
#ifndef _WIN32
  ASSERT_EQ(symlink(station.PathOf("ttyA").c_str(), station.PathOf("ttyB").c_str()), 0);
#endif
  using Kind = StationRefusalKind;
  const struct {
    const char* name;
    Edits edits;
    std::string stateFile;  // written before the plan, when not empty
    Kind kind;
    std::string message;
  } cases[] = {
      {"last week's image",
       {{station.ImageSha256(), otherSha}},
       "",
       Kind::kWrongImage,
       file + "6: image " + station.PathOf("release.bin") +
           " is not the expected one: its SHA-256 is " + station.ImageSha256() + ", not " +
           otherSha + "; nothing was burned"},
      {"another loader",
       {{station.LoaderSha256(), otherSha}},
       "",
       Kind::kWrongLoader,
       "loader " + station.PathOf("loader.bin") + " is not the expected one: its SHA-256 is " +
           station.LoaderSha256() + ", not " + otherSha + "; nothing was burned"},
      {"another boot stage",
       {{station.LoaderDigestLine(), station.WithStage("stage.bin", otherSha)}},
       "",
       Kind::kWrongBootStage,
       file + "12: boot stage " + station.PathOf("stage.bin") +
           " is not the expected one: its SHA-256 is " + station.StageSha256() + ", not " +
           otherSha + "; nothing was burned"},
      {"a boot stage without its digest",
       {{station.LoaderDigestLine(), station.LoaderDigestLine() + "boot_stage = \"stage.bin\"\n"}},
       "",
       Kind::kMissingKey,
       "[loader] needs boot_stage_sha256 (the boot stage's expected SHA-256)"},
      {"a boot stage larger than one write of the boot ROM",
       {{station.LoaderDigestLine(), station.WithStage("big-stage.bin", otherSha)}},
       "",
       Kind::kBootStageUnreadable,
       file + "12: boot stage " + station.PathOf("big-stage.bin") +
           " has 257 bytes; a boot stage has at most 256"},
      {"a missing image",
       {{"release.bin", "missing.bin"}},
       "",
       Kind::kImageUnreadable,
       file + "6: image " + station.PathOf("missing.bin") + " cannot be opened"},
      {"a port twice",
       {{"/dev/tarvok-fixture-2", "com5"}},
       "",
       Kind::kSamePort,
       file + "32: port com5 is already on line 28 as COM5: give each port once"},
      {"one port under two spellings",
       {{"COM5", station.PathOf("ttyA")}, {"/dev/tarvok-fixture-2", station.PathOf("ttyB")}},
       "",
       Kind::kSamePort,
       file + "32: port " + station.PathOf("ttyB") + " is already on line 28 as " +
           station.PathOf("ttyA") + ": give each port once"},
      {"an unknown key",
       {{"parity = \"even\"\n", "parity = \"even\"\nspeed = 3\n"}},
       "",
       Kind::kUnknownKey,
       "line 18: unknown key \"speed\" in [line]"},
      {"a misspelt table",
       {{"[units]", "[unit]"}},
       "",
       Kind::kUnknownKey,
       "line 20: unknown key \"unit\""},
      {"a rate out of the table",
       {{"burn_baud = 460800", "burn_baud = 12345"}},
       "",
       Kind::kBadValue,
       "line 15: burn_baud 12345 in [line] is not one of 115200, 230400, 460800, 921600"},
      {"a negative count",
       {{"max_failures = 5", "max_failures = -1"}},
       "",
       Kind::kBadValue,
       "line 3: max_failures -1 is out of range: 0 to 1000000"},
      {"an offset past 32 bits",
       {{"offset = 0x100", "offset = 0x100000000"}},
       "",
       Kind::kBadValue,
       "line 21: offset 4294967296 in [units] is out of range"},
      // A string where a number belongs, and a number where a string belongs, in every table.
      {"a count as a string",
       {{"max_failures = 5", "max_failures = \"5\""}},
       "",
       Kind::kBadValue,
       "line 3: max_failures must be an integer, not a string"},
      {"an image path as a number",
       {{"path = \"release.bin\"", "path = 7"}},
       "",
       Kind::kBadValue,
       "line 6: path in [image] must be a string, not an integer"},
      {"a loader digest as a number",
       {{"sha256 = \"" + station.LoaderSha256() + "\"", "sha256 = 5"}},
       "",
       Kind::kBadValue,
       "line 11: sha256 in [loader] must be a string, not an integer"},
      {"a rate as a string",
       {{"rom_baud = 115200", "rom_baud = \"9600\""}},
       "",
       Kind::kBadValue,
       "line 14: rom_baud in [line] must be an integer, not a string"},
      {"data bits as a string",
       {{"data_bits = 7", "data_bits = \"7\""}},
       "",
       Kind::kBadValue,
       "line 16: data_bits in [line] must be an integer, not a string"},
      {"an offset as a string",
       {{"offset = 0x100", "offset = \"0x100\""}},
       "",
       Kind::kBadValue,
       "line 21: offset in [units] must be an integer, not a string"},
      {"a step as a string",
       {{"step = 2", "step = \"2\""}},
       "",
       Kind::kBadValue,
       "line 23: step in [units] must be an integer, not a string"},
      {"a silence as a string",
       {{"leave_silence_ms = 2500", "leave_silence_ms = \"2500\""}},
       "",
       Kind::kBadValue,
       "line 34: leave_silence_ms in [[port]] must be an integer, not a string"},
      {"a silence with a fraction",
       {{"leave_silence_ms = 2500", "leave_silence_ms = 2.5"}},
       "",
       Kind::kBadValue,
       "line 34: leave_silence_ms in [[port]] must be an integer, not a number with a fraction"},
      {"an unknown board signal",
       {{"board = \"dsr\"", "board = \"dtr\""}},
       "",
       Kind::kBadValue,
       "line 29: board dtr in [[port]] is not one of operator, port, dsr, cts, dcd, ri, chip"},
      {"no image table",
       {{"[image]\npath = \"release.bin\"\nsha256 = \"" + station.ImageSha256() + "\"\n", ""}},
       "",
       Kind::kMissingKey,
       "needs image"},
      {"an image without its digest",
       {{"sha256 = \"" + station.ImageSha256() + "\"\n", ""}},
       "",
       Kind::kMissingKey,
       "[image] needs sha256 (the image's expected SHA-256)"},
      {"a digest too short",
       {{station.ImageSha256(), "9c1f"}},
       "",
       Kind::kBadValue,
       "line 7: sha256 in [image] is not 64 hexadecimal digits"},
      {"not TOML",
       {{"max_failures = 5", "max_failures = "}},
       "",
       Kind::kStationFileNotToml,
       "line 3:"},
      {"a unit number past the image",
       {{"offset = 0x100", "offset = 0x10000"}},
       "",
       Kind::kUnitNumbers,
       file + "21: unit numbers: "},
      {"a state file of another series",
       {},
       R"({"first":1,"step":2,"encoding":"be32","offset":256,"next":5})"
       "\n",
       Kind::kUnitNumbers,
       file + "21: unit numbers: the unit number state " + station.PathOf("units.state") +
           " belongs to another series: this station has first number 40000 (the state file "
           "has 1)"},
      {"a log in a missing folder",
       {{"\"line3.jsonl\"", "\"gone/line3.jsonl\""}},
       "",
       Kind::kLogFolderMissing,
       file + "2: log " + station.PathOf("gone/line3.jsonl") + " cannot be used: its folder " +
           station.PathOf("gone") + " does not exist"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
#ifdef _WIN32
    if (std::string(c.name) == "one port under two spellings") {
      continue;  // needs the link above
    }
#endif
    std::remove(station.PathOf("units.state").c_str());
    if (!c.stateFile.empty()) {
      WriteFile(station.PathOf("units.state"), c.stateFile);
    }
    std::string text = good;
    for (const auto& [from, to] : c.edits) {
      text = Replaced(text, from, to);
    }
    StationParts plan;
    std::string message;
    const std::optional<StationRefusal> refusal = station.Plan(text, plan, message);
    ASSERT_TRUE(refusal.has_value());
    EXPECT_EQ(refusal->kind, c.kind) << message;
    EXPECT_NE(message.find(c.message), std::string::npos) << message;
    EXPECT_EQ(message.rfind("tarvok: ", 0), 0u) << message;
    EXPECT_EQ(std::count(message.begin(), message.end(), '\n'), 1) << message;
    EXPECT_EQ(FileText(station.PathOf("line3.toml")), text);
  }
}

// A wrong image is told by its kind, not by its words: the window says so first, with both
// digests, and any other refusal is not taken for one.
TEST(StationFile, TheWindowSaysWrongImageByTheRefusalsKind) {
  StationFolder station;
  const std::string otherSha(64, 'a');
  const struct {
    const char* name;
    Edits edits;
    const char* heading;
  } cases[] = {
      {"last week's image", {{station.ImageSha256(), otherSha}}, "WRONG IMAGE: nothing was burned"},
      {"another loader", {{station.LoaderSha256(), otherSha}}, "WRONG LOADER: nothing was burned"},
      {"a missing image whose name reads like a wrong one",
       {{"release.bin", "is not the expected one.bin"}},
       "The station cannot be opened:"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::string text = station.GoodText();
    for (const auto& [from, to] : c.edits) {
      text = Replaced(text, from, to);
    }
    StationParts plan;
    std::string message;
    const std::optional<StationRefusal> refusal = station.Plan(text, plan, message);
    ASSERT_TRUE(refusal.has_value());
    const std::string words = RefusalText(*refusal);
    EXPECT_EQ(words.rfind(c.heading, 0), 0u) << words;
    if (refusal->kind == StationRefusalKind::kWrongImage) {
      EXPECT_EQ(refusal->expected, otherSha);
      EXPECT_EQ(refusal->actual, station.ImageSha256());
      EXPECT_NE(words.find(otherSha), std::string::npos) << words;
    }
  }
}

// The same value is refused the same way by `tarvok station` and by the windows, before any
// file is opened: the table's check, not each front end's own.
TEST(StationFile, CommandLineAndWindowsCheckEveryValueAlike) {
  StationFolder station;
  const std::string image = station.PathOf("release.bin");
  const std::string log = station.PathOf("line3.jsonl");
  const struct {
    const char* name;
    std::vector<std::string> arguments;  // after IMAGE --port ... --log ...
    ValueFault fault;
    std::string message;
  } cases[] = {
      {"a burn rate out of the table",
       {"--burn-baud", "12345"},
       ValueFault::kNotOneOf,
       "--burn-baud: 12345 not in {115200,230400,460800,921600}"},
      {"a boot ROM rate out of the table",
       {"--rom-baud", "19200"},
       ValueFault::kNotOneOf,
       "--rom-baud: 19200 not in {9600,115200}"},
      {"a count that is no number",
       {"--max-failures", "three"},
       ValueFault::kOutOfRange,
       "--max-failures three is not a whole number from 0 to 1000000"},
      {"a digest too short",
       {"--expect-sha256", "9c1f"},
       ValueFault::kNotDigest,
       "--expect-sha256 9c1f is not a SHA-256"},
      {"an offset that is no offset",
       {"--unit-offset", "0x1g"},
       ValueFault::kNotOffset,
       "--unit-offset 0x1g is not an offset"},
      {"a flash base of 17 hex digits, which must not wrap to a smaller one",
       {"--flash-base", "0x10000000008000000"},
       ValueFault::kNotOffset,
       "--flash-base 0x10000000008000000 is not an offset"},
      {"an unknown unit format",
       {"--unit-offset", "0", "--unit-first", "1", "--unit-format", "le16"},
       ValueFault::kNotUnitFormat,
       "--unit-format le16 is not le32, be32 or dec:WIDTH"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::string> words;
    for (const StationFront front : {StationFront::kCommandLine, StationFront::kWindow}) {
      std::vector<std::string> arguments = {image, "--port", "COM5", "--log", log};
      arguments.insert(arguments.end(), c.arguments.begin(), c.arguments.end());
      StationParts parts;
      std::string message;
      const std::optional<StationRefusal> refusal = Open(arguments, front, parts, message);
      ASSERT_TRUE(refusal.has_value());
      EXPECT_EQ(refusal->kind, StationRefusalKind::kBadValue);
      EXPECT_EQ(refusal->fault, c.fault);
      EXPECT_NE(message.find(c.message), std::string::npos) << message;
      words.push_back(message);
    }
    EXPECT_EQ(words[0], words[1]);
    EXPECT_FALSE(std::filesystem::exists(log));
  }
}

// A boot stage goes with a loader of the board's own and is refused with the built-in loader
// (which brings its own) or with --classic (which would leave it unused), by every front end;
// named rightly, from the command line or the station file, it reaches the setup.
TEST(StationFile, ABootStageGoesWithItsLoaderFromEveryFront) {
  StationFolder station;
  const std::string stage = station.PathOf("stage.bin");
  const std::string loader = station.PathOf("loader.bin");
  const struct {
    const char* name;
    std::vector<std::string> arguments;  // after IMAGE --port ... --log ...
    std::optional<StationRefusalKind> kind;
    std::string message;
  } cases[] = {
      {"a stage for the built-in loader",
       {"--boot-stage", stage},
       StationRefusalKind::kOptionNeedsOption,
       "tarvok: --boot-stage needs --loader: the built-in loader brings its own boot stage\n"},
      {"a stage that --classic would leave unused",
       {"--loader", loader, "--boot-stage", stage, "--classic"},
       StationRefusalKind::kOptionExcludesOption,
       "tarvok: --boot-stage excludes --classic: the stage would not be used\n"},
      {"a stage with its loader", {"--loader", loader, "--boot-stage", stage}, std::nullopt, ""},
      {"--classic alone", {"--classic"}, std::nullopt, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    for (const StationFront front : {StationFront::kCommandLine, StationFront::kWindow}) {
      std::vector<std::string> arguments = {station.PathOf("release.bin"), "--port", "COM5",
                                            "--log", station.PathOf("line3.jsonl")};
      arguments.insert(arguments.end(), c.arguments.begin(), c.arguments.end());
      StationParts parts;
      std::string message;
      const std::optional<StationRefusal> refusal = Open(arguments, front, parts, message);
      EXPECT_EQ(message, c.message);
      if (c.kind) {
        ASSERT_TRUE(refusal.has_value());
        EXPECT_EQ(refusal->kind, *c.kind);
        continue;
      }
      ASSERT_FALSE(refusal.has_value()) << message;
      const bool staged = c.arguments.size() > 2;
      EXPECT_EQ(parts.setup.classic, !staged);
      ASSERT_EQ(parts.setup.bootStage != nullptr, staged);
      if (staged) {
        EXPECT_EQ(*parts.setup.bootStage, station.Stage());
        EXPECT_EQ(parts.setup.bootStageSha256, station.StageSha256());
      }
    }
  }

  StationParts plan;
  std::string message;
  ASSERT_FALSE(station.Plan(Replaced(station.GoodText(), station.LoaderDigestLine(),
                                     station.WithStage("stage.bin", station.StageSha256())),
                            plan, message))
      << message;
  ASSERT_NE(plan.setup.bootStage, nullptr);
  EXPECT_EQ(*plan.setup.bootStage, station.Stage());
  EXPECT_FALSE(plan.setup.classic);
}

}  // namespace
}  // namespace tarvok
