#include "dsp/am_detector.h"

#include <cmath>

namespace bw {

void AmDetector::configure(const ChainFormat& f, State& s) {
  if (isNewStream(format_, f)) reset(s);
  format_ = f;
}

void AmDetector::process(State& s, const ReceiveParams& p, double* re, double* im,
                         std::int32_t n) const {
  const Biquad highPass =
      Biquad::design(Biquad::Kind::HighPass, p.lowCutHz, format_.sampleRate);
  BiquadState h = s.highPass;
  for (std::int32_t k = 0; k < n; ++k) {
    re[k] = h.step(highPass, std::sqrt(re[k] * re[k] + im[k] * im[k]));
    im[k] = 0.0;
  }
  h.flushTiny();
  s.highPass = h;
}

}  // namespace bw
