// PCM conversion between the device's interleaved stereo frames and the
// chain's sample arrays: captured samples straight into the transform's
// input (doubles, exactly), output samples from 32-bit integers. The samples
// are read and written as primitives/pcm_codec.h says.
#pragma once

#include <cstdint>

namespace bw {

// Fills inI[0..frames-1] and inQ[0..frames-1] from the captured buffer with
// the integer sample values (pcm::read): first sample of a frame is I,
// second Q (the reverse when swap is non-zero). Another width than 8, 16,
// 24 or 32 converts nothing.
void unpackCapture(const std::uint8_t* buffer, int width, std::uint32_t swap,
                   std::int32_t frames, double* inI, double* inQ);

// Writes `frames` frames from outLeft, outRight (swapped when swap is
// non-zero), each value as pcm::playbackSample stores it at the width.
// Another width writes nothing.
void packPlayback(std::uint8_t* buffer, int width, std::uint32_t swap,
                  std::int32_t frames, const std::int32_t* outLeft,
                  const std::int32_t* outRight);

}  // namespace bw
