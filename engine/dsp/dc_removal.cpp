#include "dsp/dc_removal.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "primitives/chain_helpers.h"

namespace bw {

namespace {
constexpr double kFlushLevel = 1e-20;
constexpr double kMinRunRate = 1500.0;  // runs a second, at least

// Sum of x[0..n-1] in four interleaved partial sums (the compiler may not
// reorder a plain sum into vectors).
double sum(const double* x, std::int32_t n) {
  double a = 0.0, b = 0.0, c = 0.0, d = 0.0;
  std::int32_t i = 0;
  for (; i + 4 <= n; i += 4) {
    a += x[i];
    b += x[i + 1];
    c += x[i + 2];
    d += x[i + 3];
  }
  for (; i < n; ++i) a += x[i];
  return (a + b) + (c + d);
}

// Subtracts the tracked DC level of device channel `channel` (0 or 1) from
// x[0..n-1] in place and carries the level on (n a multiple of the stride;
// a shorter last run is allowed). Levels below 1e-20 become 0 at the end, so
// silence never leaves denormals. The level is a weighted mean of the
// inputs, so it stays within their range.
void removeDc(DcRemoval::State& t, int channel, double* x, std::int32_t n,
              const DcSettings& s) {
  double level = t.level[channel];
  if (!t.primed[channel] && n > 0) {
    level = sum(x, n) / n;
    t.primed[channel] = true;
  }
  level = nsp::removeRunLevels(x, n, s.stride, s.gain, s.ramp, level);
  if (const std::int32_t start = n - n % s.stride; start < n) {  // a shorter last run: its level, held
    const std::int32_t length = n - start;
    level += s.gain * (sum(x + start, length) / length - level);
    for (std::int32_t i = start; i < n; ++i) x[i] -= level;
  }
  t.level[channel] = std::fabs(level) < kFlushLevel ? 0.0 : level;
}
}  // namespace

DcSettings dcSettings(std::int32_t sampleRate) {
  DcSettings s;
  while (s.stride < kDcMaxStride && sampleRate / (2.0 * s.stride) >= kMinRunRate) {
    s.stride *= 2;
  }
  for (std::int32_t i = 0; i < s.stride; ++i) {
    s.ramp[i] = static_cast<double>(i + 1) / s.stride;
  }
  s.gain = -std::expm1(-2.0 * std::numbers::pi * kDcCornerHz * s.stride / sampleRate);
  return s;
}

void DcRemoval::configure(const ChainFormat& f, State& state) {
  settings_ = dcSettings(f.sampleRate);
  if (isNewStream(format_, f)) reset(state);
  format_ = f;
}

void DcRemoval::process(State& state, const ReceiveParams& p, double* i,
                        double* q, std::int32_t n) const {
  if (!(p.extensions & SDR_EXT_DC_REMOVAL)) return;
  const bool swapped = p.flags & SDR_FLAG_SWAP_INPUT;
  removeDc(state, swapped ? 1 : 0, i, n, settings_);
  if (!(p.flags & SDR_FLAG_MONO_INPUT)) removeDc(state, swapped ? 0 : 1, q, n, settings_);
}

}  // namespace bw
