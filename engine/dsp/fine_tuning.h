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
// Ownership: the tuner owns its phasor table (N values re and im) and the
// moved filter response (M values mag and phase), allocated from the heap
// given at construction, in configure. rotate and shiftedFilter never
// allocate.
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
  explicit FineTuner(std::pmr::memory_resource* heap);

  // Sizes the table for blocks of n samples at sampleRate Hz (allocates;
  // not on the processing thread). The phase stays.
  void configure(std::int32_t n, std::int32_t sampleRate);

  // The response of the band low..high (as designFilter makes it for n taps)
  // moved up by shiftHz, in polar form (M values each): the taps turned by
  // exp(j 2 pi shiftHz (k - centre) / sampleRate) about their centre, so the
  // delay and the phase at the passband stay those of the unmoved filter.
  // Designed anew when the band or the shift changes (uses scratch's taps
  // and response arrays; its mag and phase are not touched).
  struct Response {
    const double* mag;
    const double* phase;
  };
  // scratch's taps and response are paired arrays for `transform`.
  Response shiftedFilter(const FilterArrays& scratch,
                         const nsp::FftTransform& transform, std::int32_t low,
                         std::int32_t high, double shiftHz,
                         const PrimitiveEntries& nsp);

  // Multiplies re + j im [0..n-1] in place by exp(j (phase - 2 pi
  // residualHz k / sampleRate)) for k = 0..n-1 and advances the phase by n
  // samples: a complex tone at f Hz comes out at f - residualHz. A new
  // residual rebuilds the table (n sine/cosine pairs, once per retune).
  void rotate(double* re, double* im, double residualHz);

  // True when rotate would change nothing: no residual and phase 0.
  bool idle(double residualHz) const { return residualHz == 0.0 && phase_ == 0.0; }

  // The oscillator phase at the start of the next block, radians in
  // [-pi, pi]; carried from block to block.
  double phase() const { return phase_; }
  void setPhase(double radians) { phase_ = radians; }

 private:
  std::pmr::vector<double> tableRe_, tableIm_;  // exp(-j 2 pi r k / fs)
  std::pmr::vector<double> filterMag_, filterPhase_;  // the moved response
  std::int32_t filterLow_ = 0, filterHigh_ = 0;
  double filterHz_;  // shift the response holds (NaN: none yet)
  double tableHz_;  // residual the table holds (NaN: none yet)
  double step_ = 0.0;  // phase advance a block, radians
  double phase_ = 0.0;
  std::int32_t n_ = 0, rate_ = 0;
};

}  // namespace bw
