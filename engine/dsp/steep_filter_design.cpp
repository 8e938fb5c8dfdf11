#include "dsp/steep_filter_design.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace bw {

namespace {
constexpr double kPi = std::numbers::pi;

double blackmanHarris(std::int32_t k, std::int32_t n) {
  const double x = 2.0 * kPi * k / (n - 1);
  return 0.35875 - 0.48829 * std::cos(x) + 0.14128 * std::cos(2.0 * x) -
         0.01168 * std::cos(3.0 * x);
}
}  // namespace

bool steepFilterTaps(double* taps, std::int32_t n, std::int32_t sampleRate,
                     double low, double high) {
  const double rate = sampleRate;
  const double nyquistEdge = (0.5 - 1.0 / (2.0 * n)) * rate;
  high = std::min(high, nyquistEdge);
  low = std::min(low, nyquistEdge);
  if (n <= 4 || !(high > 0.0) || !(low < high)) return false;
  // A band-pass is the low-pass of half its width moved to its centre, both
  // ways (real taps).
  if (low < 0.0) low = 0.0;
  const bool lowPass = low == 0.0;
  const double centre = lowPass ? 0.0 : (low + high) / (2.0 * rate);
  const double half = lowPass ? high / rate : (high - low) / (2.0 * rate);
  const double mid = 0.5 * (n - 1);
  double gain = 0.0;
  for (std::int32_t k = 0; k < n; ++k) {
    const double m = k - mid;
    const double sinc = m == 0.0 ? 2.0 * half : std::sin(2.0 * kPi * half * m) / (kPi * m);
    const double carrier = lowPass ? 1.0 : 2.0 * std::cos(2.0 * kPi * centre * m);
    taps[k] = sinc * carrier * blackmanHarris(k, n);
    gain += taps[k] * std::cos(2.0 * kPi * centre * m);
  }
  if (!std::isfinite(gain) || gain == 0.0) return false;
  for (std::int32_t k = 0; k < n; ++k) taps[k] /= gain;
  return true;
}

bool designSteepFilter(const FilterArrays& a, std::int32_t n,
                       const nsp::FftTransform& transform, std::int32_t sampleRate,
                       std::int32_t low, std::int32_t high, bool lowPass,
                       const PrimitiveEntries& nsp) {
  const std::int32_t m = 2 * n;
  std::fill_n(a.tapsRe, m, 0.0);
  std::fill_n(a.tapsIm, m, 0.0);
  std::fill_n(a.respRe, m, 0.0);
  std::fill_n(a.respIm, m, 0.0);
  if (!steepFilterTaps(a.tapsRe, n, sampleRate, lowPass ? 0.0 : low, high)) return false;
  transform.forward(a.tapsRe, a.respRe);
  nsp.nspdbrCartToPolar(a.respRe, a.respIm, a.mag, a.phase, m);
  return true;
}

}  // namespace bw
