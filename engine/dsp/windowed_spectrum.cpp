#include "dsp/windowed_spectrum.h"

#include <cmath>

#include "primitives/chain_helpers.h"

namespace bw {

namespace {
// 4-term Blackman-Harris, a0 - a1 cos + a2 cos 2 - a3 cos 3, each cosine's
// half-weight on the bins 2j either side, all over a0.
constexpr double kA0 = 0.35875;
constexpr double kTap[4] = {1.0, -0.48829 / 2 / kA0, 0.14128 / 2 / kA0,
                            -0.01168 / 2 / kA0};
}  // namespace

void captureWindowedSpectrum(SpectrumSnapshot& s, const double* re,
                             const double* im, std::int32_t m, double* scratch) {
  // Bins whose taps stay inside the transform at the kernel set's width;
  // those within kReach of either end wrap around, one at a time.
  constexpr std::int32_t kReach = 6;
  nsp::evenTapMagnitude(re + kReach, im + kReach, kTap, scratch + kReach, m - 2 * kReach);
  const std::int32_t mask = m - 1;
  for (std::int32_t k : {0, 1, 2, 3, 4, 5, m - 6, m - 5, m - 4, m - 3, m - 2}) {
    double r = kTap[0] * re[k];
    double i = kTap[0] * im[k];
    for (std::int32_t j = 1; j < 4; ++j) {
      const std::int32_t below = (k - 2 * j) & mask;
      const std::int32_t above = (k + 2 * j) & mask;
      r += kTap[j] * (re[below] + re[above]);
      i += kTap[j] * (im[below] + im[above]);
    }
    scratch[k] = std::sqrt(r * r + i * i);
  }
  publishSnapshot(s, scratch, m - 1);
}

}  // namespace bw
