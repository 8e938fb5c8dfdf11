#include "dsp/noise_blanker.h"

#include <algorithm>
#include <cmath>

namespace bw {

namespace {
constexpr double kMeanSeconds = 5e-3;
// The mean never falls below one step of the integer scale, so that after
// silence the first sample is not taken for an impulse (and no denormals).
constexpr double kPowerFloor = 1.0;
}  // namespace

double blankerLevel(const ReceiveParams& p) {
  const double level = p.modes.blankerLevel;
  if (!(level > 0.0)) return kBlankerDefaultLevel;  // NaN too
  return std::clamp(level, kBlankerMinLevel, kBlankerMaxLevel);
}

void NoiseBlanker::configure(const ChainFormat& f, State& s) {
  const double rate = f.sampleRate;
  delay_ = std::clamp(static_cast<std::int32_t>(std::ceil(kGuardBeforeSeconds * rate)), 1,
                      kBlankerMaxDelay);
  gap_ = delay_ + 1 + static_cast<std::int32_t>(std::ceil(kGuardAfterSeconds * rate));
  coef_ = -std::expm1(-1.0 / (kMeanSeconds * rate));
  if (isNewStream(format_, f)) reset(s);
  format_ = f;
}

void NoiseBlanker::process(State& s, const ReceiveParams& p, double* re, double* im,
                           std::int32_t n) const {
  if (!(p.modes.tools & SDR_TOOL_NOISE_BLANKER) || n <= 0) return;
  const double level = blankerLevel(p);
  const double ratio = level * level;
  double mean = s.meanPower;
  if (!s.primed) {  // the block's own mean power as the first estimate
    double sum = 0.0;
    for (std::int32_t k = 0; k < n; ++k) sum += re[k] * re[k] + im[k] * im[k];
    mean = sum / n;
    s.primed = true;
  }
  std::int32_t next = s.next;
  std::int32_t gapLeft = s.gapLeft;
  // The mean as keep * mean + coef * power: a sample waits on the one before
  // for one multiply and one add (the threshold's comparisons are branches
  // the processor predicts).
  const double coef = coef_, keep = 1.0 - coef_;
  for (std::int32_t k = 0; k < n; ++k) {
    const double power = re[k] * re[k] + im[k] * im[k];
    const double threshold = ratio * std::max(mean, kPowerFloor);
    if (power > threshold) gapLeft = gap_;
    mean = keep * mean + coef * std::min(power, threshold);
    const double outRe = s.delayRe[next];
    const double outIm = s.delayIm[next];
    s.delayRe[next] = re[k];
    s.delayIm[next] = im[k];
    next = next + 1 == delay_ ? 0 : next + 1;
    const bool blank = gapLeft > 0;
    gapLeft -= blank ? 1 : 0;
    re[k] = blank ? 0.0 : outRe;
    im[k] = blank ? 0.0 : outIm;
  }
  s.next = next;
  s.gapLeft = gapLeft;
  s.meanPower = mean;
}

}  // namespace bw
