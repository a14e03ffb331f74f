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

}  // namespace tarvok
