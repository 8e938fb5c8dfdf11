// Envelope detection for AM: the audio is the size of the complex baseband,
// with the carrier's level (its DC) and everything below the passband's low
// edge removed by a second-order Butterworth high-pass at lowCutHz. A
// detector of the chain's mode step (dsp/mode_detector.h); the filter before
// it passes -highCutHz..+highCutHz around the carrier.
#pragma once

#include <cstdint>

#include "dsp/audio_filters.h"
#include "dsp/chain_format.h"
#include "dsp/receive_params.h"

namespace bw {

class AmDetector {
 public:
  struct State {
    BiquadState highPass;
    bool operator==(const State&) const = default;
  };

  // Another stream drops the history.
  void configure(const ChainFormat& format, State& s);
  static void reset(State& s) { s = State{}; }

  // Replaces re + j im [0..n-1] by the audio in re (sample units, the
  // carrier's amplitude giving its modulation's depth), im 0. p.lowCutHz is
  // the band in use.
  void process(State& s, const ReceiveParams& p, double* re, double* im,
               std::int32_t n) const;

 private:
  ChainFormat format_;
};

}  // namespace bw
