#include "dsp/minimum_phase.h"

#include <algorithm>
#include <cmath>

namespace bw {

void toMinimumPhase(const FilterArrays& a, std::int32_t n,
                    const nsp::FftTransform& transform, const PrimitiveEntries& nsp) {
  const std::int32_t m = 2 * n;
  const std::int32_t half = n;

  for (std::int32_t k = 0; k < m; ++k) {
    a.tapsRe[k] = std::log(std::max(a.mag[k], kMinimumPhaseFloor));
    a.tapsIm[k] = 0.0;
  }
  // The cepstrum of the log magnitude (conjugate-symmetric about 0); its
  // causal half, doubled, is the cepstrum of the minimum-phase filter.
  transform.inverse(a.tapsRe, a.respRe);
  for (std::int32_t k = 1; k < half; ++k) {
    a.respRe[k] *= 2.0;
    a.respIm[k] *= 2.0;
  }
  std::fill(a.respRe + half + 1, a.respRe + m, 0.0);
  std::fill(a.respIm + half + 1, a.respIm + m, 0.0);
  // Back to the log of the response: log magnitude + j phase.
  transform.forward(a.respRe, a.tapsRe);
  for (std::int32_t k = 0; k < m; ++k) {
    const double magnitude = std::exp(a.tapsRe[k]);
    a.respRe[k] = magnitude * std::cos(a.tapsIm[k]);
    a.respIm[k] = magnitude * std::sin(a.tapsIm[k]);
  }
  // The taps, cut to n so that the chain's overlap-add holds the whole
  // convolution; what lies beyond is the little the M-point cepstrum folds
  // back, tens of dB down.
  transform.inverse(a.respRe, a.tapsRe);
  std::fill(a.tapsRe + n, a.tapsRe + m, 0.0);
  std::fill(a.tapsIm + n, a.tapsIm + m, 0.0);
  transform.forward(a.tapsRe, a.respRe);
  nsp.nspdbrCartToPolar(a.respRe, a.respIm, a.mag, a.phase, m);
}

}  // namespace bw
