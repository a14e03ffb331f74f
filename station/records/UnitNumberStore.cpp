#include "station/records/UnitNumberStore.h"

#include <limits>
#include <nlohmann/json.hpp>

namespace tarvok {

namespace {

// The series a state file belongs to, as the plan and the file both say it.
struct UnitSeries {
  uint64_t first = 0;
  uint64_t step = 0;
  std::string encoding;
  uint64_t offset = 0;
};

UnitSeries SeriesOf(const UnitNumberPlan& plan) {
  return {plan.first, plan.step, UnitEncodingWord(plan), plan.offset};
}

std::string StateText(const UnitSeries& series, uint64_t next) {
  nlohmann::ordered_json state = {{"first", series.first},
                                  {"step", series.step},
                                  {"encoding", series.encoding},
                                  {"offset", series.offset},
                                  {"next", next}};
  return state.dump() + "\n";
}

bool UnsignedField(const nlohmann::json& state, const char* key, uint64_t& value) {
  const auto found = state.find(key);
  if (found == state.end() || !found->is_number_unsigned()) {
    return false;
  }
  value = found->get<uint64_t>();
  return true;
}

// Reads the series and the next number from the state file's text; false when it is damaged.
bool ParseState(const std::string& text, UnitSeries& series, uint64_t& next) {
  const nlohmann::json state = nlohmann::json::parse(text, nullptr, false);
  if (state.is_discarded() || !state.is_object()) {
    return false;
  }
  const auto encoding = state.find("encoding");
  if (encoding == state.end() || !encoding->is_string()) {
    return false;
  }
  series.encoding = encoding->get<std::string>();
  UnitNumberPlan parsed;
  return ParseUnitEncoding(series.encoding, parsed) &&
         UnsignedField(state, "first", series.first) && UnsignedField(state, "step", series.step) &&
         UnsignedField(state, "offset", series.offset) && UnsignedField(state, "next", next);
}

// What differs between the state file's series and the plan's, as "first number 1000 (the
// state file has 1)"; empty when they agree.
std::string SeriesDifferences(const UnitSeries& saved, const UnitSeries& planned) {
  std::string differences;
  const auto add = [&differences](const std::string& what, const std::string& plan,
                                  const std::string& file) {
    if (plan != file) {
      differences += (differences.empty() ? "" : ", ") + what + " " + plan +
                     " (the state file has " + file + ")";
    }
  };
  add("first number", std::to_string(planned.first), std::to_string(saved.first));
  add("step", std::to_string(planned.step), std::to_string(saved.step));
  add("encoding", planned.encoding, saved.encoding);
  add("offset", std::to_string(planned.offset), std::to_string(saved.offset));
  return differences;
}

std::string UsedUpText(const UnitNumberPlan& plan, uint64_t next) {
  return "the unit numbers are used up: the next, " + std::to_string(next) + ", does not fit " +
         UnitEncodingWord(plan) + " (at most " + std::to_string(LargestFieldNumber(plan)) + ")";
}

}  // namespace

std::unique_ptr<UnitNumberStore> UnitNumberStore::Open(const std::string& path,
                                                       const UnitNumberPlan& plan,
                                                       std::string& problem) {
  bool busy = false;
  std::unique_ptr<ExclusiveFileLock> lock =
      ExclusiveFileLock::Acquire(path + ".lock", busy, problem);
  if (!lock) {
    if (busy) {
      problem = "the unit number state " + path +
                " is in use by another running station: stop it, or give this station its own "
                "state file";
    }
    return nullptr;
  }
  const UnitSeries planned = SeriesOf(plan);
  std::string text;
  uint64_t next = plan.first;
  switch (ReadWholeFile(path, text, problem)) {
    case ReadResult::kFailed:
      return nullptr;
    case ReadResult::kMissing:
      if (!ReplaceFileDurably(path, StateText(planned, next), problem)) {
        return nullptr;
      }
      break;
    case ReadResult::kRead: {
      UnitSeries saved;
      if (!ParseState(text, saved, next)) {
        problem = "the unit number state " + path +
                  " is damaged, so it cannot say which numbers were already used: restore it, or "
                  "write the next unused number into it by hand";
        return nullptr;
      }
      const std::string differences = SeriesDifferences(saved, planned);
      if (!differences.empty()) {
        problem = "the unit number state " + path +
                  " belongs to another series: this station has " + differences +
                  ". Pass the series the state file has to continue it, or move "
                  "the state file away to start a new series";
        return nullptr;
      }
      if (next < plan.first || (next - plan.first) % plan.step != 0) {
        problem = "the unit number state " + path + " is damaged: its next number " +
                  std::to_string(next) + " is not in the series from " +
                  std::to_string(plan.first) + " in steps of " + std::to_string(plan.step) +
                  "; restore it, or correct its next number by hand";
        return nullptr;
      }
      break;
    }
  }
  if (!NumberFitsField(plan, next)) {
    problem = UsedUpText(plan, next) + " (state file " + path + ")";
    return nullptr;
  }
  return std::unique_ptr<UnitNumberStore>(new UnitNumberStore(path, plan, next, std::move(lock)));
}

UnitNumberStore::UnitNumberStore(std::string path, const UnitNumberPlan& plan, uint64_t next,
                                 std::unique_ptr<ExclusiveFileLock> lock)
    : path_(std::move(path)), plan_(plan), lock_(std::move(lock)), next_(next) {}

bool UnitNumberStore::Take(uint64_t& number, std::string& problem) {
  const std::lock_guard<std::mutex> hold(mutex_);
  if (!NumberFitsField(plan_, next_) || next_ > std::numeric_limits<uint64_t>::max() - plan_.step) {
    problem = UsedUpText(plan_, next_);
    return false;
  }
  const uint64_t following = next_ + plan_.step;
  std::string saveProblem;
  if (!ReplaceFileDurably(path_, StateText(SeriesOf(plan_), following), saveProblem)) {
    problem = "cannot save the next unit number: " + saveProblem;
    return false;
  }
  number = next_;
  next_ = following;
  return true;
}

uint64_t UnitNumberStore::Next() const {
  const std::lock_guard<std::mutex> hold(mutex_);
  return next_;
}

std::string UnitStatePathBeside(const std::string& logPath) {
  return logPath + ".unit-state";
}

}  // namespace tarvok
