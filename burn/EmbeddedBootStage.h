// The boot stage the tool carries beside its RAM loader: ARM code the boot ROM runs first, to
// bring the loader in at the burn rate (firmware/boot_stage_codes.h). The host never
// interprets its bytes.
#pragma once

#include <cstdint>

namespace tarvok {

extern const uint8_t kEmbeddedBootStage[];
extern const uint32_t kEmbeddedBootStageLength;
// The SHA-256 of those bytes in 64 lower-case hex digits, worked out when they were embedded.
extern const char kEmbeddedBootStageSha256[];

}  // namespace tarvok
