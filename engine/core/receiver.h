// Running the receiver: sdrStart and sdrStop over the audio layer's
// streaming, and the engine's block processing that the capture
// notifications call.
#pragma once

#include <cstdint>

#include "brackwell/brackwell.h"

namespace bw {

// Called by the processing thread at the start of every block (sdrStart).
using BlockHook = void (*)();

// sdrStart: SDR_OK, SDR_DEVICE_REFUSED, SDR_RUNNING or SDR_NOT_CONFIGURED.
// Once the checks pass, stores the hook (called first in every block) and
// clears the tails.
SdrStatus startReceiver(BlockHook hook);
// sdrStop: SDR_OK, SDR_NOT_RUNNING, or SDR_RUNNING when called from inside a
// block.
SdrStatus stopReceiver();

// One block of the engine: calls the block hook, takes the latest parameter
// parameters and runs the chain from input to output (bufferBytes each).
void processBlock(const std::uint8_t* input, std::uint8_t* output);

// Zeroes the chain's overlap tails.
void clearTails();

}  // namespace bw
