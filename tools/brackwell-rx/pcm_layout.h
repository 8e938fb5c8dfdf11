// Conversion between full-scale 32-bit samples (libsndfile's integer view of
// any PCM width: the sample in the top bits) and the engine's interleaved
// stereo PCM layout (the samples as primitives/pcm_codec.h reads and writes
// them).
#pragma once

#include <cstddef>
#include <cstdint>

namespace bw::rx {

// Writes `samples` samples (2 per frame) into engine PCM of width `bits`,
// keeping the top `bits` bits of each full-scale value (8 bits: + 128).
void packEnginePcm(const std::int32_t* fullScale, std::size_t samples, int bits,
                   std::uint8_t* pcm);

// Reads `samples` samples of engine PCM of width `bits` back to full scale
// (the value in the top bits, the bits below zero).
void unpackEnginePcm(const std::uint8_t* pcm, std::size_t samples, int bits,
                     std::int32_t* fullScale);

// The largest full-scale value the engine plays at `bits` (8, 16, 24 or 32):
// its largest sample (pcm::playbackMax) in the top bits.
std::int32_t playbackLimit(int bits);

// A floating-point sample (1.0 = full scale) as a 32-bit full-scale integer:
// x * 2^31 rounded to nearest, saturated to the 32-bit range (no wrap);
// a value that is not a number becomes 0.
std::int32_t floatToFullScale(double x);

}  // namespace bw::rx
