// The chip's RAM run by an emulated ARM926 (Unicorn): whatever the host downloaded runs, with
// the UART, the NOR flash controller, the timer and the system control block of
// firmware/tr7340.h as memory-mapped peripherals. Our loader firmware burns through it; a
// placeholder, broken or foreign loader fails as it would on a chip, and the CPU's fault is
// reported.
//
// The CPU runs on a thread of its own for the whole session. Every access to a peripheral
// takes the transport's lock, the same one the transport holds around its calls into the
// chip, so the two threads see one consistent chip. A program that polls an empty receiver
// is held inside the status read until a byte arrives (or a moment passes), so waiting costs
// no host CPU.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "sim/Flash.h"
#include "sim/RamProgram.h"

struct uc_struct;

namespace tarvok::sim {

// How the emulated chip reaches its transport.
struct CpuLink {
  std::mutex* lock = nullptr;  // held by the transport around every call into the chip
  // Puts the bytes the chip's UART sends on the wire; called with `lock` held.
  std::function<void(std::vector<uint8_t>&)> transmit;
};

// Faults of the chip's peripherals, on demand.
struct CpuFaults {
  bool uartIgnoresDivisor = false;          // the UART stays at the boot ROM's rate
  std::vector<uint64_t> flipReceivedBytes;  // these received bytes (counted from 0)
                                            // arrive with their lowest bit flipped
};

class CpuLoader : public RamProgram {
 public:
  // Runs `ram` (the chip's RAM as the boot ROM left it) from `startAddress`, the UART at
  // `rate`, over `flash`.
  CpuLoader(Flash& flash, std::vector<uint8_t> ram, uint32_t startAddress, uint32_t rate,
            const CpuLink& link, const CpuFaults& faults);
  ~CpuLoader() override;
  CpuLoader(const CpuLoader&) = delete;
  CpuLoader& operator=(const CpuLoader&) = delete;

  // Starts the CPU; what it sends goes out through the link.
  void Start(std::vector<uint8_t>& out) override;
  void Receive(uint8_t byte, std::vector<uint8_t>& out) override;
  void OnSilence(std::vector<uint8_t>&) override {}
  uint32_t Rate() const override;
  void SettleRate() override {}
  // What the program reports in the scratch registers (firmware/loader_status.h), and the
  // CPU's fault. The caller holds the link's lock.
  LoaderStats Stats() const override;

  // Stops the CPU for good; the caller does not hold the link's lock.
  void Halt();

 private:
  static uint64_t ReadPeripheral(uc_struct* uc, uint64_t offset, unsigned size, void* self);
  static void WritePeripheral(uc_struct* uc, uint64_t offset, unsigned size, uint64_t value,
                              void* self);
  static uint64_t ReadFlash(uc_struct* uc, uint64_t offset, unsigned size, void* self);
  static void OnInterrupt(uc_struct* uc, uint32_t number, void* self);

  uc_struct* OpenEngine();
  void Run();
  uint32_t UartStatus(std::unique_lock<std::mutex>& lock);
  uint32_t FlashStatus();
  void FlashProgram(uint32_t word);
  void FlashErase();
  void HoldInReset(std::unique_lock<std::mutex>& lock);
  void Fault(const std::string& what);

  Flash& flash_;
  std::vector<uint8_t> ram_;
  const uint32_t startAddress_;
  CpuLink link_;
  CpuFaults faults_;

  // Guarded by the link's lock.
  std::deque<uint8_t> received_;
  uint64_t receivedCount_ = 0;
  bool overrun_ = false;
  bool pollingEmpty_ = false;  // the last UART access was a status read that found no byte
  uint32_t divisor_;
  uint32_t flashAddress_ = 0;
  bool flashError_ = false;
  int64_t flashBusyUntilUs_ = 0;
  uint32_t scratch_[8] = {};
  bool resetRequested_ = false;
  std::string fault_;
  bool halting_ = false;
  std::condition_variable wake_;  // a byte arrived, or the CPU is halting

  std::mutex engineMutex_;  // guards engine_ and emulating_ against Halt
  uc_struct* engine_ = nullptr;
  bool emulating_ = false;
  std::atomic<bool> done_{false};
  std::thread thread_;
  int64_t startUs_ = 0;
};

}  // namespace tarvok::sim
