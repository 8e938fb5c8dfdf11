#include "dsp/fine_tuning.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>

#include "dsp/minimum_phase.h"
#include "dsp/spectral_steps.h"
#include "primitives/chain_helpers.h"
#include "primitives/fft_plan.h"

namespace bw {

namespace {
constexpr double kTwoPi = 2.0 * std::numbers::pi;
}  // namespace

double tuningResidualHz(std::int32_t tuneOffsetHz, double binWidth) {
  const std::int64_t k = evenRotationBins(tuningBins(tuneOffsetHz, binWidth));
  return tuneOffsetHz - static_cast<double>(k) * binWidth;
}

FineTuner::FineTuner(std::pmr::memory_resource* heap)
    : tableRe_(heap), tableIm_(heap), filterMag_(heap), filterPhase_(heap),
      filterHz_(std::numeric_limits<double>::quiet_NaN()),
      tableHz_(std::numeric_limits<double>::quiet_NaN()) {}

void FineTuner::configure(const ChainFormat& f, State& s) {
  const std::int32_t n = 1 << f.order;
  tableRe_.resize(static_cast<std::size_t>(n), 0.0);
  tableIm_.resize(static_cast<std::size_t>(n), 0.0);
  filterMag_.resize(2 * static_cast<std::size_t>(n), 0.0);
  filterPhase_.resize(2 * static_cast<std::size_t>(n), 0.0);
  if (n != n_ || f.sampleRate != rate_) {
    tableHz_ = std::numeric_limits<double>::quiet_NaN();
    filterHz_ = std::numeric_limits<double>::quiet_NaN();
  }
  n_ = n;
  rate_ = f.sampleRate;
  binWidth_ = static_cast<double>(f.sampleRate) / (2 * n);
  if (isNewStream(format_, f)) reset(s);
  format_ = f;
}

double FineTuner::residualHz(const ReceiveParams& p) const {
  return (p.extensions & SDR_EXT_EXACT_TUNING) ? tuningResidualHz(p.tuneOffsetHz, binWidth_)
                                           : 0.0;
}

FineTuner::Response FineTuner::filter(const ReceiveParams& p,
                                      const BandFilter::State& band,
                                      const DesignScratch& scratch,
                                      const nsp::FftTransform& transform,
                                      const PrimitiveEntries& nsp) {
  const double shiftHz = residualHz(p);
  if (shiftHz == 0.0 || !(p.flags & SDR_FLAG_SHIFT_EARLY) || band.low <= 0) {
    return {band.mag.data(), band.phase.data()};
  }
  const std::int32_t low = band.low, high = band.high;
  if (low != filterLow_ || high != filterHigh_ || band.shape != filterShape_ ||
      band.minimumPhase != filterMinimumPhase_ || shiftHz != filterHz_) {
    const std::int32_t m = 2 * n_;
    const FilterArrays moved{scratch.tapsRe, scratch.tapsIm, scratch.respRe, scratch.respIm,
                             filterMag_.data(), filterPhase_.data()};
    designBand(band.shape, false, moved, n_, transform, rate_, low, high, nsp);
    filterLow_ = low;
    filterHigh_ = high;
    filterShape_ = band.shape;
    filterMinimumPhase_ = band.minimumPhase;
    filterHz_ = shiftHz;
    // A band the design skips (left empty at the highest edges) leaves the
    // taps zero and, as for the chain's own filter, the previous response.
    if (std::all_of(scratch.tapsRe, scratch.tapsRe + n_, [](double t) { return t == 0.0; })) {
      return {filterMag_.data(), filterPhase_.data()};
    }
    // The taps are real and symmetric about their centre; turned about it
    // they keep its delay.
    const double centre = 0.5 * (n_ - 1);
    const double perSample = shiftHz / rate_;
    for (std::int32_t k = 0; k < n_; ++k) {
      const double cycles = perSample * (k - centre);
      const double angle = kTwoPi * (cycles - std::nearbyint(cycles));
      const double tap = scratch.tapsRe[k];
      scratch.tapsRe[k] = tap * std::cos(angle);
      scratch.tapsIm[k] = tap * std::sin(angle);
    }
    transform.forward(scratch.tapsRe, scratch.respRe);
    nsp.nspdbrCartToPolar(scratch.respRe, scratch.respIm, filterMag_.data(),
                          filterPhase_.data(), m);
    if (band.minimumPhase) toMinimumPhase(moved, n_, transform, nsp);
  }
  return {filterMag_.data(), filterPhase_.data()};
}

void FineTuner::process(State& s, const ReceiveParams& p, double* re, double* im) {
  const double residual = residualHz(p);
  if (residual == 0.0 && s.phase == 0.0) return;  // would change nothing
  rotate(s, re, im, residual);
}

void FineTuner::rotate(State& s, double* re, double* im, double residualHz) {
  if (residualHz != tableHz_) {
    // Each entry from its own phase, so that no error builds up along the
    // table; cycles = r k / fs is reduced to [-0.5, 0.5] before scaling.
    const double perSample = residualHz / rate_;
    for (std::int32_t k = 0; k < n_; ++k) {
      const double cycles = perSample * k;
      const double angle = -kTwoPi * (cycles - std::nearbyint(cycles));
      tableRe_[k] = std::cos(angle);
      tableIm_[k] = std::sin(angle);
    }
    const double blockCycles = perSample * n_;
    step_ = -kTwoPi * (blockCycles - std::nearbyint(blockCycles));
    tableHz_ = residualHz;
  }
  nsp::rotateByTable(re, im, tableRe_.data(), tableIm_.data(),
                     std::cos(s.phase), std::sin(s.phase), n_);
  // Kept within [-pi, pi]: the accumulated phase never loses precision.
  s.phase = std::remainder(s.phase + step_, kTwoPi);
}

}  // namespace bw
