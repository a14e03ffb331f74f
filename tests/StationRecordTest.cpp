// The station's records: the unit number's bytes in the image, the state file that hands each
// number out once, the log's lines and the digests.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <limits>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>
#include <thread>
#include <vector>

#include "station/platform/Sha256.h"
#include "station/records/StationLog.h"
#include "station/records/UnitNumber.h"
#include "station/records/UnitNumberStore.h"
#include "tests/support/FileText.h"
#include "tests/support/ScratchFolder.h"

namespace tarvok {
namespace {

UnitNumberPlan PlanOf(const std::string& encoding, uint32_t offset, uint64_t first,
                      uint64_t step = 1) {
  UnitNumberPlan plan;
  plan.offset = offset;
  plan.first = first;
  plan.step = step;
  EXPECT_TRUE(ParseUnitEncoding(encoding, plan)) << encoding;
  return plan;
}

using testing::FileText;

void WriteFileText(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

std::vector<std::string> LinesOf(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    lines.push_back(line);
  }
  return lines;
}

TEST(UnitNumberTest, FieldBytesInTheImage) {
  const uint8_t o = 0xEE;  // the image around the field, left alone
  struct Case {
    std::string encoding;
    uint64_t number;
    std::vector<uint8_t> image;  // 12 bytes; the field starts at offset 2
  };
  const Case cases[] = {
      {"le32", 0x12345678, {o, o, 0x78, 0x56, 0x34, 0x12, o, o, o, o, o, o}},
      {"be32", 0x12345678, {o, o, 0x12, 0x34, 0x56, 0x78, o, o, o, o, o, o}},
      {"le32", 0xFFFFFFFF, {o, o, 0xFF, 0xFF, 0xFF, 0xFF, o, o, o, o, o, o}},  // the field's edge
      {"be32", 1, {o, o, 0x00, 0x00, 0x00, 0x01, o, o, o, o, o, o}},
      {"dec:8", 42, {o, o, '0', '0', '0', '0', '0', '0', '4', '2', o, o}},
      {"dec:8", 99999999, {o, o, '9', '9', '9', '9', '9', '9', '9', '9', o, o}},  // the edge
      {"dec:3", 7, {o, o, '0', '0', '7', o, o, o, o, o, o, o}},
      {"dec:10", 4294967296, {o, o, '4', '2', '9', '4', '9', '6', '7', '2', '9', '6'}},
  };
  for (const Case& c : cases) {
    const UnitNumberPlan plan = PlanOf(c.encoding, 2, 0);
    ASSERT_TRUE(NumberFitsField(plan, c.number)) << c.encoding << " " << c.number;
    std::vector<uint8_t> image(12, o);
    WriteUnitNumber(plan, c.number, image.data());
    EXPECT_EQ(image, c.image) << c.encoding << " " << c.number;
  }
}

TEST(UnitNumberTest, EncodingWords) {
  struct Case {
    std::string word;
    bool parses;
    UnitEncoding encoding;
    uint32_t fieldBytes;
  };
  const Case cases[] = {
      {"le32", true, UnitEncoding::kLittleEndian32, 4},
      {"be32", true, UnitEncoding::kBigEndian32, 4},
      {"dec:8", true, UnitEncoding::kDecimal, 8},
      {"dec:20", true, UnitEncoding::kDecimal, 20},
      {"dec:", false, {}, 0},
      {"dec:x", false, {}, 0},
      {"dec:-1", false, {}, 0},
      {"dec: 8", false, {}, 0},
      {"LE32", false, {}, 0},
      {"le16", false, {}, 0},
      {"", false, {}, 0},
  };
  for (const Case& c : cases) {
    UnitNumberPlan plan;
    ASSERT_EQ(ParseUnitEncoding(c.word, plan), c.parses) << c.word;
    if (c.parses) {
      EXPECT_EQ(plan.encoding, c.encoding) << c.word;
      EXPECT_EQ(FieldBytes(plan), c.fieldBytes) << c.word;
      EXPECT_EQ(UnitEncodingWord(plan), c.word);
    }
  }
}

TEST(UnitNumberTest, PlansThatCannotBeUsed) {
  constexpr uint64_t kMax64 = std::numeric_limits<uint64_t>::max();
  struct Case {
    std::string encoding;
    uint32_t offset;
    uint64_t first;
    uint64_t step;
    std::string problem;  // a part of the message; empty: the plan is fine
  };
  const Case cases[] = {
      {"le32", 252, 1, 1, ""},  // the field ends where the image ends
      {"le32", 256, 1, 1, "offset 256 is past the image's 256 bytes"},
      {"le32", 253, 1, 1, "4 bytes at offset 253 run past the image's 256 bytes"},
      {"dec:8", 249, 1, 1, "8 bytes at offset 249 run past"},
      {"dec:8", 248, 1, 1, ""},
      {"le32", 0, 0xFFFFFFFF, 1, ""},
      {"be32", 0, 0x100000000, 1, "4294967296 does not fit be32 (at most 4294967295)"},
      {"dec:3", 0, 999, 1, ""},
      {"dec:3", 0, 1000, 1, "1000 does not fit dec:3 (at most 999)"},
      {"dec:20", 0, kMax64, 1, ""},
      {"le32", 0, 1, 0, "step is 0"},
      {"dec:0", 0, 0, 1, "1 to 20 digits, not 0"},
      {"dec:21", 0, 0, 1, "1 to 20 digits, not 21"},
  };
  for (const Case& c : cases) {
    const std::string problem =
        ProblemWithUnitPlan(PlanOf(c.encoding, c.offset, c.first, c.step), 256);
    if (c.problem.empty()) {
      EXPECT_EQ(problem, "") << c.encoding << " at " << c.offset;
    } else {
      EXPECT_NE(problem.find(c.problem), std::string::npos)
          << c.encoding << " at " << c.offset << ": " << problem;
    }
  }
}

class UnitNumberStoreTest : public ::testing::Test {
 protected:
  ScratchFolder folder_;
  const std::string statePath_ = folder_.PathOf("station.jsonl.unit-state");
  const UnitNumberPlan plan_ = PlanOf("le32", 256, 1000, 3);

