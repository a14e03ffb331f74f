#include "app/ProgressText.h"

#include <cstdio>

namespace tarvok {

std::string FormatSpeed(uint32_t bytes, uint32_t seconds) {
  if (seconds == 0) {
    return "0 Bps";
  }
  return FormatRate(bytes / seconds);
}

std::string FormatRate(uint32_t rate) {
  char text[32];
  if (rate <= 1024) {
    std::snprintf(text, sizeof(text), "%d Bps", static_cast<int>(rate));
  } else {
    std::snprintf(text, sizeof(text), "%.2f KBps",
                  static_cast<double>(static_cast<float>(rate)) * (1.0 / 1024));
  }
  return text;
}

std::string FormatElapsed(uint32_t seconds) {
  char text[32];
  std::snprintf(text, sizeof(text), "%02u:%02u sec", seconds / 60, seconds % 60);
  return text;
}

uint8_t LoaderStagePercent(uint8_t stagePercent) {
  return static_cast<uint8_t>(stagePercent * 30 / 100);
}

uint8_t ImageStagePercent(uint8_t stagePercent) {
  return static_cast<uint8_t>(30 + stagePercent * 70 / 100);
}

std::string BurnFailureText(uint32_t status) {
  char text[64];
  std::snprintf(text, sizeof(text), "Burn Flash Img Fail ! Error=%x", status);
  return text;
}

std::string ExplainBurnStatus(uint32_t status) {
  switch (status) {
    case 0:
      // What the chip confirmed, no more: the flash parameters and the stream header's
      // four data bytes carry no check, and errors that cancel out pass a block's sum.
      return "the chip accepted every block";
    case 2:
      return "the burn was started without a port, a job or an image";
    case 3:
      return "no port was open for the burn";
    case 0x505:
      return "the image is not valid: missing, empty, unreadable, or larger than the loader can "
             "address (128 MiB)";
    case 0x504:
      return "the RAM loader built into this program is not valid";
    case 0x20006:
      return "out of memory before the chip was spoken to";
    case 0xB0006:
      return "the boot ROM never answered the handshake: check the port, the boot-ROM rate and "
             "the chip's power";
    case 0xA0006:
      return "writing the RAM loader into the chip failed (a wrong echo or checksum): check the "
             "cable, the line settings and the boot-ROM rate";
    case 0xC0006:
      return "the boot ROM did not start the RAM loader";
    case 8:
      return "the RAM loader did not announce itself after it was started";
    case 9:
      return "the chip answered something other than the RAM loader's hello";
    case 10:
      return "the RAM loader announced a version other than 1.0";
    case 16:
      return "the RAM loader answered busy (0x1C) instead of its hello";
    case 11:
      return "the port's baud rate could not be read";
    case 12:
      return "the port could not be set back to its baud rate";
    case 13:
      return "the RAM loader did not take the flash parameters (erase)";
    case 14:
      return "the image stream failed: the loader rejected the data, reported a flash error, "
             "found the image larger than the chip's flash or stopped answering; the flash does "
             "not hold the image";
    default:
      return "unknown failure";
  }
}

}  // namespace tarvok
