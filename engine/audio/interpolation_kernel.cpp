#include "audio/interpolation_kernel.h"

#include <cmath>
#include <numbers>

namespace bw::audio {

namespace {

// Kaiser's shape: 100 dB of stopband over a transition from 0.4 to 0.6 of
// the sample rate at 32 taps.
constexpr double kBeta = 10.0;

// The modified Bessel function of the first kind, order 0, by its series.
double besselI0(double x) {
  double sum = 1.0, term = 1.0;
  for (int k = 1; k < 64 && term > 1e-21 * sum; ++k) {
    const double h = x / (2.0 * k);
    term *= h * h;
    sum += term;
  }
  return sum;
}

// The windowed sinc at `t` frames from its centre; exactly 1 at 0 and 0 at
// every other whole frame.
double kernelAt(double t) {
  if (t == 0.0) return 1.0;
  if (t == std::nearbyint(t)) return 0.0;
  const double half = InterpolationKernel::kTaps / 2.0;
  const double r = t / half;
  if (std::abs(r) >= 1.0) return 0.0;
  const double x = std::numbers::pi * t;
  return std::sin(x) / x * besselI0(kBeta * std::sqrt(1.0 - r * r)) / besselI0(kBeta);
}

}  // namespace

const InterpolationKernel& InterpolationKernel::instance() {
  static const InterpolationKernel kernel;
  return kernel;
}

InterpolationKernel::InterpolationKernel() {
  for (int p = 0; p <= kPhases; ++p) {
    const double fraction = double(p) / kPhases;
    // Tap k weighs frame i - kBefore + k, at fraction - (k - kBefore) from
    // the position.
    for (int k = 0; k < kTaps; ++k) {
      taps_[p][k] = static_cast<float>(kernelAt(fraction - (k - kBefore)));
    }
  }
  for (int p = 0; p < kPhases; ++p) {
    for (int k = 0; k < kTaps; ++k) slopes_[p][k] = taps_[p + 1][k] - taps_[p][k];
  }
}

void InterpolationKernel::interpolate(const float* frames, double fraction,
                                      float out[2]) const noexcept {
  const double at = fraction * kPhases;
  const int p = static_cast<int>(at);
  const auto t = static_cast<float>(at - p);
  const std::array<float, kTaps>& taps = taps_[p];
  const std::array<float, kTaps>& slopes = slopes_[p];
  // Eight partial sums (four taps, two channels) so that the additions do
  // not wait on one another.
  float sums[8] = {};
  for (int k = 0; k < kTaps; k += 4) {
    for (int j = 0; j < 4; ++j) {
      const float c = taps[k + j] + t * slopes[k + j];
      sums[2 * j] += c * frames[2 * (k + j)];
      sums[2 * j + 1] += c * frames[2 * (k + j) + 1];
    }
  }
  out[0] = (sums[0] + sums[2]) + (sums[4] + sums[6]);
  out[1] = (sums[1] + sums[3]) + (sums[5] + sums[7]);
}

}  // namespace bw::audio
