#include "dsp/mode_detector.h"

#include <algorithm>

namespace bw {

void CwDetector::process(State&, const ReceiveParams&, double*, double* im,
                         std::int32_t n) const {
  std::fill_n(im, n, 0.0);
}

void ModeDetector::configure(const ChainFormat& f, State& s) {
  cw_.configure(f, s.cw);
  am_.configure(f, s.am);
  sam_.configure(f, s.sam);
  fm_.configure(f, s.fm);
}

void ModeDetector::reset(State& s) {
  CwDetector::reset(s.cw);
  AmDetector::reset(s.am);
  SamDetector::reset(s.sam);
  FmDetector::reset(s.fm);
}

void ModeDetector::process(State& s, const ReceiveParams& p,
                           const BandFilter::State& band, double* re, double* im,
                           std::int32_t n) {
  if (!isDetectedMode(p.modes.mode)) return;
  ReceiveParams q = p;
  q.lowCutHz = band.low;
  q.highCutHz = band.high;
  switch (p.modes.mode) {
    case SDR_MODE_CW:
    case SDR_MODE_CW_REVERSED: cw_.process(s.cw, q, re, im, n); break;
    case SDR_MODE_FM: fm_.process(s.fm, q, re, im, n); break;
    case SDR_MODE_SAM:
    case SDR_MODE_SAM_UPPER:
    case SDR_MODE_SAM_LOWER: sam_.process(s.sam, q, re, im, n); break;
    default: am_.process(s.am, q, re, im, n); break;
  }
}

}  // namespace bw
