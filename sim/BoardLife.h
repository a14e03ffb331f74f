// One board's life on a production fixture: it waits for its burn, then runs its application
// for a while (the boot ROM no longer answers), then leaves and the line goes dead. A pulled
// board leaves in the middle of its image; a stuck one never leaves.
//
// A pure state machine over the chip it follows: the chip's transport asks it whether the
// chip still listens, and hands it the host's bytes once the chip no longer does.
#pragma once

#include <cstdint>

#include "sim/Chip.h"
#include "sim/WakeSentence.h"

namespace tarvok::sim {

// What a board's application sends once it runs.
enum class AppSpeech { kNmea, kSilent };

struct BoardPlan {
  uint32_t number = 1;    // counted from 1
  uint32_t appMs = 3000;  // how long the application runs before the board leaves
  AppSpeech speech = AppSpeech::kNmea;
  bool pulled = false;  // leaves at half its image
  bool stuck = false;   // never leaves
  // The host sending nothing this long in the middle of a burn ends it as failed.
  uint32_t burnSilenceMs = 2000;
};

enum class BoardResult { kNeverBurned, kBurned, kFailed, kPulled };

// What a board went through, for its report.
struct BoardRecord {
  uint32_t number = 0;
  BoardResult result = BoardResult::kNeverBurned;
  // The host woke the boot ROM (completed its handshake), or spoke to the loader of a board
  // that arrived with its loader running.
  uint32_t burnsStarted = 0;
  uint32_t imageStagesStarted = 0;
  uint32_t imageStagesFinished = 0;
  // The boot ROM started a boot stage, and the stage brought the loader in and started it
  // (the C++ model tells; on the emulated CPU only the start is known).
  bool bootStageStarted = false;
  bool bootStageBroughtLoader = false;
  // Wake-up sentences the host sent once the application ran: attempts at a second burn.
  uint32_t wakeSentencesAfterBurn = 0;
  bool left = false;
  int64_t inPlaceUs = 0;  // from its arrival to its leaving (or to now)
};

class BoardLife {
 public:
  enum class Phase { kInPlace, kApplication, kGone };

  BoardLife(const BoardPlan& plan, int64_t arrivedUs);

  // Looks at the chip at `nowUs`: ends the burn, pulls the board, or lets it leave when its
  // time has come.
  void Follow(const Chip& chip, int64_t nowUs);
  // A byte of the host's reached the chip at `nowUs` while the board waited for its burn.
  void NoteHostByte(int64_t nowUs) { lastHostByteUs_ = nowUs; }
  // The line went dead on a fault (--hang-up-to-chip and the like): a board in place is as
  // good as pulled.
  void LineDied(int64_t nowUs);
  // Someone took the board out of the fixture: a board in place leaves as pulled.
  void TakenOut(int64_t nowUs) { LineDied(nowUs); }
  // A byte of the host's while the application runs (the chip does not hear it).
  void HearWhileRunning(uint8_t byte);

  Phase CurrentPhase() const { return phase_; }
  bool ChipListens() const { return phase_ == Phase::kInPlace; }
  // The application sends its sentences.
  bool Speaks() const;
  const BoardPlan& Plan() const { return plan_; }
  BoardRecord Record(const Chip& chip, int64_t nowUs) const;

 private:
  void EndBurn(BoardResult result, int64_t nowUs);
  static bool HalfImageAccepted(const Chip& chip);

  BoardPlan plan_;
  int64_t arrivedUs_;
  Phase phase_ = Phase::kInPlace;
  BoardResult result_ = BoardResult::kNeverBurned;
  int64_t lastHostByteUs_ = -1;  // -1: the host has sent this board nothing yet
  int64_t appStartUs_ = 0;
  int64_t leftUs_ = 0;
  WakeSentence wakeSentence_;
  uint32_t wakeSentences_ = 0;
};

const char* ResultName(BoardResult result);

}  // namespace tarvok::sim
