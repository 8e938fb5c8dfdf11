#include "dsp/agc.h"

namespace bw {

namespace {
constexpr double kTargetPeak = 16384.0;  // the envelope peak the gain aims at

// Multiplies mag[0..ramp-1] by factors moving in `ramp` equal steps from
// `from` (exclusive) to `to` (reached at sample ramp-1), the rest by `to`.
void rampGain(double* mag, std::int32_t n, std::int32_t ramp, double from,
              double to) {
  const double step = (to - from) / ramp;
  for (std::int32_t i = 0; i < ramp && i < n; ++i) {
    mag[i] *= from + (i + 1) * step;
  }
  for (std::int32_t i = ramp; i < n; ++i) mag[i] *= to;
}
}  // namespace

void applyAgc(AgcState& s, double* mag, std::int32_t n, std::int32_t rampSamples,
              std::int32_t holdBlocks, double maxGain, const PrimitiveEntries& nsp) {
  const std::int32_t hold = agcHoldBlocks(holdBlocks);

  // Advance before writing; the ring holds at least kAgcMaxHoldBlocks entries.
  s.pos = (s.pos >= hold - 1) ? 0 : s.pos + 1;

  double gain = s.currentGain.load(std::memory_order_relaxed);
  const double peak = nsp.nspdMax(mag, n);
  if (peak != 0.0) {
    s.ring[s.pos] = kTargetPeak / peak;
    gain = nsp.nspdMin(s.ring.data(), hold);
  }
  if (maxGain < gain) gain = maxGain;

  const double previous = s.previousGain;
  if (previous != gain) {
    rampGain(mag, n, rampSamples, previous, gain);
  } else {
    nsp.nspdbMpy1(gain, mag, n);
  }
  s.currentGain.store(gain, std::memory_order_relaxed);
  s.previousGain = gain;
}

}  // namespace bw
