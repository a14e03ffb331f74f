#include "sim/CpuLoader.h"

#include <unicorn/unicorn.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>

#include "firmware/loader_status.h"
#include "firmware/tr7340.h"
#include "serial/PreciseClock.h"

namespace tarvok::sim {
namespace {

// An address no program reaches: emulation only ends on a fault or at Halt.
constexpr uint64_t kNeverReached = 0xFFFFFF00;
// How long a status read that finds the receiver empty holds the CPU.
constexpr auto kEmptyPollHold = std::chrono::milliseconds(2);
// How long the flash controller stays busy after an erase (real NOR takes far longer); a
// program completes at once.
constexpr int64_t kEraseUs = 100;

uint32_t DivisorFor(uint32_t rate) {
  return rate == 0 ? 1 : (TR7340_UART_CLOCK_HZ + 8 * rate) / (16 * rate);
}

constexpr uint64_t RoundUpToPage(uint64_t bytes) {
  constexpr uint64_t kPage = 4096;
  return (bytes + kPage - 1) / kPage * kPage;
}

}  // namespace

CpuLoader::CpuLoader(Flash& flash, std::vector<uint8_t> ram, uint32_t startAddress, uint32_t rate,
                     const CpuLink& link, const CpuFaults& faults)
    : flash_(flash),
      ram_(std::move(ram)),
      startAddress_(startAddress),
      link_(link),
      faults_(faults),
      divisor_(DivisorFor(rate)) {
  ram_.resize(TR7340_RAM_BYTES, 0);
}

CpuLoader::~CpuLoader() {
  Halt();
}

void CpuLoader::Start(std::vector<uint8_t>&) {
  startUs_ = MonotonicUs();
  thread_ = std::thread([this] { Run(); });
}

// A Unicorn engine with the chip's memory map and this loader's hooks; null, with the fault
// noted, when it cannot be set up.
uc_struct* CpuLoader::OpenEngine() {
  uc_struct* uc = nullptr;
  uc_err err = uc_open(UC_ARCH_ARM, UC_MODE_ARM, &uc);
  if (err == UC_ERR_OK) {
    // The CPU model has to be chosen before any memory is mapped.
    err = uc_ctl_set_cpu_model(uc, UC_CPU_ARM_926);
  }
  if (err == UC_ERR_OK) {
    err = uc_mem_map_ptr(uc, TR7340_RAM_BASE, ram_.size(), UC_PROT_ALL, ram_.data());
  }
  if (err == UC_ERR_OK) {
    err = uc_mmio_map(uc, TR7340_PERIPHERALS_BASE, TR7340_PERIPHERALS_BYTES, ReadPeripheral, this,
                      WritePeripheral, this);
  }
  const uint64_t flashWindow =
      RoundUpToPage(std::min<uint64_t>(flash_.Cells().size(), TR7340_FLASH_MAX_BYTES));
  if (err == UC_ERR_OK && flashWindow > 0) {
    err = uc_mmio_map(uc, TR7340_FLASH_BASE, flashWindow, ReadFlash, this, nullptr, nullptr);
  }
  uc_hook interruptHook{};
  if (err == UC_ERR_OK) {
    err = uc_hook_add(uc, &interruptHook, UC_HOOK_INTR, reinterpret_cast<void*>(OnInterrupt), this,
                      1, 0);
  }
  if (err != UC_ERR_OK) {
    Fault(std::string("cannot set up the emulated CPU: ") + uc_strerror(err));
    if (uc != nullptr) {
      uc_close(uc);
    }
    return nullptr;
  }
  return uc;
}

void CpuLoader::Run() {
  uc_struct* uc = OpenEngine();
  if (uc == nullptr) {
    done_ = true;
    return;
  }
  {
    std::lock_guard lock(engineMutex_);
    engine_ = uc;
    emulating_ = true;
  }
  // One run for the whole session: stopping and resuming this engine mid-run would replay
  // instructions, so only Halt stops it.
  const uc_err err = uc_emu_start(uc, startAddress_, kNeverReached, 0, 0);
  uint32_t pc = 0;  // registers read back as 32 bits
  uc_reg_read(uc, UC_ARM_REG_PC, &pc);
  {
    std::lock_guard lock(engineMutex_);
    emulating_ = false;
    engine_ = nullptr;
  }
  uc_close(uc);
  {
    std::lock_guard lock(*link_.lock);
    if (!halting_ && fault_.empty()) {
      char text[160];
      std::snprintf(text, sizeof(text), "%s (pc 0x%08X)",
                    err != UC_ERR_OK ? uc_strerror(err) : "the program ran off its end", pc);
      fault_ = text;
    }
  }
  if (!fault_.empty()) {
    std::fprintf(stderr, "tarvok-sim: the chip's CPU stopped: %s\n", fault_.c_str());
  }
  done_ = true;
}

void CpuLoader::Halt() {
  if (!thread_.joinable()) {
    return;
  }
  {
    std::lock_guard lock(*link_.lock);
    halting_ = true;
  }
  wake_.notify_all();
  // A stop asked for before the run has begun is lost, so ask until the thread is done.
  while (!done_) {
    {
      std::lock_guard lock(engineMutex_);
      if (emulating_) {
        uc_emu_stop(engine_);
      }
    }
    wake_.notify_all();
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  thread_.join();
}

void CpuLoader::Fault(const std::string& what) {
  std::lock_guard lock(*link_.lock);
  if (fault_.empty()) {
    fault_ = what;
  }
}

void CpuLoader::OnInterrupt(uc_struct* uc, uint32_t number, void* self) {
  auto& cpu = *static_cast<CpuLoader*>(self);
  uint32_t pc = 0;
  uc_reg_read(uc, UC_ARM_REG_PC, &pc);
  char text[96];
  std::snprintf(text, sizeof(text), "exception %u (pc 0x%08X)", number, pc);
  cpu.Fault(text);
  uc_emu_stop(uc);
}

void CpuLoader::Receive(uint8_t byte, std::vector<uint8_t>&) {
  // The caller holds the link's lock.
  const uint64_t index = receivedCount_++;
  if (std::find(faults_.flipReceivedBytes.begin(), faults_.flipReceivedBytes.end(), index) !=
      faults_.flipReceivedBytes.end()) {
    byte ^= 0x01;
  }
  if (received_.size() >= TR7340_UART_RX_FIFO_BYTES) {
    overrun_ = true;
    return;
  }
  received_.push_back(byte);
  wake_.notify_one();
}

uint32_t CpuLoader::Rate() const {
  // A UART runs at a standard rate when its divisor comes within 2 % of it.
  constexpr std::array<uint32_t, 14> kRates = {921600, 460800, 230400, 115200, 57600, 38400, 19200,
                                               14400,  9600,   4800,   2400,   1200,  300,   110};
  const uint32_t exact = TR7340_UART_CLOCK_HZ / (16 * std::max<uint32_t>(divisor_, 1));
  for (const uint32_t rate : kRates) {
    if (exact >= rate - rate / 50 && exact <= rate + rate / 50) {
      return rate;
    }
  }
  return exact;
}

LoaderStats CpuLoader::Stats() const {
  LoaderStats stats;
  const uint32_t flags = scratch_[LOADER_STATUS_FLAGS];
  stats.probes = scratch_[LOADER_STATUS_PROBES];
  stats.echoTestBytes = scratch_[LOADER_STATUS_ECHO_BYTES];
  stats.blocksAccepted = scratch_[LOADER_STATUS_BLOCKS];
  stats.rejections = scratch_[LOADER_STATUS_REJECTIONS];
  stats.hardResyncs = scratch_[LOADER_STATUS_HARD_RESYNCS];
  stats.erased = (flags & LOADER_FLAG_ERASED) != 0;
  stats.finished = (flags & LOADER_FLAG_FINISHED) != 0 || resetRequested_;
  stats.trailerSent = (flags & LOADER_FLAG_TRAILER_SENT) != 0;
  stats.streamOk = (flags & LOADER_FLAG_STREAM_OK) != 0;
  stats.cpuFault = fault_;
  return stats;
}

uint32_t CpuLoader::UartStatus(std::unique_lock<std::mutex>& lock) {
  // A second look at an empty receiver with no byte taken or sent in between (reading the
  // timer between looks is fine) is a program waiting for a byte.
  if (received_.empty() && pollingEmpty_ && !halting_) {
    wake_.wait_for(lock, kEmptyPollHold, [this] { return !received_.empty() || halting_; });
  }
  pollingEmpty_ = received_.empty();
  uint32_t status = TR7340_UART_STATUS_TX_READY | TR7340_UART_STATUS_TX_IDLE;
  if (!received_.empty()) {
    status |= TR7340_UART_STATUS_RX_READY;
  }
  if (overrun_) {
    status |= TR7340_UART_STATUS_OVERRUN;
    overrun_ = false;
  }
  return status;
}

uint32_t CpuLoader::FlashStatus() {
  if (MonotonicUs() < flashBusyUntilUs_) {
    return TR7340_FLASH_STATUS_BUSY;
  }
  if (flashError_) {
    flashError_ = false;
    return TR7340_FLASH_STATUS_ERROR;
  }
  return 0;
}

void CpuLoader::FlashProgram(uint32_t word) {
  if (flashAddress_ % 4 != 0 || uint64_t{flashAddress_} + 4 > flash_.Cells().size()) {
    flashError_ = true;
    return;
  }
  for (uint32_t k = 0; k < 4; ++k) {
    flash_.Program(flashAddress_ + k, static_cast<uint8_t>(word >> (8 * k)));
  }
  flashAddress_ += 4;
}

void CpuLoader::FlashErase() {
  flashBusyUntilUs_ = MonotonicUs() + kEraseUs;
  if (flashAddress_ >= flash_.Cells().size()) {
    flashError_ = true;
    return;
  }
  const uint32_t first = flashAddress_ / TR7340_FLASH_SECTOR_BYTES * TR7340_FLASH_SECTOR_BYTES;
  flash_.Erase(first, first + TR7340_FLASH_SECTOR_BYTES - 1);
}

// The chip resets into its application, which the simulation does not run: the CPU stays
// here until Halt.
void CpuLoader::HoldInReset(std::unique_lock<std::mutex>& lock) {
  resetRequested_ = true;
  wake_.wait(lock, [this] { return halting_; });
}

uint64_t CpuLoader::ReadPeripheral(uc_struct*, uint64_t offset, unsigned, void* self) {
  auto& cpu = *static_cast<CpuLoader*>(self);
  std::unique_lock lock(*cpu.link_.lock);
  const uint64_t address = TR7340_PERIPHERALS_BASE + offset;
  switch (address) {
    case TR7340_UART_DATA: {
      cpu.pollingEmpty_ = false;
      if (cpu.received_.empty()) {
        return 0;
      }
      const uint8_t byte = cpu.received_.front();
      cpu.received_.pop_front();
      return byte;
    }
    case TR7340_UART_STATUS:
      return cpu.UartStatus(lock);
    case TR7340_UART_DIVISOR:
      return cpu.divisor_;
    case TR7340_FLASH_ADDRESS:
      return cpu.flashAddress_;
    case TR7340_FLASH_STATUS:
      return cpu.FlashStatus();
    case TR7340_FLASH_SIZE:
      return std::min<uint64_t>(cpu.flash_.Cells().size(), TR7340_FLASH_MAX_BYTES);
    case TR7340_TIMER_MICROSECONDS:
      return static_cast<uint32_t>(MonotonicUs() - cpu.startUs_);
    default:
      if (address >= TR7340_SYSCTL_SCRATCH(0) &&
          address < TR7340_SYSCTL_SCRATCH(TR7340_SYSCTL_SCRATCH_COUNT)) {
        return cpu.scratch_[(address - TR7340_SYSCTL_SCRATCH(0)) / 4];
      }
      return 0;
  }
}

void CpuLoader::WritePeripheral(uc_struct*, uint64_t offset, unsigned, uint64_t value, void* self) {
  auto& cpu = *static_cast<CpuLoader*>(self);
  std::unique_lock lock(*cpu.link_.lock);
  cpu.pollingEmpty_ = false;
  const uint64_t address = TR7340_PERIPHERALS_BASE + offset;
  const auto word = static_cast<uint32_t>(value);
  switch (address) {
    case TR7340_UART_DATA: {
      std::vector<uint8_t> bytes = {static_cast<uint8_t>(word)};
      if (cpu.link_.transmit && !cpu.halting_) {
        cpu.link_.transmit(bytes);
      }
      return;
    }
    case TR7340_UART_DIVISOR:
      if (!cpu.faults_.uartIgnoresDivisor && word >= 1 && word <= 0xFFFF) {
        cpu.divisor_ = word;
      }
      return;
    case TR7340_FLASH_ADDRESS:
      cpu.flashAddress_ = word;
      return;
    case TR7340_FLASH_PROGRAM:
      cpu.FlashProgram(word);
      return;
    case TR7340_FLASH_COMMAND:
      if (word == TR7340_FLASH_COMMAND_ERASE_SECTOR) {
        cpu.FlashErase();
      }
      return;
    case TR7340_SYSCTL_RESET:
      if (word == TR7340_SYSCTL_RESET_KEY) {
        cpu.HoldInReset(lock);
      }
      return;
    default:
      if (address >= TR7340_SYSCTL_SCRATCH(0) &&
          address < TR7340_SYSCTL_SCRATCH(TR7340_SYSCTL_SCRATCH_COUNT)) {
        cpu.scratch_[(address - TR7340_SYSCTL_SCRATCH(0)) / 4] = word;
      }
      return;
  }
}

uint64_t CpuLoader::ReadFlash(uc_struct*, uint64_t offset, unsigned size, void* self) {
  auto& cpu = *static_cast<CpuLoader*>(self);
  std::lock_guard lock(*cpu.link_.lock);
  uint64_t value = 0;
  for (unsigned k = 0; k < size && k < 8; ++k) {
    value |= uint64_t{cpu.flash_.At(static_cast<uint32_t>(offset + k))} << (8 * k);
  }
  return value;
}

}  // namespace tarvok::sim
