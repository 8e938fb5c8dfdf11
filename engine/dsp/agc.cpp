#include "dsp/agc.h"

#include "api/engine_state.h"

namespace bw {

namespace {
constexpr double kTargetPeak = 16384.0;  // the envelope peak the gain aims at
constexpr std::int32_t kMaxHold = 10;

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

int applyAgc(std::int32_t holdBlocks, double maxGain) {
  EngineState& e = engine();
  const PrimitiveEntries& nsp = e.nsp;
  const std::int32_t n = e.blockSamples;
  double* mag = e.mag.data();

  std::int32_t hold = holdBlocks;
  if (hold < 1 || hold > kMaxHold) hold = 1;

  // Advance before writing; the ring holds at least kMaxHold entries.
  e.agcPos = (e.agcPos >= hold - 1) ? 0 : e.agcPos + 1;

  double gain = e.currentGain.load(std::memory_order_relaxed);
  const double peak = nsp.nspdMax(mag, n);
  if (peak != 0.0) {
    e.agcRing[e.agcPos] = kTargetPeak / peak;
    gain = nsp.nspdMin(e.agcRing.data(), hold);
  }
  if (maxGain < gain) gain = maxGain;

  const double previous = e.previousGain;
  if (previous != gain) {
    rampGain(mag, n, e.agcRampSamples, previous, gain);
  } else {
    nsp.nspdbMpy1(gain, mag, n);
  }
  e.currentGain.store(gain, std::memory_order_relaxed);
  e.previousGain = gain;
  return 0;
}

}  // namespace bw
