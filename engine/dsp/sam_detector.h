// Synchronous AM detection: a loop locked to the carrier de-rotates the
// complex baseband, so the audio is the in-phase part alone, free of the
// distortion an envelope detector suffers when selective fading takes the
// carrier below its sidebands. With one sideband chosen (SAM_UPPER,
// SAM_LOWER) the other is cancelled, for fading that spoils one side more.
//
// The loop: an NCO whose phase and frequency are updated once a run of
// samples (a power of two, 4..32: about 1000..1500 updates a second, 3000
// at 96000 Hz), so the per-sample work is a complex rotation and a few sums
// at the kernel set's width (nsp::spinAndSum), and the NCO is carried as a
// phasor that the loop turns: no sine, cosine or library arctangent a run
// while locked. The phase
// detector is the imaginary part of a lowpassed carrier phasor, divided by
// the carrier's slowly tracked magnitude, so the loop's bandwidth holds
// while the carrier fades; the loop filter is of second order (proportional
// plus integral). To pull in from as far as kSamPullInHz, frequency-locked
// aids steer the NCO in two stages: hunting, by the power-weighted mean
// frequency of the whole de-rotated signal (the carrier's for the symmetric
// spectrum of AM, but pulled aside by anything uneven: a faded sideband, a
// neighbour), until that settles; then narrowing, by the turn of the
// lowpassed carrier phasor, which the carrier dominates once near; then,
// the phasor holding still, the phase loop alone, so nothing but the carrier
// steers a locked loop.
//
// The sideband filter is a Hilbert pair of allpass chains (I -/+ H(Q)),
// about 44 dB of rejection; its phase response, common to both sidebands,
// is not flat (inaudible; SAM with both sidebands does not use it). Then a
// second-order Butterworth high-pass at the low cut takes out the carrier's
// level.
//
// Units: samples at the chain's scale (the detector does not care: every
// decision is on ratios); phase in radians; frequency in radians a sample,
// positive above the tuning. A stage of the receive chain's mode dispatch
// (the shape is described in dsp/receive_chain.h).
#pragma once

#include <cmath>
#include <cstdint>
#include <numbers>

#include "dsp/audio_filters.h"
#include "dsp/chain_format.h"
#include "dsp/receive_params.h"

namespace bw {

// How far from the tuning the loop looks for a carrier, Hz.
constexpr double kSamPullInHz = 2500.0;
// Natural frequency of the phase loop, Hz: wide enough to follow drift and
// the carrier's phase wander in fading, narrow against the audio.
constexpr double kSamLoopHz = 10.0;
// The lowest audio corner the detector's high-pass takes, Hz, when the
// parameters ask for none.
constexpr double kSamMinCornerHz = 20.0;

// Sections of second-order allpass in z^-2 in each path of the Hilbert pair.
constexpr int kSamAllpassSections = 4;

class SamDetector {
 public:
  struct State {
    double turn[2] = {1.0, 0.0};  // exp(-j phase): the NCO at the next sample
    double frequency = 0.0;  // NCO frequency, radians a sample
    double step[2] = {1.0, 0.0};  // exp(-j frequency): the NCO's turn a sample
    double carrierRe = 0.0, carrierIm = 0.0;  // lowpassed carrier phasor
    double carrierLevel = 0.0;  // slow |carrier|, sample scale
    double power = 0.0;         // slow mean |x|^2
    double lockQuality = 0.0;   // smoothed cos(carrier phase), -1..1
    double wideOffset = std::numbers::pi;  // smoothed wide-aid offset, radians a sample
    enum : std::uint8_t { kHunting, kNarrowing, kLocked };
    std::uint8_t stage = kHunting;
    std::int64_t stageSamples = 0;  // samples since the stage began
    // The Hilbert pair's histories: [path][signal][n-1, n-2], path 0 on the
    // in-phase part, 1 on the quadrature part; signal 0 is a path's input,
    // j its j-th section's output. Plus the one sample of delay path 0 adds.
    double allpass[2][kSamAllpassSections + 1][2] = {};
    double pathDelay = 0.0;
    BiquadState highpass;
    bool operator==(const State&) const = default;
    // The NCO's phase, radians, [-pi, pi].
    double phase() const { return -std::atan2(turn[1], turn[0]); }
  };

  // Sets the loop's gains for the format's rate; another stream starts the
  // loop afresh.
  void configure(const ChainFormat& format, State& s);
  // Forgets the carrier and every filter's history.
  static void reset(State& s) { s = State{}; }

  // Replaces one block of de-rotatable baseband re[0..n-1] + j im[0..n-1]
  // (the carrier near 0 Hz) with its audio in re (im zeroed): both
  // sidebands, or with p.modes.mode SAM_UPPER / SAM_LOWER that one alone;
  // the carrier's level and audio below p.lowCutHz (taken within
  // kSamMinCornerHz..a quarter of the rate) removed. Carries the loop in s;
  // never allocates. Before configure it leaves the block alone.
  void process(State& s, const ReceiveParams& p, double* re, double* im,
               std::int32_t n);

 private:
  void advanceStage(State& s, std::int32_t length) const;
  static void rotate(double (&z)[2], double delta);

  ChainFormat format_;
  std::int32_t run_ = 4;        // samples an update
  double perSample_ = 0.25;     // 1 / run_
  double proportional_ = 0.0;   // phase correction a unit of phase error
  double integral_ = 0.0;       // frequency correction a unit of phase error
  double frequencyAid_ = 0.0;   // share of the measured offset taken an update
  double carrierSmoothing_ = 0.0, levelSmoothing_ = 0.0, lockSmoothing_ = 0.0;
  double maxFrequency_ = 0.0;   // radians a sample
  double settledOffset_ = 0.0;  // radians a sample
  std::int64_t settleSamples_ = 0, narrowingSamples_ = 0;
  double cornerHz_ = -1.0;      // the high-pass designed for
  Biquad highpass_;
};

}  // namespace bw
