// Exact tuning: the part of a tuning offset that the spectrum rotation cannot
// reach. The rotation moves the spectrum by an even number of bins
// (2 * binWidth steps, see rotationStart); the rest, the residual, is made up
// for by multiplying the output with an oscillator exp(j phase) whose
// frequency is minus the residual. The oscillator runs on from block to
// block and across retunes (its phase never jumps), so blocks join without a
// step in phase. The input spectrum is left as captured (the automatic I/Q
// balance pairs its mirror bins, and the spectrum picture shows it); where
// the filter acts after the bin rotation, it is moved up by the residual
// (shiftedFilter), so that its edges follow the exact offset.
//
// A stage of the receive chain (the shape is described in
// dsp/receive_chain.h) that acts at two places: the filter response (before
// the spectral steps) and the output (after the overlap-add).
//
// Ownership: the tuner owns its phasor table (N values re and im) and the
// moved filter response (M values mag and phase), allocated from the heap
// given at construction, in configure; both are caches of the residual and
// band they were made for, not history. filter and process never allocate.
#pragma once

#include <cstdint>
#include <memory_resource>
#include <vector>

#include "dsp/filter_design.h"
#include "primitives/primitive_entries.h"

namespace bw {

// Hz the even-bin rotation leaves between the requested offset and where it
// tunes: offset - k * binWidth, with k the even bin count of rotationStart.
// Between -1.5 and +0.5 bin widths.
double tuningResidualHz(std::int32_t tuneOffsetHz, double binWidth);

class FineTuner {
 public:
  struct State {
    // The oscillator phase at the start of the next block, radians in
    // [-pi, pi].
    double phase = 0.0;
    bool operator==(const State&) const = default;
  };

  explicit FineTuner(std::pmr::memory_resource* heap);

  // Sizes the table and the moved response for `format` (allocates; not on
  // the processing thread). Another stream restarts the oscillator.
  void configure(const ChainFormat& format, State& s);
  static void reset(State& s) { s.phase = 0.0; }

  struct Response {
    const double* mag;
    const double* phase;
  };
  // The filter response this block uses: the band's own, or, with exact
  // tuning on, a residual, the filter acting after the bin rotation
  // (ShiftEarly) and a band designed, that response moved up by the
  // residual: the taps turned by exp(j 2 pi shiftHz (k - centre) /
  // sampleRate) about their centre, so the delay and the phase at the
  // passband stay those of the unmoved filter; a minimum-phase band is
  // moved in linear phase, then brought to minimum phase. Designed anew (in
  // the band's shape, designBand) when the band, its shape or phase or the
  // shift changes, on `scratch` with `transform` (M points).
  Response filter(const ReceiveParams& p, const BandFilter::State& band,
                  const DesignScratch& scratch, const nsp::FftTransform& transform,
                  const PrimitiveEntries& nsp);

  // With exact tuning on, or while the oscillator is not at rest: turns the
  // output block re + j im [0..N-1] by the residual (rotate).
  void process(State& s, const ReceiveParams& p, double* re, double* im);

  // Multiplies re + j im [0..n-1] in place by exp(j (phase - 2 pi
  // residualHz k / sampleRate)) for k = 0..n-1 and advances the phase by n
  // samples: a complex tone at f Hz comes out at f - residualHz. A new
  // residual rebuilds the table (n sine/cosine pairs, once per retune).
  void rotate(State& s, double* re, double* im, double residualHz);

 private:
  double residualHz(const ReceiveParams& p) const;

  std::pmr::vector<double> tableRe_, tableIm_;  // exp(-j 2 pi r k / fs)
  std::pmr::vector<double> filterMag_, filterPhase_;  // the moved response
  std::int32_t filterLow_ = 0, filterHigh_ = 0;
  BandShape filterShape_ = BandShape::Sideband;
  bool filterMinimumPhase_ = false;
  double filterHz_;  // shift the response holds (NaN: none yet)
  double tableHz_;  // residual the table holds (NaN: none yet)
  double step_ = 0.0;  // phase advance a block, radians
  double binWidth_ = 0.0;  // Hz
  std::int32_t n_ = 0, rate_ = 0;
  ChainFormat format_;
};

}  // namespace bw
