// Automatic gain control over the block envelope mag[0..N-1].
#pragma once

#include <cstdint>

namespace bw {

// Gain = 16384 / the largest envelope peak of the last holdBlocks blocks
// (1..10, anything else counts as 1), capped at maxGain (linear), reached by a
// linear ramp over agcRampSamples samples. Scales mag[0..N-1] in place and
// sets currentGain. A block whose peak is 0 keeps the gain. Returns 0.
int applyAgc(std::int32_t holdBlocks, double maxGain);

}  // namespace bw
