#include "dsp/filter_design.h"

#include <algorithm>

#include "api/engine_state.h"

namespace bw {

namespace {
constexpr std::int32_t kFallbackLowHz = 50;
constexpr std::int32_t kFallbackHighHz = 6000;
}  // namespace

int designFilter(std::int32_t low, std::int32_t high) {
  EngineState& e = engine();
  const PrimitiveEntries& nsp = e.nsp;
  const std::int32_t n = e.blockSamples;
  const std::int32_t m = e.fftLength;

  std::fill_n(e.tapsRe.data(), m, 0.0);
  std::fill_n(e.tapsIm.data(), m, 0.0);
  std::fill_n(e.respRe.data(), m, 0.0);
  std::fill_n(e.respIm.data(), m, 0.0);

  if (low < kFallbackLowHz || high > kFallbackHighHz || high <= low) {
    low = kFallbackLowHz;
    high = kFallbackHighHz;
  }
  const double rate = e.sampleRate;
  double lowEdge = low / rate;
  double highEdge = high / rate;
  // At 8000 and 11025 Hz an edge can reach half the sample rate, which no
  // band-pass can have: such an edge moves just below it, and a band left
  // empty keeps the previous response.
  const double nyquistEdge = 0.5 - 1.0 / (2.0 * n);
  if (lowEdge >= 0.5) lowEdge = nyquistEdge;
  if (highEdge >= 0.5) highEdge = nyquistEdge;
  if (!(lowEdge < highEdge)) return 0;

  if (nsp.nspdFirBandpass(lowEdge, highEdge, e.tapsRe.data(), n,
                          nsp::kWindowOptimalBlackman,
                          nsp::kNormaliseCentre) != 0) {
    return 0;  // nothing designed: the previous response stays
  }
  nsp.nspzrFftNip(e.tapsRe.data(), e.tapsIm.data(), e.respRe.data(),
                  e.respIm.data(), e.fftOrder, nsp::kFftForward);
  nsp.nspdbrCartToPolar(e.respRe.data(), e.respIm.data(), e.filterMag.data(),
                        e.filterPhase.data(), m);
  return 0;
}

}  // namespace bw
