// Boot-ROM driver of the TR7340: wakes the ROM with an NMEA sentence and a complement
// handshake, writes the RAM loader to 0xC00, checks it and starts it.
#pragma once

#include <array>
#include <cstdint>
#include <memory>

#include "rom/RomBase.h"

namespace tarvok {

// "$PVQT75*01" CR LF: a proprietary NMEA 0183 sentence (maker "VQT", checksum 0x01) that
// sends a running chip back to its boot ROM.
inline constexpr std::array<uint8_t, 12> kSyncSentence = {'$', 'P', 'V', 'Q', 'T',  '7',
                                                          '5', '*', '0', '1', 0x0D, 0x0A};
// The ROM answers each of these with its complement: 6F F6 9F F9.
inline constexpr std::array<uint8_t, 4> kSyncPattern = {0x90, 0x09, 0x60, 0x06};

inline constexpr uint32_t kNoTryBudget = 0x0FFFFFFF;
inline constexpr uint32_t kLoaderAddress = 0xC00;

// Sync results.
inline constexpr uint32_t kSyncNoHandle = 0xB0001;
inline constexpr uint32_t kSyncSentenceFailed = 0xB0004;
inline constexpr uint32_t kSyncNoHandshake = 0xB000A;
// Boot results.
inline constexpr uint32_t kBootSyncFailed = 0xB0000;
inline constexpr uint32_t kBootWriteFailed = 0xA0000;
inline constexpr uint32_t kBootExecuteFailed = 0xC0000;
// The boot stage started but did not bring the loader in.
inline constexpr uint32_t kBootStageFailed = 0xD0000;

// Handshake tuning. State 0 resends 0x90 every 10 ms and gives up the cycle on the 51st miss.
inline constexpr uint32_t kSyncResendPauseMs = 10;
inline constexpr uint32_t kSyncMaxFirstByteMisses = 50;
// Input-count polls without an answer before a pass counts as unanswered.
inline constexpr uint32_t kSyncPollsPerAnswer = 32;
// States 1-3 listen for an answer at least this long on the line's clock, however fast the
// polls run out. A USB serial adapter hands received bytes over only when its latency timer
// fires: 1 ms in low-latency mode, 16 ms by default, 32 ms and more behind some adapters and
// hubs. 100 ms covers several such periods; it costs time only when a chip that has begun the
// handshake stops answering.
inline constexpr uint32_t kSyncListenFloorMs = 100;
// Waiting input at which the line counts as flooded (a chip still chattering) and is purged.
inline constexpr uint32_t kSyncFloodBytes = 1024;
// Bounds of our own on loops the handshake would otherwise repeat forever: input-count
// queries failing while waiting for one answer, and passes of one cycle (states 1-3 without
// a try budget never end a cycle, nor does a chip that keeps answering 0x90 and then
// something wrong, since every good answer resets the miss counter).
inline constexpr uint32_t kSyncMaxFailedQueries = 1000;
inline constexpr uint32_t kSyncMaxPassesPerCycle = 10000;
// Pause between a completed handshake and the loader download.
inline constexpr uint32_t kBootSettleMs = 200;

class Rom_TR7340 : public Rom_Base {
 public:
  Rom_TR7340(uint32_t triesPerCycle, uint32_t cycles);
  ~Rom_TR7340() override = default;

  uint32_t Boot(SerialPort& port, const BootRequest& request) override;
  // Wakes the ROM as Boot does, then writes the stage in `request` (whole 256-byte blocks) to
  // `address`, checks it and starts it; Boot's codes. The request's start function runs once
  // the ROM is awake; the stage then speaks for itself.
  uint32_t StartStage(SerialPort& port, uint32_t address, const BootRequest& request);
  uint32_t Sync(SerialPort& port);

  uint32_t triesPerCycle;
  uint32_t cycles;
  uint32_t loadAddress = kLoaderAddress;

 private:
  // One answer byte, 0x00 for none; a flooded line is purged and ends the cycle's budget.
  uint8_t ReceiveAnswer(SerialPort& port, uint32_t& misses, bool& flooded);
};

// A new driver, or null when memory is exhausted. Sends nothing.
std::unique_ptr<Rom_TR7340> CreateRom(uint32_t triesPerCycle, uint32_t cycles);

}  // namespace tarvok
