// Noise blanker: impulses (ignition, power lines, electric fences) cut out of
// the captured I/Q before the transform, where each is still a few samples
// long rather than smeared over the whole block by the filter.
//
// A sample whose power exceeds level^2 times the running mean power (a
// one-pole average with a 5 ms time constant) starts a gap: that sample,
// kGuardBeforeSeconds before it and kGuardAfterSeconds after it are set to
// zero. To reach back before the impulse the output runs a few samples
// (guardBefore) behind the input; the delay line is carried from block to
// block. Samples inside a gap feed the mean with the threshold, not with
// their own power: an impulse does not raise the threshold, while a signal
// that really steps up is accepted after a dozen samples or so (the mean
// grows by a factor 1 + (level^2 - 1) / tau a sample).
//
// Units: sample values at the capture's integer scale. A stage of the
// receive chain (the shape is described in dsp/receive_chain.h); it runs on
// SDR_TOOL_NOISE_BLANKER, in every mode.
#pragma once

#include <cstdint>

#include "dsp/chain_format.h"
#include "dsp/receive_params.h"

namespace bw {

constexpr double kBlankerDefaultLevel = 10.0;  // times the mean level
constexpr double kBlankerMinLevel = 2.0;
constexpr double kBlankerMaxLevel = 1000.0;
constexpr double kGuardBeforeSeconds = 20e-6;
constexpr double kGuardAfterSeconds = 60e-6;
constexpr int kBlankerMaxDelay = 8;  // samples (enough for 96 kHz)

// The level a block asks for: blankerLevel within kBlankerMinLevel..
// kBlankerMaxLevel; 0, a negative value or NaN give the default.
double blankerLevel(const ReceiveParams& p);

class NoiseBlanker {
 public:
  struct State {
    double delayRe[kBlankerMaxDelay] = {};  // the last `delay` samples in
    double delayIm[kBlankerMaxDelay] = {};
    std::int32_t next = 0;     // oldest place in the delay line
    std::int32_t gapLeft = 0;  // samples still to blank
    double meanPower = 0.0;    // running mean of |x|^2
    bool primed = false;       // meanPower holds an estimate
    bool operator==(const State&) const = default;
  };

  // Guards and average for the format's rate; another stream starts afresh.
  void configure(const ChainFormat& format, State& s);
  static void reset(State& s) { s = State{}; }

  // With the blanker on, blanks the impulses of re + j im [0..n-1] in place;
  // the block comes out `delay()` samples late.
  void process(State& s, const ReceiveParams& p, double* re, double* im,
               std::int32_t n) const;

  std::int32_t delay() const { return delay_; }  // samples

 private:
  std::int32_t delay_ = 1, gap_ = 1;
  double coef_ = 0.0;  // the mean's one-pole coefficient a sample
  ChainFormat format_;
};

}  // namespace bw
