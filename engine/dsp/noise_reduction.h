// Noise reduction for voice: a short-time spectral gain on the complex
// baseband after the band filter (before the exact-tuning rotation, which
// moves every bin alike).
//
// Frames of F points (the power of two nearest 21 ms at the rate: 1024 at
// 48 kHz, 512 at 22050 and 24000 Hz, 128 at 8000 Hz) with half-frame hops,
// a square-root Hann window on the way in and again on the way out (the
// squares sum to one at half overlap, so with unit gains the output is the
// input, F samples late). Per bin: the noise power is the minimum of the
// smoothed power over about 1.5 s (minimum statistics, in eight
// sub-windows, the power smoothed by 0.7 a frame) times a bias of 1.5; the
// clean power is estimated decision-directed (0.98 of the last frame's
// estimate, 0.02 of this frame's excess over the noise), and the Wiener gain
// xi / (1 + xi) is applied, never below a floor that reductionLevel sets:
// 0..1 for 0 to -30 dB, 0 (or out of range) for the default -15 dB. A
// higher bias or a longer smoothing reduces more noise at low SNR but, as
// continuous speech then raises the minimum, distorts clean speech: these
// keep the loss at 30 dB SNR under 1 dB. In AM modes the bins below the low
// cut (around the carrier) keep gain 1, and in FM the stage is
// idle (its baseband is not voice).
//
// A stage of the receive chain (the shape is described in
// dsp/receive_chain.h); it runs on SDR_TOOL_NOISE_REDUCTION.
//
// Ownership: the stage owns its transform plan and scratch; the State holds
// the frame history and per-bin estimates, allocated from the heap given at
// construction, in configure. process never allocates.
#pragma once

#include <cstdint>
#include <memory_resource>
#include <vector>

#include "dsp/chain_format.h"
#include "dsp/receive_params.h"
#include "dsp/split_buffer.h"
#include "primitives/fft_transform.h"

namespace bw {

constexpr double kReductionDefaultLevel = 0.5;
constexpr double kReductionMaxFloorDb = 30.0;  // the floor at level 1
constexpr int kMinStatWindows = 8;

// The frame's order (log2 F) at a sample rate.
int reductionFrameOrder(std::int32_t sampleRate);
// The floor a block asks for, as a linear gain.
double reductionFloor(const ReceiveParams& p);

class NoiseReduction {
 public:
  struct State {
    explicit State(std::pmr::memory_resource* heap = std::pmr::get_default_resource())
        : inRe(heap), inIm(heap), outRe(heap), outIm(heap), accRe(heap), accIm(heap),
          smoothed(heap), minNow(heap), minStored(heap), minWindows(heap),
          clean(heap) {}
    std::pmr::vector<double> inRe, inIm;    // the last F input samples
    std::pmr::vector<double> outRe, outIm;  // H samples ready to go out
    std::pmr::vector<double> accRe, accIm;  // second half of the last frame
    std::pmr::vector<double> smoothed;      // per bin: smoothed power
    std::pmr::vector<double> minNow;        // per bin: this sub-window's minimum
    std::pmr::vector<double> minStored;     // per bin: minimum of the stored ones
    std::pmr::vector<double> minWindows;    // kMinStatWindows x F minima
    std::pmr::vector<double> clean;         // per bin: last frame's clean power
    std::int32_t fill = 0;    // input samples since the last frame (0..H-1)
    std::int64_t frames = 0;  // frames analysed
    bool operator==(const State&) const = default;
  };

  explicit NoiseReduction(std::pmr::memory_resource* heap = std::pmr::get_default_resource());

  // Plans the frame transform and sizes the state for the format's rate
  // (allocates; not on the processing thread). Another stream starts
  // afresh. False when the transform cannot be planned.
  bool configure(const ChainFormat& format, State& s);
  static void reset(State& s);

  // With noise reduction on, replaces re + j im [0..n-1] by the cleaned
  // signal, delay() samples late.
  void process(State& s, const ReceiveParams& p, double* re, double* im, std::int32_t n);

  std::int32_t delay() const { return frame_; }  // samples

 private:
  void runFrame(State& s, const ReceiveParams& p);

  nsp::FftTransform transform_;
  SplitBuffer time_, freq_;
  std::pmr::vector<double> window_;  // sqrt Hann, F values
  std::int32_t frame_ = 0, hop_ = 0, framesPerWindow_ = 1;
  double binWidth_ = 0.0;
  ChainFormat format_;
};

}  // namespace bw
