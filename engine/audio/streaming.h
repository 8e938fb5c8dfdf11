// Starting and stopping the receiver: the capture and playback streams whose
// capture notifications drive processBlock.
#pragma once

#include <cstdint>

#include "api/engine_state.h"

namespace bw::audio {

// sdrStart: 0, 1 (a device refused to open or start), 4 (running) or 5 (no
// format configured).
std::int32_t startStreaming(BlockHook hook);
// sdrStop: 0, or 3 when not running.
std::int32_t stopStreaming();
// Ends the audio layer's use of the sound system (engine tear-down).
void shutdownAudio();

}  // namespace bw::audio
