// The texts of the progress display, shared by every front end.
#pragma once

#include <cstdint>
#include <string>

namespace tarvok {

// "0 Bps" before the first second, "%d Bps" up to 1024 bytes a second, "%.2f KBps" above.
std::string FormatSpeed(uint32_t bytes, uint32_t seconds);
// A rate in bytes a second as FormatSpeed shows it.
std::string FormatRate(uint32_t bytesPerSecond);
// "%02d:%02d sec": minutes and seconds; minutes grow past 99 without limit.
std::string FormatElapsed(uint32_t seconds);
// The overall percent of a loader-stage report (0-30) and of an image-stage one (30-100).
uint8_t LoaderStagePercent(uint8_t stagePercent);
uint8_t ImageStagePercent(uint8_t stagePercent);
// "Burn Flash Img Fail ! Error=%0x": the burn status in lower-case hex, no prefix.
std::string BurnFailureText(uint32_t status);

inline constexpr const char* kBurnSuccessText = "Burn Flash Img Success !";

}  // namespace tarvok
