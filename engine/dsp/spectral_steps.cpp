#include "dsp/spectral_steps.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "api/consistent_copy.h"
#include "api/engine_state.h"
#include "api/param_block.h"

namespace bw {

namespace {
// Squelch counts only envelope values above this many sample units.
constexpr double kSquelchFloor = 2.0;
constexpr double kSquelchRatio = 0.1;

// dst[i] = src[(i + k) & mask] for i = 0..M-1, as two straight copies.
void rotateInto(const double* src, double* dst, std::int32_t m,
                std::int32_t start) {
  std::copy(src + start, src + m, dst);
  std::copy(src, src + start, dst + (m - start));
}
}  // namespace

std::int64_t tuningBins(std::int32_t tuneOffsetHz) {
  const EngineState& e = engine();
  return std::llrint(tuneOffsetHz / e.binWidth);
}

void rotateBins(std::int64_t k) {
  EngineState& e = engine();
  if (k & 1) k += 1;
  const std::int32_t m = e.fftLength;
  // Two's complement with the mask, so a negative k rotates the other way.
  const auto start = static_cast<std::int32_t>(k & e.binMask);
  rotateInto(e.mag.data(), e.rotMag.data(), m, start);
  rotateInto(e.phase.data(), e.rotPhase.data(), m, start);
  // The rotated arrays become mag and phase; the old ones are scratch now.
  std::swap(e.mag, e.rotMag);
  std::swap(e.phase, e.rotPhase);
}

void applyBalance(double* re, double* im, double a, double b) {
  if (a == 0.0 && b == 0.0) return;  // no correction: nothing changes
  const std::int32_t m = engine().fftLength;
  const double scale = 1.0 + b;
  for (std::int32_t i = 0; i < m; ++i) {
    im[i] += a * re[i];
    re[i] *= scale;
  }
}

void removeSideband(std::uint32_t flags) {
  EngineState& e = engine();
  const std::int32_t half = e.fftLength / 2;
  double* mag = e.mag.data();
  if (flags & flag::UpperSideband) std::fill(mag + half, mag + 2 * half, 0.0);
  if (flags & flag::LowerSideband) std::fill(mag, mag + half, 0.0);
}

void applySquelch(double level) {
  EngineState& e = engine();
  const std::int32_t m = e.fftLength;
  double* mag = e.mag.data();
  double loud = 0.0;
  double quiet = 1.0;
  // Entry 0 is not examined; the upper half, which still holds processed
  // spectrum magnitudes, takes part.
  for (std::int32_t i = 1; i < m; ++i) {
    if (mag[i] > kSquelchFloor) {
      if (mag[i] > level) {
        loud += 1.0;
      } else {
        quiet += 1.0;
      }
    }
  }
  if (loud / quiet < kSquelchRatio) std::fill(mag, mag + m, 0.0);
}

void captureSpectrum() {
  EngineState& e = engine();
  publishWords(e.spectrum.sequence, e.spectrum.values, e.mag.data(),
               static_cast<std::size_t>(e.fftLength - 1));
}

}  // namespace bw
