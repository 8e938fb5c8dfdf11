// DC removal: a one-pole tracker of each capture channel's DC level,
// subtracted from the samples. The tracker runs on the means of short runs
// of samples (a stride of at least 1/1500 s, so a run holds no more than a
// few periods of anything but DC) and is subtracted as a straight line from
// one run's level to the next, which costs two cheap passes instead of a
// recursion per sample. The response is that of a one-pole high-pass with
// its corner at kDcCornerHz: zero at DC, 0.011 dB of loss at 200 Hz, 0.17 dB
// at 50 Hz. A fresh tracker starts from the mean of the first block it sees
// (right at once for a quiet band; a strong signal near the centre spoils
// that first guess a little); from there, and after a change of offset, it
// settles with a time constant of 1 / (2 pi kDcCornerHz) = 16 ms: 40 dB in
// 73 ms.
//
// Units: sample values as captured (integer scale of the PCM width). The
// state is two levels, one per device channel (the first and second sample
// of a frame), so that swapping I and Q does not disturb it. A stage of the
// receive chain (the shape is described in dsp/receive_chain.h).
#pragma once

#include <cstdint>

#include "dsp/chain_format.h"
#include "dsp/receive_params.h"

namespace bw {

constexpr double kDcCornerHz = 10.0;

constexpr std::int32_t kDcMaxStride = 64;

// How the tracker runs at one sample rate.
struct DcSettings {
  std::int32_t stride = 1;  // samples per run: a power of two, at most 64
  double gain = 0.0;        // the one-pole's coefficient per run
  double ramp[kDcMaxStride] = {};  // (i + 1) / stride: the line across a run
};
DcSettings dcSettings(std::int32_t sampleRate);

class DcRemoval {
 public:
  struct State {
    double level[2] = {0.0, 0.0};     // per device channel
    bool primed[2] = {false, false};  // level holds an estimate
    bool operator==(const State&) const = default;
  };

  // Runs at the format's rate; another stream starts the levels afresh.
  void configure(const ChainFormat& format, State& s);
  // Forgets both levels (the next block primes them again).
  static void reset(State& s) { s = State{}; }

  // With DcRemoval on, removes the DC of a block as unpacked: i and q hold
  // the device's first and second channel, or the reverse with SwapInput;
  // with MonoInput only i is used (q is about to become a copy of it), so
  // only its channel is tracked.
  void process(State& s, const ReceiveParams& p, double* i, double* q,
               std::int32_t n) const;

 private:
  DcSettings settings_;
  ChainFormat format_;
};

}  // namespace bw
