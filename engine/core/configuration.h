// Configuration, parameter blocks and read-outs: the substance of
// sdrSetGlobal, sdrSetNewParam, sdrGetSpectrum and sdrGetSmetr.
#pragma once

#include <cstdint>

#include "core/status.h"

namespace bw {

// The typed receive parameters (dsp/receive_params.h). Declared only, so
// that the exports call these functions without seeing the chain's layer.
struct ReceiveParams;

// sdrSetGlobal: checks the device numbers against the device counts
// (BadArgument when out of range, nothing recorded), records them, then
// configureFormat.
Status setGlobal(std::int32_t inputDevice, std::int32_t outputDevice,
                 std::int32_t bufferCount, std::int32_t order,
                 std::int32_t sampleRate, std::int32_t bitsPerSample);

// The format part of sdrSetGlobal: Running while running; BadArgument for an
// order outside 8..16, a ring length outside 2..8, a width other than
// 8/16/24/32 bits or an unsupported sample rate; otherwise sizes the chain,
// gives the ring slots fresh zeroed buffers and returns Ok.
Status configureFormat(std::int32_t bufferCount, std::int32_t order,
                       std::int32_t sampleRate, std::int32_t bitsPerSample);

// sdrSetNewParam: BadArgument (nothing taken) when block is null or its
// first byte is not 1; otherwise decodes the 65 bytes and publishes the
// receive parameters as pendingParams, and returns Ok.
Status setNewParam(const void* block);

// Copies pendingParams into dest (any thread; no lock, no allocation).
void readPendingParams(ReceiveParams& dest);

// sdrGetSpectrum: NotRunning while runState is 0 (dest untouched),
// BadArgument for a null dest, otherwise copies the M spectrum values into
// dest.
Status getSpectrum(double* dest);

// sdrGetSmetr: the chain's gain reading while runState is not 0, else 0.0.
double getSmetr();

}  // namespace bw
