#include "dsp/filter_design.h"

#include <algorithm>

#include "brackwell/param_block.h"

namespace bw {

namespace {
constexpr std::int32_t kFallbackLowHz = SDR_MIN_CUT_HZ;
constexpr std::int32_t kFallbackHighHz = SDR_MAX_CUT_HZ;
}  // namespace

void designFilter(const FilterArrays& a, std::int32_t n,
                  const nsp::FftTransform& transform, std::int32_t sampleRate, std::int32_t low, std::int32_t high,
                  const PrimitiveEntries& nsp) {
  const std::int32_t m = 2 * n;

  std::fill_n(a.tapsRe, m, 0.0);
  std::fill_n(a.tapsIm, m, 0.0);
  std::fill_n(a.respRe, m, 0.0);
  std::fill_n(a.respIm, m, 0.0);

  if (low < kFallbackLowHz || high > kFallbackHighHz || high <= low) {
    low = kFallbackLowHz;
    high = kFallbackHighHz;
  }
  const double rate = sampleRate;
  double lowEdge = low / rate;
  double highEdge = high / rate;
  // At 8000 and 11025 Hz an edge can reach half the sample rate, which no
  // band-pass can have: such an edge moves just below it, and a band left
  // empty keeps the previous response.
  const double nyquistEdge = 0.5 - 1.0 / (2.0 * n);
  if (lowEdge >= 0.5) lowEdge = nyquistEdge;
  if (highEdge >= 0.5) highEdge = nyquistEdge;
  if (!(lowEdge < highEdge)) return;

  if (nsp.nspdFirBandpass(lowEdge, highEdge, a.tapsRe, n,
                          nsp::kWindowOptimalBlackman,
                          nsp::kNormaliseCentre) != 0) {
    return;  // nothing designed: the previous response stays
  }
  transform.forward(a.tapsRe, a.respRe);
  nsp.nspdbrCartToPolar(a.respRe, a.respIm, a.mag, a.phase, m);
}

}  // namespace bw
