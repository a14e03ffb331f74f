// Which ports hold a board the station has burned (or was burning) and not yet seen leave,
// kept on disk so that a station restarted after a crash or a kill never burns such a board
// again: its ports first wait for those boards to leave.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "station/platform/DurableFiles.h"
#include "station/records/UnitRecord.h"

namespace tarvok {

struct BoardInPlace {
  // How its burn ended, once recorded; empty while the burn was under way (a station killed
  // then may never have recorded it).
  std::optional<UnitResult> result;
  std::string started;  // when its boot ROM answered (UTC, as in the log)
  std::string device;
  bool hasUnit = false;
  uint64_t unit = 0;
  // What told its device from others as its burn began (see StationWorld::deviceIdentity);
  // empty when nothing could.
  std::string identity = {};
};

class BoardLedger {
 public:
  // Opens (or creates) the ledger at `path` and holds its lock (`path` + ".lock") for the
  // ledger's life: one station at a time. Null with a message for people in `problem`.
  static std::unique_ptr<BoardLedger> Open(const std::string& path, std::string& problem);

  std::optional<BoardInPlace> Find(const std::string& port) const;
  // Each change is on disk before it returns; false with `problem` when it could not be saved.
  bool Set(const std::string& port, const BoardInPlace& board, std::string& problem);
  bool Clear(const std::string& port, std::string& problem);

 private:
  BoardLedger(std::string path, std::unique_ptr<ExclusiveFileLock> lock,
              std::map<std::string, BoardInPlace> boards);
  bool Save(std::string& problem);

  const std::string path_;
  const std::unique_ptr<ExclusiveFileLock> lock_;
  mutable std::mutex mutex_;
  std::map<std::string, BoardInPlace> boards_;
};

// The ledger's file for a log file: the log's path with ".boards-in-place" appended.
std::string BoardLedgerPathBeside(const std::string& logPath);

// Whether the log at `logPath` already holds the record of the attempt on `port` that started
// at `started` (looked for among its last lines, where a crash right after recording leaves it).
bool LogHoldsAttempt(const std::string& logPath, const std::string& port,
                     const std::string& started);

}  // namespace tarvok
