// Configuration, parameter blocks and read-outs: the substance of
// sdrSetGlobal, sdrSetNewParam, sdrGetSpectrum and sdrGetSmetr.
#pragma once

#include <cstdint>

namespace bw {

// sdrSetGlobal: checks the device numbers against the device counts (2 when
// out of range, nothing recorded), records them, then configureFormat.
std::int32_t setGlobal(std::int32_t inputDevice, std::int32_t outputDevice,
                       std::int32_t bufferCount, std::int32_t order,
                       std::int32_t sampleRate, std::int32_t bitsPerSample);

// The format part of sdrSetGlobal: 4 while running; 2 for an order outside
// 8..16, a ring length outside 2..8, a width other than 8/16/24/32 bits or an
// unsupported sample rate; otherwise derives every size, gives the ring slots
// fresh zeroed buffers, resizes the work arrays, prepares the transform and
// returns 0. Tools that process recordings call it directly.
std::int32_t configureFormat(std::int32_t bufferCount, std::int32_t order,
                             std::int32_t sampleRate,
                             std::int32_t bitsPerSample);

// True for the sample rates the engine accepts (Hz).
bool isSupportedSampleRate(std::int32_t sampleRate);

// sdrSetNewParam: 2 (nothing copied) when block is null or its first byte is
// not 1; otherwise publishes the 65 bytes as pendingParams and returns 0.
std::int32_t setNewParam(const void* block);

// Copies pendingParams into the 65-byte dest (any thread).
void readPendingParams(std::uint8_t* dest);

// sdrGetSpectrum: 3 while runState is 0 (dest untouched), 2 for a null dest,
// otherwise copies the M spectrum values into dest and returns 0.
std::int32_t getSpectrum(double* dest);

// sdrGetSmetr: currentGain while runState is not 0, else 0.0.
double getSmetr();

}  // namespace bw
