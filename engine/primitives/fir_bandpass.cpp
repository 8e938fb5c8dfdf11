// Windowed-sinc band-pass design with the optimal Blackman window.
#include <cmath>
#include <numbers>

#include "primitives/nsp.h"

namespace bw::nsp {
namespace {

constexpr double kPi = std::numbers::pi;

// Tap n before normalisation: ideal band-pass response times the window.
// m = n - (L-1)/2 is the distance from the centre, a half-integer for even L.
struct BandpassDesign {
  double low;
  double high;
  int length;
  double alpha;

  double m(int n) const { return n - (length - 1) * 0.5; }

  double ideal(double mm) const {
    if (mm == 0.0) return 2.0 * (high - low);
    return (std::sin(2.0 * kPi * high * mm) - std::sin(2.0 * kPi * low * mm)) /
           (kPi * mm);
  }

  double window(int n) const {
    if (n == 0 || n == length - 1) return 0.0;
    const double x = 2.0 * kPi * n / (length - 1);
    return (alpha + 1.0) * 0.5 - 0.5 * std::cos(x) -
           alpha * 0.5 * std::cos(2.0 * x);
  }

  double tap(int n) const { return ideal(m(n)) * window(n); }
};

}  // namespace

int nspdFirBandpass(double low, double high, double* taps, int tapsLen,
                    int window, int normalise) {
  // Written so that NaN edges fail every comparison and are refused.
  if (!(low > 0.0 && low < high && high < 0.5)) return 1;
  if (tapsLen <= 4 || window != kWindowOptimalBlackman || taps == nullptr) {
    return 1;
  }
  const BandpassDesign design{
      low, high, tapsLen,
      -0.5 / (1.0 + std::cos(2.0 * kPi / (tapsLen - 1)))};

  double scale = 1.0;
  if (normalise != 0) {
    // Zero-phase gain at the band centre; computed before anything is
    // written so that a degenerate design leaves taps untouched.
    const double centre = 0.5 * (low + high);
    double gain = 0.0;
    for (int n = 0; n < tapsLen; ++n) {
      gain += design.tap(n) * std::cos(2.0 * kPi * centre * design.m(n));
    }
    if (!std::isfinite(gain) || gain == 0.0) return 1;
    scale = 1.0 / gain;
  }
  for (int n = 0; n < tapsLen; ++n) taps[n] = design.tap(n) * scale;
  return 0;
}

}  // namespace bw::nsp
