// The record of one unit's burn, as the station writes it to its log: one JSON object a line.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

#include "burn/BurnRequest.h"

namespace tarvok {

// How a board's attempt ended.
enum class UnitResult {
  kPass,
  kFail,
  kInterrupted,  // stopped by the station (Ctrl-C, a window closed, a kill found on restart)
};

// The result's word in the log ("pass", "fail", "interrupted").
const char* UnitResultWord(UnitResult result);
std::optional<UnitResult> UnitResultOfWord(const std::string& word);

struct UnitRecord {
  std::string time;     // UTC ISO 8601 with milliseconds, "2026-12-08T19:21:58.123Z"
  std::string started;  // when the board's boot ROM answered, as `time`; empty when it never did
  std::string station;  // the station's name
  std::string port, device, adapterSerial;  // adapterSerial empty when unknown (written as null)
  std::string imagePath;
  uint32_t imageSize = 0;
  std::string imageSha256;
  std::string loaderSha256;
  uint32_t romRate = 0, burnRate = 0;
  std::string dataBits, parity, stopBits;  // words as on the command line
  UnitResult result = UnitResult::kFail;
  // The burn status and the failing step's own result; both 0 for a pass and for an
  // interrupted attempt, which no step failed: `result` tells those apart.
  uint32_t status = 0, stepResult = 0;
  std::string message;
  // The stages' own clocks; totalSeconds is the time from `started` to `time` (see
  // StationPort::Record), or the burn's own run time when `started` is empty.
  double loaderSeconds = 0, imageSeconds = 0, totalSeconds = 0;
  // The log's sequence number of this attempt: it goes on from the log's last record when a
  // station starts again, so that it names one attempt in its log.
  uint64_t sequence = 0;
  bool hasUnit = false;       // unit is written as null without it
  uint64_t unit = 0;          // the unit number burned (or used up by a failed burn)
  bool portWentAway = false;  // the burn ended because the port disappeared under it
  // Whether the flash was read back after the image, and the CRC-32 the loader read from it
  // (known for kMatched and kDiffers). A line written before they were kept reads as not asked.
  ReadBack readBack = ReadBack::kNotAsked;
  std::optional<uint32_t> flashCrc;

  bool operator==(const UnitRecord&) const = default;
};

// One JSON object with snake_case keys, ending in '\n' and holding no other newline. Text that
// is not UTF-8 is written with replacement characters.
std::string UnitRecordLine(const UnitRecord& record);

// The record a line of the log holds, with or without its '\n'; nullopt for anything else (a
// line torn by a kill or a full disk, a field missing or of another kind). The exact inverse of
// UnitRecordLine. A line written before port_went_away was kept reads as false; one
// written before read_back and flash_crc32 were kept, as not asked and null.
std::optional<UnitRecord> ParseUnitRecordLine(const std::string& line);

// The time as "2026-12-08T19:21:58.123Z", and back; nullopt for any other text.
std::string UtcTimestamp(std::chrono::system_clock::time_point time);
std::string UtcTimestampNow();
std::optional<std::chrono::system_clock::time_point> ParseUtcTimestamp(const std::string& text);

// The computer's name (UTF-8), the station's default name; empty when the system does not say.
std::string HostName();

}  // namespace tarvok
