// The next unit number, kept in a state file: every number is handed out at most once, across
// the station's ports, restarts and crashes.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "station/platform/DurableFiles.h"
#include "station/records/UnitNumber.h"

namespace tarvok {

class UnitNumberStore {
 public:
  // Opens (or creates) the state file at `path` for `plan`, and holds its companion lock file
  // (`path` + ".lock") for the store's life. Null with a message for people in `problem` when
  // the state file disagrees with the plan, cannot be read or is damaged, its next number is
  // past the field, or another running station holds it.
  static std::unique_ptr<UnitNumberStore> Open(const std::string& path, const UnitNumberPlan& plan,
                                               std::string& problem);

  // Takes the next number: saves the following one durably first, then hands out `number`.
  // Safe from several threads at once; a crash at any moment may lose a number, never hand
  // one out twice. false with `problem` when the numbers are used up or the state cannot be
  // saved; nothing is handed out then.
  bool Take(uint64_t& number, std::string& problem);

  uint64_t Next() const;  // the number the next Take would hand out
  const std::string& Path() const { return path_; }

 private:
  UnitNumberStore(std::string path, const UnitNumberPlan& plan, uint64_t next,
                  std::unique_ptr<ExclusiveFileLock> lock);

  const std::string path_;
  const UnitNumberPlan plan_;
  const std::unique_ptr<ExclusiveFileLock> lock_;
  mutable std::mutex mutex_;
  uint64_t next_;
};

// The default state file for a log file: the log's path with ".unit-state" appended.
std::string UnitStatePathBeside(const std::string& logPath);

}  // namespace tarvok
