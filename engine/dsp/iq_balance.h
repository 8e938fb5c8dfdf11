// Automatic I/Q balance: estimates the mismatch of the I and Q channels from
// the signal itself and removes the mirror images it makes, on the input
// spectrum of each block (M = 2N bins of the zero-padded transform; bin k and
// bin M - k are mirror frequencies).
//
// Model. A receiver whose I and Q paths differ (gain, phase, or a time skew
// between the two converters) delivers Z(k) = G1(k) X(k) + G2(k) X*(-k): every
// signal leaves an image at its mirror frequency. The correction
//   Y(k) = Z(k) - w(k) conj(Z(M - k))
// removes it for w(k) = G2(k) / G1*(-k). A skew of half a sample makes a phase
// error that grows with frequency (about pi f / fs), so w must depend on
// frequency: one gain/phase pair for the whole band (the chain's manual
// balance) cannot cancel images from 1 to 20 kHz at once. The correction runs
// before the manual balance, on the raw spectrum, and adds to it.
//
// Estimate. For a signal without mirror symmetry E[Y(k) Y(M-k)] = 0 once w is
// right, which gives, per pair of mirror bins with P = E|Z|^2 and
// C = E[Z(k) Z(M-k)],
//   w(k) = (C - w(M-k) P(k)) / (P(M-k) - w(M-k) conj(C)),
// exact for a single strong signal at M - k whatever w(M-k) is, and solved by
// one fixed-point step per update elsewhere. P and C are averaged over time
// (exponentially, time constant kTimeConstantSeconds) in cells of a fixed
// width in Hz (kCells over the sample rate), so the estimate means the same
// at every order; they are taken through a Hann window, as the block's own
// rectangular window would spread a strong signal's mirror products over the
// whole spectrum. A cell's value is weighted by its mirror's power over the
// part of its own power the mirror does not explain (inverse to the value's
// variance), and it takes part only where the mirror is the stronger side
// and the two sides are coherent: a strong signal decides the correction of
// its own image, while noise, pairs alike on both sides (a DC offset's
// leakage among them) and the centre are left out. The weighted values are
// smoothed across cells, shrunk towards zero where the evidence is weak, and
// dropped where they do not stand clear of their own error, so that a
// balanced input is left alone; the result is smoothed once more and applied
// to the bins of each cell. From cell to cell it moves by small steps, so the
// correction's impulse response is a few cells' inverse long, short against
// the block, as the zero-padded overlap-add needs; and |w| is capped
// (kMaxCorrection) so that no input can make it run away. Why not the
// chain's two manual coefficients: they are one correction for the whole
// band, and they act on each bin's real and imaginary parts, not on mirror
// pairs.
//
// Cost: the correction (a complex multiply-add a bin) runs every block, on
// the bins the chain's filter can pass only (within kReachHz of the tuning),
// so that the bins the chain then discards cost nothing; the spectrum the
// chain publishes keeps its images outside that range. The statistics and
// the estimate, over the whole spectrum, run every `updateEvery` blocks,
// about every kUpdateSeconds.
//
// A stage of the receive chain (the shape is described in
// dsp/receive_chain.h). What it learns is its State; the stage owns its
// scratch, allocated from the heap given at construction. configure sizes
// both (allocates), nothing else does. process runs on the processing
// thread and neither allocates nor locks.
#pragma once

#include <cstdint>
#include <memory_resource>
#include <vector>

#include "dsp/chain_format.h"
#include "dsp/receive_params.h"

namespace bw {

class IqBalance {
 public:
  static constexpr std::int32_t kCells = 256;  // cells over the sample rate
  static constexpr double kTimeConstantSeconds = 0.25;
  static constexpr double kUpdateSeconds = 0.25;
  static constexpr double kMaxCorrection = 0.9;  // largest |w|
  // The chain's filters pass nothing beyond 6000 Hz from the tuning; 300 Hz
  // more covers their transition and the rounding of the tuning.
  static constexpr double kReachHz = 6300.0;

  // What is learned and carried from block to block: the averaged
  // statistics per cell (own power, mirror power, cross product), the
  // correction per cell, and blocks until the next update.
  struct State {
    explicit State(std::pmr::memory_resource* heap = std::pmr::get_default_resource())
        : ownPow(heap), mirPow(heap), crossRe(heap), crossIm(heap),
          cellRe(heap), cellIm(heap) {}
    std::pmr::vector<double> ownPow, mirPow, crossRe, crossIm, cellRe, cellIm;
    // The mean power of a cell and the two sums that count the blocks
    // averaged.
    double meanPower = 0.0, weightSum = 0.0, weightSquares = 0.0;
    std::int32_t countdown = 0;
    bool operator==(const State&) const = default;
  };

  explicit IqBalance(std::pmr::memory_resource* heap);

  // Sizes for the M bins (2^(order+1)) of the format's blocks; another
  // stream resets the estimate. Allocates.
  void configure(const ChainFormat& format, State& s);

  // Forgets everything learned: no correction until the next update.
  static void reset(State& s);

  // With AutoIqBalance on, one block's input spectrum (M bins, split parts)
  // in place: updates the statistics and the estimate when one is due, then
  // corrects the bins within kReachHz of the tuning offset: the only ones
  // the chain's filter lets through.
  void process(State& s, const ReceiveParams& p, double* re, double* im);

 private:
  using Array = std::pmr::vector<double>;

  void accumulate(State& s, const double* re, const double* im) const;
  void estimate(State& s);
  void correctRun(const State& s, double* re, double* im, const double* mirRe,
                  const double* mirIm, std::int32_t first,
                  std::int32_t count) const;

  ChainFormat format_;
  std::int32_t m_ = 0, cellBins_ = 1, cells_ = 0;
  std::int32_t updateEvery_ = 1;
  double binWidth_ = 0.0;  // Hz
  double keep_ = 0.0;  // weight of the old statistics at an update

  // Scratch.
  Array numRe_, numIm_, den_, tmp_;     // smoothing work, one per cell
  Array mirrorRe_, mirrorIm_;           // mirror values of the corrected bins
};

}  // namespace bw
