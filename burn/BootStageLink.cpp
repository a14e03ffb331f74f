#include "burn/BootStageLink.h"

#include <algorithm>
#include <array>

#include "burn/Crc32.h"
#include "burn/LineReads.h"
#include "burn/LoaderLink.h"

namespace tarvok {
namespace {

// The loader goes down in pieces of this size, each a progress step.
constexpr uint32_t kPieceBytes = 256;

// The stage's first words: 53 01, sent as soon as it runs (behind the echo of 0xA8's address).
uint32_t ReadStageHello(SerialPort& port) {
  std::array<uint8_t, 2> hello{};
  if (!ReadWithinHalfASecond(port, hello.data(), 1)) {
    return kStageNoHello;
  }
  if (hello[0] != BOOT_STAGE_HELLO || !ReadByteWithinHalfASecond(port, hello[1])) {
    return kStageNotAHello;
  }
  return hello[1] == BOOT_STAGE_VERSION ? kStageOk : kStageNotAHello;
}

// D1, the code, the loader's length and CRC-32; the stage's k at the boot ROM's rate.
uint32_t SendLoadCommand(SerialPort& port, const StageLoad& load) {
  std::array<uint8_t, 10> command{};
  command[0] = BOOT_STAGE_CMD_LOAD;
  command[1] = load.baudCode;
  const auto length = BigEndian(load.length);
  const auto crc = BigEndian(Crc32(load.loader, load.length));
  std::copy(length.begin(), length.end(), command.begin() + 2);
  std::copy(crc.begin(), crc.end(), command.begin() + 6);
  if (port.Write(command.data(), static_cast<uint32_t>(command.size())) != kPortOk) {
    return kStageCommandFailed;
  }
  uint8_t reply = 0;
  if (!ReadByteWithinHalfASecond(port, reply)) {
    return kStageNoAck;
  }
  if (reply == BOOT_STAGE_REFUSED) {
    return kStageRefusedLength;
  }
  return reply == BOOT_STAGE_LOADER_OK ? kStageOk : kStageNoAck;
}

bool SendLoader(SerialPort& port, const StageLoad& load) {
  for (uint32_t offset = 0; offset < load.length; offset += kPieceBytes) {
    const uint32_t piece = std::min(kPieceBytes, load.length - offset);
    if (port.Write(load.loader + offset, piece) != kPortOk) {
      return false;
    }
    if (load.progressFn != nullptr && load.total != 0) {
      const uint32_t done = load.alreadyDone + offset + piece;
      const auto percent = static_cast<uint8_t>(uint64_t{done} * 100 / load.total);
      load.progressFn(percent, done, load.total, load.progressUser);
    }
  }
  return true;
}

// The stage's verdict on the loader, after any late answers to probes.
uint32_t ReadVerdict(SerialPort& port) {
  uint8_t reply = BOOT_STAGE_READY;
  while (reply == BOOT_STAGE_READY) {
    // The stage works out the CRC-32 before it answers: well under a second on any chip.
    if (port.Read(&reply, 1, 3, 100) != kPortOk) {
      return kStageNoVerdict;
    }
  }
  if (reply == BOOT_STAGE_REFUSED) {
    return kStageLoaderDamaged;
  }
  return reply == BOOT_STAGE_LOADER_OK ? kStageOk : kStageNoVerdict;
}

}  // namespace

uint32_t BootStageLink::BringLoaderIn(SerialPort& port, const StageLoad& load) const {
  if (const uint32_t hello = ReadStageHello(port); hello != kStageOk) {
    return hello;
  }
  if (const uint32_t command = SendLoadCommand(port, load); command != kStageOk) {
    return command;
  }
  // The stage changes its rate once its k has left; that k is here, so the stage already
  // listens at the new rate.
  const uint32_t burnRate =
      load.baudCode >= 1 && load.baudCode <= kMaxBaudCode ? baudRates[load.baudCode] : load.romRate;
  if (port.SetBaudRate(burnRate) != kPortOk) {
    return kStageRateFailed;
  }
  // As after the loader's own switch: an adapter may take a moment to run at the new rate,
  // and a probe that leaves at the old one only costs a probe's wait.
  SleepMs(port, kSettleAfterRateChangeMs);
  // Every probe is answered, so answers to earlier probes may still come: the verdict's read
  // skips them.
  if (!ProbeAnswered(port, BOOT_STAGE_PROBE, BOOT_STAGE_READY)) {
    return kStageNotReady;
  }
  if (!SendLoader(port, load)) {
    return kStageLoaderNotSent;
  }
  if (const uint32_t verdict = ReadVerdict(port); verdict != kStageOk) {
    return verdict;
  }
  // The stage went back to the boot ROM's rate behind its k and waits for D5, so the loader's
  // hello cannot overtake the port's own change back.
  if (port.SetBaudRate(load.romRate) != kPortOk) {
    return kStageRateFailed;
  }
  return WriteByte(port, BOOT_STAGE_GO) ? kStageOk : kStageGoFailed;
}

}  // namespace tarvok
