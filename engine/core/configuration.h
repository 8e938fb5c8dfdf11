// Configuration, parameter blocks and read-outs: the substance of
// sdrSetGlobal, sdrSetNewParam, sdrGetSpectrum and sdrGetSmetr.
#pragma once

#include <cstdint>

#include "brackwell/brackwell.h"

namespace bw {

// The typed receive parameters (dsp/receive_params.h). Declared only, so
// that the exports call these functions without seeing the chain's layer.
struct ReceiveParams;

// sdrSetGlobal: checks the device numbers against the device counts
// (SDR_BAD_ARGUMENT when out of range, nothing recorded), records them, then
// configureFormat.
SdrStatus setGlobal(std::int32_t inputDevice, std::int32_t outputDevice,
                    std::int32_t bufferCount, std::int32_t order,
                    std::int32_t sampleRate, std::int32_t bitsPerSample);

// The format part of sdrSetGlobal: SDR_RUNNING while running;
// SDR_BAD_ARGUMENT for an order outside 8..16, a ring length outside 2..8, a
// width other than 8/16/24/32 bits or an unsupported sample rate; otherwise
// sizes the chain, gives the ring slots fresh zeroed buffers and returns
// SDR_OK.
SdrStatus configureFormat(std::int32_t bufferCount, std::int32_t order,
                          std::int32_t sampleRate, std::int32_t bitsPerSample);

// sdrSetNewParam: SDR_BAD_ARGUMENT (nothing taken) when block is null or its
// first byte is not 1; otherwise decodes the 65 bytes and publishes the
// receive parameters as pendingParams, and returns SDR_OK.
SdrStatus setNewParam(const void* block);

// Copies pendingParams into dest (any thread; no lock, no allocation).
void readPendingParams(ReceiveParams& dest);

// sdrGetSpectrum: SDR_NOT_RUNNING while runState is 0 (dest untouched),
// SDR_BAD_ARGUMENT for a null dest, otherwise copies the M spectrum values
// into dest.
SdrStatus getSpectrum(double* dest);

// sdrGetSmetr: the chain's gain reading while runState is not 0, else 0.0.
double getSmetr();

}  // namespace bw
