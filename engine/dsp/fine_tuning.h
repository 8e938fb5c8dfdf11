// Exact tuning: the part of a tuning offset that the spectrum rotation cannot
// reach. The rotation moves the spectrum by an even number of bins
// (2 * binWidth steps, see rotationStart); the rest, the residual, is made up
// for by multiplying complex samples with an oscillator exp(j phase) whose
// frequency is minus the residual. The oscillator runs on from block to
// block and across retunes (its phase never jumps), so blocks join without a
// step in phase.
//
// Ownership: the tuner owns its phasor table (N values re and im, allocated
// from the heap given at construction, in configure). rotate never
// allocates.
#pragma once

#include <cstdint>
#include <memory_resource>
#include <vector>

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
  double tableHz_;  // residual the table holds (NaN: none yet)
  double step_ = 0.0;  // phase advance a block, radians
  double phase_ = 0.0;
  std::int32_t n_ = 0, rate_ = 0;
};

}  // namespace bw
