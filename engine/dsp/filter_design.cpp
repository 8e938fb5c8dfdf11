#include "dsp/filter_design.h"

#include <algorithm>

#include "brackwell/param_block.h"
#include "dsp/minimum_phase.h"
#include "dsp/steep_filter_design.h"

namespace bw {

namespace {
constexpr std::int32_t kFallbackLowHz = SDR_MIN_CUT_HZ;
constexpr std::int32_t kFallbackHighHz = SDR_MAX_CUT_HZ;
}  // namespace

bool designFilter(const FilterArrays& a, std::int32_t n,
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
  if (!(lowEdge < highEdge)) return false;

  if (nsp.nspdFirBandpass(lowEdge, highEdge, a.tapsRe, n,
                          nsp::kWindowOptimalBlackman,
                          nsp::kNormaliseCentre) != 0) {
    return false;  // nothing designed: the previous response stays
  }
  transform.forward(a.tapsRe, a.respRe);
  nsp.nspdbrCartToPolar(a.respRe, a.respIm, a.mag, a.phase, m);
  return true;
}

bool designBand(BandShape shape, bool minimumPhase, const FilterArrays& a, std::int32_t n,
                const nsp::FftTransform& transform, std::int32_t sampleRate,
                std::int32_t low, std::int32_t high, const PrimitiveEntries& nsp) {
  // The sideband window's stopband nulls fold back from the M-point
  // cepstrum and spoil its minimum-phase form (-70 dB at 512 taps): in
  // minimum phase a sideband is the steep band-pass of the same edges.
  const bool designed =
      shape == BandShape::Sideband && !minimumPhase
          ? designFilter(a, n, transform, sampleRate, low, high, nsp)
          : designSteepFilter(a, n, transform, sampleRate, low, high,
                              shape == BandShape::LowPass, nsp);
  if (designed && minimumPhase) toMinimumPhase(a, n, transform, nsp);
  return designed;
}

void BandFilter::configure(const ChainFormat& f, State& s) {
  const auto m = std::size_t{2} << f.order;
  s.mag.resize(m, 0.0);
  s.phase.resize(m, 0.0);
  if (isNewStream(format_, f)) reset(s);
  format_ = f;
}

void BandFilter::process(State& s, const ReceiveParams& p,
                         const DesignScratch& scratch,
                         const nsp::FftTransform& transform,
                         const PrimitiveEntries& nsp) const {
  const BandShape shape = bandShapeFor(p.modes.mode);
  const bool minimumPhase = (p.extensions & SDR_EXT_MINIMUM_PHASE) != 0;
  if ((p.lowCutHz == s.low && p.highCutHz == s.high && shape == s.shape &&
       minimumPhase == s.minimumPhase) ||
      !(0 < p.lowCutHz && p.lowCutHz < p.highCutHz)) {
    return;
  }
  s.low = p.lowCutHz;
  s.high = p.highCutHz;
  s.shape = shape;
  s.minimumPhase = minimumPhase;
  designBand(shape, minimumPhase,
             {scratch.tapsRe, scratch.tapsIm, scratch.respRe, scratch.respIm,
              s.mag.data(), s.phase.data()},
             1 << format_.order, transform, format_.sampleRate, p.lowCutHz,
             p.highCutHz, nsp);
}

}  // namespace bw
