// Running the receiver: sdrStart and sdrStop over the audio layer's
// streaming, and the engine's block processing that the capture
// notifications call.
#pragma once

#include <cstdint>

#include "core/status.h"

namespace bw {

// Called by the processing thread at the start of every block (sdrStart).
using BlockHook = void (*)();

// sdrStart: Ok, DeviceRefused, Running or NotConfigured. Once the checks
// pass, stores the hook (called first in every block) and clears the tails.
Status startReceiver(BlockHook hook);
// sdrStop: Ok, NotRunning, or Running when called from inside a block.
Status stopReceiver();

// One block of the engine: calls the block hook, takes the latest parameter
// parameters and runs the chain from input to output (bufferBytes each).
void processBlock(const std::uint8_t* input, std::uint8_t* output);

// Zeroes the chain's overlap tails.
void clearTails();

}  // namespace bw
