#include "dsp/spectral_steps.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "dsp/receive_params.h"
#include "primitives/chain_helpers.h"

namespace bw {

namespace {
// Squelch counts only envelope values above this many sample units.
constexpr double kSquelchFloor = 2.0;
constexpr double kSquelchRatio = 0.1;

// dst[i] = src[(i + start) mod m] for i = 0..m-1, as two straight copies.
void rotateInto(const double* src, double* dst, std::int32_t m,
                std::int32_t start) {
  std::copy(src + start, src + m, dst);
  std::copy(src, src + start, dst + (m - start));
}
}  // namespace

std::int64_t tuningBins(std::int32_t tuneOffsetHz, double binWidth) {
  return std::llrint(tuneOffsetHz / binWidth);
}

std::int32_t rotationStart(std::int64_t k, std::int32_t m) {
  return static_cast<std::int32_t>(evenRotationBins(k) & (m - 1));
}

void toPolarRotated(const PrimitiveEntries& nsp, const double* re,
                    const double* im, double* mag, double* phase,
                    std::int32_t m, std::int32_t start) {
  nsp.nspdbrCartToPolar(re + start, im + start, mag, phase, m - start);
  if (start > 0) {
    nsp.nspdbrCartToPolar(re, im, mag + (m - start), phase + (m - start), start);
  }
}

void rotateBins(std::pmr::vector<double>& mag, std::pmr::vector<double>& phase,
                std::pmr::vector<double>& rotMag,
                std::pmr::vector<double>& rotPhase, std::int32_t m,
                std::int64_t k) {
  const std::int32_t start = rotationStart(k, m);
  rotateInto(mag.data(), rotMag.data(), m, start);
  rotateInto(phase.data(), rotPhase.data(), m, start);
  // The rotated arrays become mag and phase; the old ones are scratch now.
  std::swap(mag, rotMag);
  std::swap(phase, rotPhase);
}

void applyBalance(double* re, double* im, std::int32_t m, double a, double b) {
  if (a == 0.0 && b == 0.0) return;  // no correction: nothing changes
  const double scale = 1.0 + b;
  for (std::int32_t i = 0; i < m; ++i) {
    im[i] += a * re[i];
    re[i] *= scale;
  }
}

void removeSideband(double* mag, std::int32_t m, std::uint32_t flags) {
  const std::int32_t half = m / 2;
  if (flags & SDR_FLAG_UPPER_SIDEBAND) std::fill(mag + half, mag + 2 * half, 0.0);
  if (flags & SDR_FLAG_LOWER_SIDEBAND) std::fill(mag, mag + half, 0.0);
}

void applySquelch(double* mag, std::int32_t m, double level) {
  // Entry 0 is not examined; the upper half, which still holds processed
  // spectrum magnitudes, takes part. quiet starts at 1.
  long long counts[2];
  nsp::countAbove(mag + 1, m - 1, kSquelchFloor, level, counts);
  const double loud = static_cast<double>(counts[1]);
  const double quiet = 1.0 + static_cast<double>(counts[0] - counts[1]);
  if (loud / quiet < kSquelchRatio) std::fill(mag, mag + m, 0.0);
}

void captureSpectrum(SpectrumSnapshot& s, const double* mag, std::int32_t m,
                     std::int32_t start) {
  // Bin b is at index (b - start) mod m.
  publishSnapshot(s, mag, m - 1, (m - start) & (m - 1));
}

}  // namespace bw
