// Narrow-band FM detection: a phase discriminator (the angle between each
// baseband sample and the one before, carried across blocks), de-emphasis,
// the audio band, and a noise squelch. A detector of the chain's mode step
// (dsp/mode_detector.h); the filter before it passes -highCutHz..+highCutHz
// around the carrier.
//
// Audio: the discriminator's output in Hz of deviation, scaled so that a
// 1 kHz tone at full deviation (fmDeviationHz, see fmDeviationHz()) comes out
// at half the format's full scale; then de-emphasis of 6 dB an octave above
// 300 Hz (a first-order low-pass at 300 Hz, a 530 us time constant, as
// narrow-band FM practice), a second-order Butterworth high-pass at
// lowCutHz (sub-audible tones) and a second-order Butterworth low-pass at
// 3 kHz.
//
// Squelch: the discriminator's output above the audio band grows as the
// signal sinks into the noise. Its fourth difference (a high-pass whose gain
// rises 24 dB an octave: 3 kHz 57 dB below the Nyquist frequency at
// 48000 Hz) over a block, rms, in units of kFmNoiseReference x highCutHz
// (what noise alone gives in the passband in use), is the block's noise
// level: about 1 for noise alone, below 0.05 for a carrier 16 dB above the
// noise in the passband, 0 for a clean one. With fmSquelchLevel > 0 a block
// whose noise level exceeds fmSquelchLevel is silent: a small level opens on
// strong signals only, a level near 1 mutes noise alone. At rates below
// 16000 Hz there is little room above the audio, and loud audio reads as
// noise.
#pragma once

#include <cstdint>
#include <memory_resource>
#include <vector>

#include "dsp/audio_filters.h"
#include "dsp/chain_format.h"
#include "dsp/receive_params.h"

namespace bw {

// The rms of the fourth difference of the discriminator's output (in Hz)
// that noise alone gives, in units of the passband's high edge (measured at
// 48000 Hz with edges of 5500 and 8000 Hz): the unit of the squelch's noise
// level.
inline constexpr double kFmNoiseReference = 4.7;

class FmDetector {
 public:
  // The discriminator's scratch (2 N values) is allocated from heap in
  // configure.
  explicit FmDetector(std::pmr::memory_resource* heap = std::pmr::get_default_resource());

  struct State {
    double lastRe = 0.0, lastIm = 0.0;  // the previous block's last sample
    double deemphasis = 0.0;
    BiquadState highPass, lowPass;
    double noiseLevel = 0.0;  // the last block's (see above)
    bool operator==(const State&) const = default;
  };

  // Designs the fixed filters for the rate; another stream drops the
  // history.
  void configure(const ChainFormat& format, State& s);
  static void reset(State& s) { s = State{}; }

  // Replaces re + j im [0..n-1] (n >= 1, at most the configured N) by the
  // audio in re (sample units), im 0. p.lowCutHz is the band in use.
  void process(State& s, const ReceiveParams& p, double* re, double* im,
               std::int32_t n);

 private:
  ChainFormat format_;
  std::pmr::vector<double> angles_;    // one block's discriminator output
  std::pmr::vector<double> products_;  // its scratch
  Biquad lowPass_;
  double deemphasisCoef_ = 1.0;
  double deemphasisGain1k_ = 1.0;  // its gain at 1 kHz
};

}  // namespace bw
