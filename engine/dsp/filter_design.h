// Band-pass filter design: filterMag and filterPhase, the M-point response of
// an N-tap windowed band-pass FIR.
#pragma once

#include <cstdint>

namespace bw {

// Designs the band low..high (Hz). A band with low < 50, high > 6000 or
// high <= low becomes 50..6000 Hz; an edge at or above half the sample rate
// becomes (0.5 - 1/(2N)) of the rate; if the band is then empty the design is
// skipped and the previous response stays. Returns 0.
int designFilter(std::int32_t low, std::int32_t high);

}  // namespace bw
