// Noise reduction for voice: a short-time spectral gain on the complex
// baseband after the band filter (before the exact-tuning rotation, which
// moves every bin alike).
//
// Frames of F points (the power of two nearest 21 ms at the rate: 1024 at
// 48 kHz, 512 at 22050 and 24000 Hz, 128 at 8000 Hz) with half-frame hops,
// a square-root Hann window on the way in and again on the way out (the
// squares sum to one at half overlap, so with unit gains the output is the
// input, F samples late). Per bin of the passband:
//  - the noise power is tracked through the probability that speech is
//    present (Gerkmann and Hendriks' MMSE estimate): each frame it moves
//    towards what the bin's power says of the noise, weighted by how likely
//    the bin holds noise alone; a bin that seems to hold speech for long
//    still creeps up, so the estimate cannot stick below a rising noise;
//  - the clean-to-noise ratio is estimated decision-directed (0.98 of the
//    last frame's clean estimate) and refined once by the gain it gives
//    (Plapous, Marro and Scalart's two-step estimate, which removes the
//    decision-directed estimate's one-frame lag at the onsets of words);
//  - the gain is the log-spectral-amplitude estimator's (Ephraim and Malah),
//    never below a floor that reductionLevel sets: 0..1 for 0 to -40 dB, 0
//    (or out of range) for the default -30 dB.
// After a start the first two frames pass unchanged (they hold the stage's
// own silence and whatever onset the chain's filters have), and the next
// four average the power into the noise's first estimate.
// In AM modes the bins below the low cut (around the carrier) keep gain 1,
// and in FM the stage is idle (its baseband is not voice).
//
// A stage of the receive chain (the shape is described in
// dsp/receive_chain.h); it runs on SDR_TOOL_NOISE_REDUCTION.
//
// Ownership: the stage owns its transform plan, scratch and gain table; the
// State holds the frame history and per-bin estimates, allocated from the
// heap given at construction, in configure. process never allocates.
#pragma once

#include <array>
#include <cstdint>
#include <memory_resource>
#include <vector>

#include "dsp/chain_format.h"
#include "dsp/receive_params.h"
#include "dsp/split_buffer.h"
#include "primitives/fft_transform.h"

namespace bw {

constexpr double kReductionDefaultLevel = 0.75;
constexpr double kReductionMaxFloorDb = 40.0;  // the floor at level 1

// The frame's order (log2 F) at a sample rate.
int reductionFrameOrder(std::int32_t sampleRate);
// The floor a block asks for, as a linear gain.
double reductionFloor(const ReceiveParams& p);

class NoiseReduction {
 public:
  struct State {
    explicit State(std::pmr::memory_resource* heap = std::pmr::get_default_resource())
        : inRe(heap), inIm(heap), outRe(heap), outIm(heap), accRe(heap), accIm(heap),
          noise(heap), presence(heap), clean(heap) {}
    std::pmr::vector<double> inRe, inIm;    // the last F input samples
    std::pmr::vector<double> outRe, outIm;  // H samples ready to go out
    std::pmr::vector<double> accRe, accIm;  // second half of the last frame
    std::pmr::vector<double> noise;         // per bin: noise power
    std::pmr::vector<double> presence;      // per bin: smoothed speech presence
    std::pmr::vector<double> clean;         // per bin: last frame's clean power
    std::int32_t fill = 0;    // input samples since the last frame (0..H-1)
    std::int64_t frames = 0;  // frames since the start
    bool operator==(const State&) const = default;
  };

  explicit NoiseReduction(std::pmr::memory_resource* heap = std::pmr::get_default_resource());

  // Plans the frame transform and sizes the state for the format's rate
  // (allocates; not on the processing thread). Another stream starts
  // afresh. False when the transform cannot be planned.
  bool configure(const ChainFormat& format, State& s);
  static void reset(State& s);

  // With noise reduction on, replaces re + j im [0..n-1] by the cleaned
  // signal, delay() samples late; with it off, leaves them as they are and
  // resets the state, so that switching on again starts afresh.
  void process(State& s, const ReceiveParams& p, double* re, double* im, std::int32_t n);

  std::int32_t delay() const { return frame_; }  // samples

 private:
  void runFrame(State& s, const ReceiveParams& p);
  void updateBin(State& s, std::size_t i, double& re, double& im, double floor) const;

  // Per-bin functions from tables made at construction (a bin's update then
  // costs no exp or log): the probability that speech is present at a
  // posterior SNR, and exp(E1(v) / 2), the log-spectral-amplitude gain's
  // factor over the Wiener gain, at v = xi gamma / (1 + xi).
  static constexpr int kPresenceSteps = 129, kFactorSteps = 121;
  std::array<double, kPresenceSteps> presence_{};
  std::array<double, kFactorSteps> factor_{};

  nsp::FftTransform transform_;
  SplitBuffer time_, freq_;
  std::pmr::vector<double> window_;  // sqrt Hann, F values
  std::int32_t frame_ = 0, hop_ = 0;
  double binWidth_ = 0.0;
  ChainFormat format_;
};

}  // namespace bw
