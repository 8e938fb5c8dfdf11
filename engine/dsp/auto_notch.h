// Automatic notch: steady carriers (heterodynes, a broadcast's carrier
// beside the wanted signal) found in the block's filtered spectrum and
// cancelled from the complex baseband after the overlap-add.
//
// Finding them: a carrier advances the phase of its bin by the same angle
// (its frequency times N samples) from one block to the next, whatever the
// bin; speech and noise do not. A bin that is a local peak, stands out from
// the bins three transform lengths around it, keeps its magnitude within
// 25 % and its phase advance within 0.25 rad over three blocks is taken for
// a carrier; the phase advance gives its frequency to a small fraction of a
// bin (the bin resolves the 2 * binWidth ambiguity).
//
// Cancelling it: for each of up to kMaxNotches carriers, an oscillator at
// that frequency and a one-weight LMS canceller (y = x - w r, w += mu y r*),
// run 16 samples at a time with the weight held, which is a notch
// about 2 x 32 Hz wide at its -3 dB points (mu for a 5 ms
// time constant) that follows slow drift and a small error in the
// frequency. A carrier missing for 0.3 s is let go.
//
// Modes: upper/lower sideband and the AM modes (where the wanted carrier at
// 0 Hz, and anything below the low cut, is left alone); never CW (its tone is
// the signal) or FM. A stage of the receive chain (the shape is described in
// dsp/receive_chain.h); it runs on SDR_TOOL_NOTCH.
//
// Ownership: the State holds per-bin history (M values each), allocated
// from the heap given at construction, in configure.
#pragma once

#include <array>
#include <cstdint>
#include <memory_resource>
#include <vector>

#include "dsp/chain_format.h"
#include "dsp/receive_params.h"

namespace bw {

constexpr int kMaxNotches = 4;

class AutoNotch {
 public:
  struct Notch {
    bool active = false;
    double omega = 0.0;               // radians a sample
    double refRe = 1.0, refIm = 0.0;  // the oscillator
    double wRe = 0.0, wIm = 0.0;      // the carrier's estimated amplitude
    std::int32_t misses = 0;          // blocks since last seen
    bool operator==(const Notch&) const = default;
  };
  struct State {
    explicit State(std::pmr::memory_resource* heap = std::pmr::get_default_resource())
        : phase(heap), advance(heap), mag(heap), steady(heap) {}
    std::pmr::vector<double> phase, advance, mag;  // per bin, last block's
    std::pmr::vector<std::int32_t> steady;         // per bin: blocks in a row
    std::array<Notch, kMaxNotches> notches{};
    bool operator==(const State&) const = default;
  };

  // Sizes the per-bin history for the format (allocates; not on the
  // processing thread); another stream starts afresh.
  void configure(const ChainFormat& format, State& s);
  static void reset(State& s);

  // With the notch on in a mode it serves: looks for carriers in the
  // block's filtered spectrum mag, phase [0..M-1] (rotated: bin k is
  // k * binWidth, the upper half negative) and cancels those found from the
  // block's output re + j im [0..n-1] in place.
  void process(State& s, const ReceiveParams& p, const double* mag, const double* phase,
               double* re, double* im, std::int32_t n) const;

 private:
  void detect(State& s, const ReceiveParams& p, const double* mag,
              const double* phase) const;
  void cancel(Notch& notch, double* re, double* im, std::int32_t n) const;

  std::int32_t m_ = 0, n_ = 0;
  double binWidth_ = 0.0, mu_ = 0.0;
  std::int32_t releaseBlocks_ = 1;
  ChainFormat format_;
};

}  // namespace bw