  std::unique_ptr<UnitNumberStore> OpenStore(const UnitNumberPlan& plan) {
    std::string problem;
    std::unique_ptr<UnitNumberStore> store = UnitNumberStore::Open(statePath_, plan, problem);
    EXPECT_TRUE(store) << problem;
    return store;
  }

  uint64_t Take(UnitNumberStore& store) {
    uint64_t number = 0;
    std::string problem;
    EXPECT_TRUE(store.Take(number, problem)) << problem;
    return number;
  }

  // Opening fails with a message holding each of `parts`, and leaves the state file as it was.
  void ExpectRefused(const UnitNumberPlan& plan, const std::vector<std::string>& parts) {
    const std::string before = FileText(statePath_);
    std::string problem;
    EXPECT_FALSE(UnitNumberStore::Open(statePath_, plan, problem));
    for (const std::string& part : parts) {
      EXPECT_NE(problem.find(part), std::string::npos) << "'" << part << "' in: " << problem;
    }
    EXPECT_EQ(FileText(statePath_), before);
  }
};

TEST_F(UnitNumberStoreTest, NumbersContinueAfterARestart) {
  EXPECT_EQ(UnitStatePathBeside(folder_.PathOf("station.jsonl")), statePath_);
  {
    const auto store = OpenStore(plan_);
    ASSERT_TRUE(store);
    EXPECT_EQ(store->Path(), statePath_);
    EXPECT_EQ(Take(*store), 1000u);
    EXPECT_EQ(Take(*store), 1003u);
  }
  const nlohmann::json saved = nlohmann::json::parse(FileText(statePath_));
  EXPECT_EQ(saved, nlohmann::json::parse(
                       R"({"first":1000,"step":3,"encoding":"le32","offset":256,"next":1006})"));
  const auto store = OpenStore(plan_);
  ASSERT_TRUE(store);
  EXPECT_EQ(store->Next(), 1006u);
  EXPECT_EQ(Take(*store), 1006u);
}

TEST_F(UnitNumberStoreTest, ThreadsTakingAtOnceGetDistinctNumbersWithoutGaps) {
  const auto store = OpenStore(plan_);
  ASSERT_TRUE(store);
  constexpr int kThreads = 4, kEach = 25;
  std::vector<std::vector<uint64_t>> taken(kThreads);
  std::vector<std::thread> threads;
  for (auto& mine : taken) {
    threads.emplace_back([&store, &mine] {
      for (int i = 0; i < kEach; ++i) {
        uint64_t number = 0;
        std::string problem;
        if (store->Take(number, problem)) {
          mine.push_back(number);
        }
      }
    });
  }
  for (auto& thread : threads) {
    thread.join();
  }
  std::vector<uint64_t> all;
  for (const auto& mine : taken) {
    all.insert(all.end(), mine.begin(), mine.end());
  }
  std::sort(all.begin(), all.end());
  ASSERT_EQ(all.size(), static_cast<size_t>(kThreads * kEach));
  for (size_t i = 0; i < all.size(); ++i) {
    EXPECT_EQ(all[i], 1000 + 3 * i);
  }
  EXPECT_EQ(store->Next(), 1000u + 3u * kThreads * kEach);
  EXPECT_EQ(nlohmann::json::parse(FileText(statePath_))["next"], store->Next());
}

TEST_F(UnitNumberStoreTest, AStateFileOfAnotherSeriesIsRefused) {
  {
    const auto store = OpenStore(plan_);
    ASSERT_TRUE(store);
    Take(*store);
  }
  struct Case {
    UnitNumberPlan plan;
    std::string difference;
  };
  const Case cases[] = {
      {PlanOf("le32", 256, 1, 3), "first number 1 (the state file has 1000)"},
      {PlanOf("le32", 256, 1000, 1), "step 1 (the state file has 3)"},
      {PlanOf("be32", 256, 1000, 3), "encoding be32 (the state file has le32)"},
      {PlanOf("dec:10", 256, 1000, 3), "encoding dec:10 (the state file has le32)"},
      {PlanOf("le32", 0, 1000, 3), "offset 0 (the state file has 256)"},
  };
  for (const Case& c : cases) {
    ExpectRefused(c.plan, {statePath_, c.difference, "move the state file away"});
  }
  const auto store = OpenStore(plan_);
  ASSERT_TRUE(store);
  EXPECT_EQ(store->Next(), 1003u);
}

TEST_F(UnitNumberStoreTest, ADamagedStateFileIsRefused) {
  const std::string texts[] = {
      "",
      "{\"first\":1000,\"step\":3,\"enco",
      "1006\n",
      R"({"first":1000,"step":3,"encoding":"le32","offset":256})",
      R"({"first":1000,"step":3,"encoding":"le32","offset":256,"next":-6})",
      R"({"first":1000,"step":3,"encoding":"le32","offset":256,"next":"1006"})",
      R"({"first":1000,"step":3,"encoding":"le32","offset":256,"next":1006.5})",
      R"({"first":1000,"step":3,"encoding":"le16","offset":256,"next":1006})",
      R"({"first":1000,"step":3,"encoding":"le32","offset":256,"next":1007})",  // off the series
      R"({"first":1000,"step":3,"encoding":"le32","offset":256,"next":997})",   // before the first
  };
  for (const std::string& text : texts) {
    WriteFileText(statePath_, text);
    ExpectRefused(plan_, {statePath_, "damaged"});
  }
}

TEST_F(UnitNumberStoreTest, NumbersRunOutAtTheFieldsEdge) {
  struct Case {
    UnitNumberPlan plan;
    std::vector<uint64_t> handedOut;
    uint64_t next;  // after the last, no longer fitting
  };
  const Case cases[] = {
      {PlanOf("le32", 0, 0xFFFFFFFE), {0xFFFFFFFE, 0xFFFFFFFF}, 0x100000000},
      {PlanOf("be32", 0, 0xFFFFFFF0, 0x10), {0xFFFFFFF0}, 0x100000000},
      {PlanOf("dec:3", 0, 990, 5), {990, 995}, 1000},
  };
  for (const Case& c : cases) {
    std::filesystem::remove(statePath_);
    {
      const auto store = OpenStore(c.plan);
      ASSERT_TRUE(store);
      for (const uint64_t expected : c.handedOut) {
        EXPECT_EQ(Take(*store), expected);
      }
      uint64_t number = 7;
      std::string problem;
      EXPECT_FALSE(store->Take(number, problem));
      EXPECT_EQ(number, 7u);
      EXPECT_NE(problem.find("used up"), std::string::npos) << problem;
      EXPECT_EQ(store->Next(), c.next);
    }
    ExpectRefused(c.plan, {"used up", std::to_string(c.next)});
  }
}

TEST_F(UnitNumberStoreTest, AStateFileInUseIsRefused) {
  const auto first = OpenStore(plan_);
  ASSERT_TRUE(first);
  ExpectRefused(plan_, {statePath_, "another running station"});
  EXPECT_EQ(Take(*first), 1000u);
}

TEST(StationLogTest, ARecordHoldsEveryField) {
  UnitRecord record;
  record.time = "2026-12-08T19:21:58.123Z";
  record.station = "line-3";
  record.port = "COM7";
  record.device = "\\\\.\\COM7";
  record.adapterSerial = "A10K3Z";
  record.imagePath = "C:/images/app \"v2\".bin";
  record.imageSize = 65536;
  record.imageSha256 = std::string(64, 'a');
  record.loaderSha256 = std::string(64, 'b');
  record.romRate = 115200;
  record.burnRate = 921600;
  record.dataBits = "8";
  record.parity = "even";
  record.stopBits = "1.5";
  record.result = UnitResult::kFail;
  record.status = 0x14;
  record.stepResult = 3;
  record.message = "the chip stopped answering\nat block 12";
  record.loaderSeconds = 1.25;
  record.imageSeconds = 6.5;
  record.totalSeconds = 8;
  record.started = "2026-12-08T19:21:50.001Z";
  record.sequence = 17;
  record.hasUnit = true;
  record.unit = 0xFFFFFFFF;
  record.readBack = ReadBack::kDiffers;
  record.flashCrc = 0x0BADF00D;
  const std::string line = UnitRecordLine(record);
  ASSERT_FALSE(line.empty());
  EXPECT_EQ(line.back(), '\n');
  EXPECT_EQ(std::count(line.begin(), line.end(), '\n'), 1);
  const nlohmann::json expected = {
      {"time", "2026-12-08T19:21:58.123Z"},
      {"started", "2026-12-08T19:21:50.001Z"},
      {"station", "line-3"},
      {"port", "COM7"},
      {"device", "\\\\.\\COM7"},
      {"adapter_serial", "A10K3Z"},
      {"image_path", "C:/images/app \"v2\".bin"},
      {"image_size", 65536},
      {"image_sha256", std::string(64, 'a')},
      {"loader_sha256", std::string(64, 'b')},
      {"rom_rate", 115200},
      {"burn_rate", 921600},
      {"data_bits", "8"},
      {"parity", "even"},
      {"stop_bits", "1.5"},
      {"result", "fail"},
      {"status", 0x14},
      {"step_result", 3},
      {"message", "the chip stopped answering\nat block 12"},
      {"loader_seconds", 1.25},
      {"image_seconds", 6.5},
      {"total_seconds", 8.0},
      {"sequence", 17},
      {"unit", 0xFFFFFFFF},
      {"port_went_away", false},
      {"read_back", "differs"},
      {"flash_crc32", "0x0BADF00D"},
  };
  EXPECT_EQ(nlohmann::json::parse(line), expected);

  record.adapterSerial.clear();
  record.hasUnit = false;
  record.readBack = ReadBack::kNoAnswer;
  record.flashCrc.reset();
  const nlohmann::json unknown = nlohmann::json::parse(UnitRecordLine(record));
  EXPECT_TRUE(unknown.at("adapter_serial").is_null());
  EXPECT_TRUE(unknown.at("unit").is_null());
  EXPECT_EQ(unknown.at("read_back"), "no answer");
  EXPECT_TRUE(unknown.at("flash_crc32").is_null());
}

// The log's reader gives back exactly the record each line was written from, and nothing for a
// line that is not a whole record.
TEST(StationLogTest, ALineReadsBackAsItsRecord) {
  UnitRecord full;
  full.time = "2026-12-08T19:21:58.123Z";
  full.started = "2026-12-08T19:21:50.001Z";
  full.station = "line-3 \"east\"";
  full.port = "COM7";
  full.device = "\\\\.\\COM7";
  full.adapterSerial = "A10K3Z";
  full.imagePath = "C:/images/app.bin";
  full.imageSize = 0xFFFFFFFF;
  full.imageSha256 = std::string(64, 'a');
  full.loaderSha256 = std::string(64, 'b');
  full.romRate = 115200;
  full.burnRate = 921600;
  full.dataBits = "8";
  full.parity = "even";
  full.stopBits = "1.5";
  full.result = UnitResult::kFail;
  full.status = 0xA0006;
  full.stepResult = 0xA0000;
  full.message = "the port went away\nduring the burn";
  full.loaderSeconds = 0.1 + 0.2;  // no short decimal
  full.imageSeconds = 1e-9;
  full.totalSeconds = 86400.001;
  full.sequence = UINT64_MAX;
  full.hasUnit = true;
  full.unit = 0;
  full.portWentAway = true;
  full.readBack = ReadBack::kMatched;
  full.flashCrc = 0xCBF43926;
  UnitRecord unknowns = full;  // written as null
  unknowns.flashCrc.reset();
  unknowns.readBack = ReadBack::kNoAnswer;
  unknowns.started.clear();
  unknowns.adapterSerial.clear();
  unknowns.hasUnit = false;
  unknowns.result = UnitResult::kInterrupted;
  UnitRecord passed = unknowns;
  passed.result = UnitResult::kPass;
  passed.portWentAway = false;
  for (const UnitRecord& record : {full, unknowns, passed, UnitRecord{}}) {
    const std::string line = UnitRecordLine(record);
    const std::optional<UnitRecord> read = ParseUnitRecordLine(line);
    ASSERT_TRUE(read) << line;
    EXPECT_TRUE(*read == record) << line;
    EXPECT_EQ(UnitRecordLine(*read), line);
    EXPECT_EQ(ParseUnitRecordLine(line.substr(0, line.size() - 1)), read);  // without its '\n'
  }

  const std::string line = UnitRecordLine(full);
  const auto with = [&](const std::string& from, const std::string& to) {
    std::string changed = line;
    const std::size_t at = changed.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    return at == std::string::npos ? changed : changed.replace(at, from.size(), to);
  };
  struct Case {
    std::string name;
    std::string line;
    bool reads;
  };
  const Case cases[] = {
      {"torn by a kill", line.substr(0, line.size() / 2), false},
      {"torn at its last brace", line.substr(0, line.size() - 2), false},
      {"empty", "", false},
      {"another object", "{\"start\":1}", false},
      {"not an object", "[1,2]", false},
      {"a field missing", with("\"status\":655366,", ""), false},
      {"a number as text", with("\"status\":655366", "\"status\":\"655366\""), false},
      {"a status below 0", with("\"status\":655366", "\"status\":-1"), false},
      {"a status past 32 bits", with("\"status\":655366", "\"status\":4294967296"), false},
      {"a result the log never writes", with("\"result\":\"fail\"", "\"result\":\"FAIL\""), false},
      {"a unit that is text", with("\"unit\":0", "\"unit\":\"0\""), false},
      {"a port_went_away that is text", with("\"port_went_away\":true", "\"port_went_away\":1"),
       false},
      {"written before port_went_away was kept", with(",\"port_went_away\":true", ""), true},
      {"a read_back the log never writes",
       with("\"read_back\":\"matched\"", "\"read_back\":\"MATCHED\""), false},
      {"a flash_crc32 that is a number",
       with("\"flash_crc32\":\"0xCBF43926\"", "\"flash_crc32\":3421780262"), false},
      {"a flash_crc32 without its 0x",
       with("\"flash_crc32\":\"0xCBF43926\"", "\"flash_crc32\":\"CBF43926\""), false},
      {"written before read_back and flash_crc32 were kept",
       with(",\"read_back\":\"matched\",\"flash_crc32\":\"0xCBF43926\"", ""), true},
      {"a field this reader does not know", with("{", "{\"shift\":\"B\","), true},
  };
  for (const Case& c : cases) {
    const std::optional<UnitRecord> read = ParseUnitRecordLine(c.line);
    EXPECT_EQ(read.has_value(), c.reads) << c.name << ": " << c.line;
    if (read) {
      EXPECT_EQ(read->status, full.status) << c.name;
      EXPECT_EQ(read->portWentAway, c.line.find("port_went_away") != std::string::npos) << c.name;
      const bool readBackKept = c.line.find("read_back") != std::string::npos;
      EXPECT_EQ(read->readBack, readBackKept ? ReadBack::kMatched : ReadBack::kNotAsked) << c.name;
      EXPECT_EQ(read->flashCrc, readBackKept ? full.flashCrc : std::nullopt) << c.name;
    }
  }
}

TEST(StationLogTest, UtcTimestamps) {
  struct Case {
    int64_t millisecondsSinceEpoch;
    std::string text;
  };
  const Case cases[] = {
      {0, "1970-01-01T00:00:00.000Z"},
      {1796757718123, "2026-12-08T19:21:58.123Z"},
      {1709251199999, "2024-02-29T23:59:59.999Z"},
  };
  for (const Case& c : cases) {
    const std::chrono::system_clock::time_point time{
        std::chrono::milliseconds(c.millisecondsSinceEpoch)};
    EXPECT_EQ(UtcTimestamp(time), c.text);
    EXPECT_EQ(ParseUtcTimestamp(c.text), time);
  }
  EXPECT_EQ(UtcTimestampNow().size(), 24u);
  for (const std::string text :
       {"2026-12-08T19:21:58.123", "2026-12-08 19:21:58.123Z", "2026-02-30T19:21:58.123Z",
        "2026-12-08T24:00:00.000Z", "2026-12-08T19:60:00.000Z", "2026-12-08T19:21:58.12Z",
        "2026-12-08T19:21:58.1234Z", "+026-12-08T19:21:58.123Z", ""}) {
    EXPECT_FALSE(ParseUtcTimestamp(text)) << text;
  }
}

TEST(StationLogTest, LinesFromTwoThreadsStayWhole) {
  const ScratchFolder folder;
  const std::string path = folder.PathOf("station.jsonl");
  std::string problem;
  const auto log = StationLog::Open(path, problem);
  ASSERT_TRUE(log) << problem;
  EXPECT_EQ(log->Path(), path);
  constexpr int kEach = 200;
  std::atomic<int> failures{0};
  const auto append = [&](const std::string& port) {
    UnitRecord record;
    record.port = port;
    record.message = std::string(300, 'x');  // long lines, more room to interleave
    for (int i = 0; i < kEach; ++i) {
      record.sequence = static_cast<uint64_t>(i);
      std::string appendProblem;
      if (!log->Append(UnitRecordLine(record), appendProblem)) {
        ++failures;
      }
    }
  };
  std::thread one(append, "one"), two(append, "two");
  one.join();
  two.join();
  EXPECT_EQ(failures, 0);
  std::set<std::pair<std::string, uint64_t>> seen;
  const std::vector<std::string> lines = LinesOf(FileText(path));
  ASSERT_EQ(lines.size(), 2u * kEach);
  for (const std::string& line : lines) {
    const nlohmann::json record = nlohmann::json::parse(line, nullptr, false);
    ASSERT_FALSE(record.is_discarded()) << line;
    seen.emplace(record["port"].get<std::string>(), record["sequence"].get<uint64_t>());
  }
  EXPECT_EQ(seen.size(), 2u * kEach);
}

TEST(StationLogTest, ARecordAfterATornLineStartsOnAFreshLine) {
  const ScratchFolder folder;
  const std::string path = folder.PathOf("station.jsonl");
  struct Case {
    std::string before;
    std::string after;  // with "R" for the record appended
  };
  const Case cases[] = {
      {"", "R"},
      {"{\"a\":1}\n", "{\"a\":1}\nR"},
      {"{\"a\":1}\n{\"port\":\"CO", "{\"a\":1}\n{\"port\":\"CO\nR"},
  };
  UnitRecord record;
  record.port = "COM3";
  const std::string line = UnitRecordLine(record);
  for (const Case& c : cases) {
    std::filesystem::remove(path);
    if (!c.before.empty()) {
      WriteFileText(path, c.before);
    }
    std::string problem;
    const auto log = StationLog::Open(path, problem);
    ASSERT_TRUE(log) << problem;
    ASSERT_TRUE(log->Append(line, problem)) << problem;
    ASSERT_TRUE(log->Append(line, problem)) << problem;
    std::string expected = c.after;
    expected.replace(expected.find('R'), 1, line + line);
    EXPECT_EQ(FileText(path), expected);
  }
}

TEST(Sha256Test, KnownDigests) {
  struct Case {
    std::string text;
    std::string digest;
  };
  const Case cases[] = {
      {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
       "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Sha256Hex(reinterpret_cast<const uint8_t*>(c.text.data()), c.text.size()), c.digest)
        << "'" << c.text << "'";
  }
}

}  // namespace
}  // namespace tarvok
