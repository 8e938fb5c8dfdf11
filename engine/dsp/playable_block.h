// Which parameter blocks the receive chain can play. A block that fails here
// would fill the chain with infinities or NaN: through the transform into the
// tails, the automatic gain's history, the spectrum and the gain reading for
// blocks to come. The chain plays such a block as silence and keeps its state
// as it was.
#pragma once

#include <cmath>
#include <limits>

#include "dsp/receive_params.h"

namespace bw {

// The largest balance coefficient (either one, in size) whose correction
// cannot overflow. A bin of the loudest block is below 2^48 (full scale
// 2^31, 2^16 frames, sqrt 2 for the complex sample); the correction makes it
// at most 2 + 2|coefficient| times larger, and the inverse transform sums
// 2^17 bins: below 2^67 times the coefficient, which leaves 2^33 for the
// filter's gain and the automatic balance's. A correction that means
// anything is below 1.
inline constexpr double kMaxBalanceCoef = std::numeric_limits<double>::max() / 0x1p100;

// False for balance coefficients that are not finite or larger than
// kMaxBalanceCoef, for a gain that would make the reading infinite or NaN (a
// fixed gain that is not finite, an automatic gain's ceiling of -infinity)
// and for an infinite output gain (0 x infinity is NaN). An automatic gain's
// ceiling of +infinity or NaN puts none, and a NaN output gain is no output
// gain: those blocks play.
inline bool playable(const ReceiveParams& p) {
  constexpr double kInfinity = std::numeric_limits<double>::infinity();
  const bool agc = (p.flags & SDR_FLAG_AGC_ON) != 0;
  // Written so that a NaN coefficient fails the comparison.
  return std::abs(p.iqPhaseCoef) <= kMaxBalanceCoef &&
         std::abs(p.iqGainCoef) <= kMaxBalanceCoef &&
         (std::isfinite(p.gain) || (agc && p.gain != -kInfinity)) &&
         p.outputGain != kInfinity;
}

}  // namespace bw
