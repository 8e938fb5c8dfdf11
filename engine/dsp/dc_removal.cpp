#include "dsp/dc_removal.h"

#include <cmath>
#include <numbers>

namespace bw {

namespace {
constexpr double kFlushLevel = 1e-20;
}  // namespace

double dcCoefficient(std::int32_t sampleRate) {
  return -std::expm1(-2.0 * std::numbers::pi * kDcCornerHz / sampleRate);
}

void removeDc(DcTracker& t, int channel, double* x, std::int32_t n, double alpha) {
  double level = t.level[channel];
  if (!t.primed[channel] && n > 0) {
    double sum = 0.0;
    for (std::int32_t i = 0; i < n; ++i) sum += x[i];
    level = sum / n;
    t.primed[channel] = true;
  }
  // y = x - level after the update: (1 - alpha)(1 - z^-1) / (1 - (1 - alpha) z^-1).
  // The level is a weighted mean of inputs, so it stays within their range.
  for (std::int32_t i = 0; i < n; ++i) {
    level += alpha * (x[i] - level);
    x[i] -= level;
  }
  t.level[channel] = std::fabs(level) < kFlushLevel ? 0.0 : level;
}

void removeCaptureDc(DcTracker& t, double* i, double* q, std::int32_t n,
                     double alpha, bool swapped, bool mono) {
  removeDc(t, swapped ? 1 : 0, i, n, alpha);
  if (!mono) removeDc(t, swapped ? 0 : 1, q, n, alpha);
}

}  // namespace bw
