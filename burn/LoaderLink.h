// The host side of the RAM loader's command protocol: hello, baud switch (0xE1), flash
// parameters (0xE2), image stream (0xE3) and finish (0xE5). Strictly lock-step: the host
// writes a command, then waits for single acknowledgement bytes.
#pragma once

#include <array>
#include <cstdint>

#include "burn/FlashImage.h"
#include "firmware/loader_codes.h"
#include "rom/StageCallbacks.h"
#include "serial/SerialPort.h"

namespace tarvok {

// The loader's protocol bytes, by their C++ names (the table is the firmware's own).
inline constexpr uint8_t kLoaderHello = LOADER_HELLO;  // also the probe byte of the baud switch
inline constexpr uint8_t kLoaderBusy = LOADER_BUSY;    // sent instead of the hello
inline constexpr uint8_t kCmdSwitchBaud = LOADER_CMD_SWITCH_BAUD;
inline constexpr uint8_t kCmdFlashParameters = LOADER_CMD_FLASH_PARAMETERS;
inline constexpr uint8_t kCmdStreamImage = LOADER_CMD_STREAM_IMAGE;
inline constexpr uint8_t kCmdFinish = LOADER_CMD_FINISH;
inline constexpr uint8_t kCmdFlashCrc = LOADER_CMD_FLASH_CRC;
inline constexpr uint8_t kAck = LOADER_ACK;
inline constexpr uint8_t kBlockAccepted = LOADER_BLOCK_ACCEPTED;  // also the host's "resume"
inline constexpr uint8_t kBlockRejected = LOADER_BLOCK_REJECTED;
inline constexpr uint8_t kResyncOrFailed = LOADER_RESYNC_OR_FAILED;  // host: hard re-sync
inline constexpr uint8_t kReplyOutsideFlash = LOADER_REPLY_OUTSIDE_FLASH;
inline constexpr uint8_t kReplyFlashError = LOADER_REPLY_FLASH_ERROR;
inline constexpr uint8_t kReplyNoParameters = LOADER_REPLY_NO_PARAMETERS;

inline constexpr uint8_t kMaxBaudCode = 14;
// Rate by baud code 1-14 (code 0 unused).
inline constexpr std::array<uint32_t, 15> baudRates = {0,     921600, 460800, 230400, 115200,
                                                       57600, 38400,  19200,  14400,  9600,
                                                       4800,  2400,   1200,   300,    110};

// The pause after the port's change to a new rate before the first probe at that rate.
inline constexpr uint32_t kSettleAfterRateChangeMs = 100;

// A block the loader has rejected this often in a row ends the stream: the line is hopeless.
inline constexpr uint32_t kMaxBlockRejections = 100;

struct LoaderHello {
  uint8_t started = 0;
  uint8_t reserved0 = 0;
  uint8_t major = 0;
  uint8_t minor = 0;
  uint32_t reserved1 = 0;
  uint32_t reserved2 = 0;
};

// Local results of LoaderLink::StreamImage beyond the numbered steps.
inline constexpr uint32_t kStreamTooManyRejections = 21;

class LoaderLink {
 public:
  // 0; 2 no record; 8 nothing arrived; 9 not a hello; 10 version not 1.0; 16 0x1C arrived.
  uint32_t ReadHello(SerialPort& port, LoaderHello* hello) const;
  // 0; 1 code outside 1-14; 2-5 command, acknowledgement, rate change; 7 no probe echoed;
  // 8-10 second acknowledgement; 11-13 echo test.
  uint32_t SwitchBaud(SerialPort& port, uint8_t baudCode, uint8_t echoRepeats) const;
  // 0; 1 no image; 2-4 writes; 5, 6 acknowledgement; 7 no erase-wait byte.
  uint32_t SetFlashParameters(SerialPort& port, FlashImage* image) const;
  // 0; 1 no image; 2 not valid; 3-7 header and acknowledgements; 8-15 blocks; 16-20 trailer;
  // 21 one block rejected kMaxBlockRejections times in a row.
  uint32_t StreamImage(SerialPort& port, FlashImage* image, uint32_t blockCount,
                       StageStartFn startFn, void* startUser, StageProgressFn progressFn,
                       void* progressUser) const;
  // The CRC-32 of the flash over the image's range, as the loader reads it now, into `crc`.
  // 0; 1 the request not written; 2 no answer; 3 the loader had no flash parameters; 4 another
  // byte than k; 5 the CRC's bytes missing.
  uint32_t ReadFlashCrc(SerialPort& port, uint32_t& crc) const;
  // 0 written; 1 the write failed.
  uint32_t Finish(SerialPort& port) const;
};

}  // namespace tarvok
