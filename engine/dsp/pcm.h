// PCM conversion between the device's interleaved stereo frames and the
// chain's sample arrays: captured samples straight into the transform's
// input (doubles, exactly), output samples from 32-bit integers.
#pragma once

#include <cstdint>

namespace bw {

// Fills inI[0..frames-1] and inQ[0..frames-1] from the captured buffer with
// the integer sample values: first sample of a frame is I, second Q (the
// reverse when swap is non-zero). Widths 16, 24, 32 are signed
// little-endian; 8-bit device samples are unsigned bytes centred on 128 and
// become byte - 128. Another width converts nothing.
void unpackCapture(const std::uint8_t* buffer, int width, std::uint32_t swap,
                   std::int32_t frames, double* inI, double* inQ);

// Writes `frames` frames from outLeft, outRight (swapped when swap is
// non-zero).
// 16 and 32 bits store the value's low bits; 24 bits saturate to
// -32768..32767 and store the 16-bit value in bytes 1-2 with byte 0 zero;
// 8 bits limit to -128..127 and store value + 128. Another width writes
// nothing.
void packPlayback(std::uint8_t* buffer, int width, std::uint32_t swap,
                  std::int32_t frames, const std::int32_t* outLeft,
                  const std::int32_t* outRight);

}  // namespace bw
