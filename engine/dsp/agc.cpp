#include "dsp/agc.h"

#include <algorithm>

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

void applyAgc(Agc::State& s, double* mag, std::int32_t n, std::int32_t rampSamples,
              std::int32_t holdBlocks, double maxGain, const PrimitiveEntries& nsp) {
  const std::int32_t hold = agcHoldBlocks(holdBlocks);

  // Advance before writing; the ring holds at least kAgcMaxHoldBlocks entries.
  s.pos = (s.pos >= hold - 1) ? 0 : s.pos + 1;

  double gain = s.currentGain;
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
  s.currentGain = gain;
  s.previousGain = gain;
}
}  // namespace

std::int32_t agcHistoryBlocks(const ReceiveParams& p) {
  return (p.flags & SDR_FLAG_AGC_ON) ? agcHoldBlocks(p.agcBlocks) : 0;
}

void Agc::configure(const ChainFormat& f, State& s) {
  // At least 10 entries, so that any hold count 1..10 stays inside the ring.
  s.ring.resize(std::max<std::size_t>(kAgcMaxHoldBlocks, (f.sampleRate / 1000) / 2 + 1),
                0.0);
  rampSamples_ = f.sampleRate / 1000;
}

void Agc::reset(State& s) {
  std::fill(s.ring.begin(), s.ring.end(), 0.0);
  s.pos = 0;
  s.previousGain = s.currentGain = 0.0;
}

void Agc::process(State& s, const ReceiveParams& p, double* mag, std::int32_t n,
                  const PrimitiveEntries& nsp) const {
  if (p.flags & SDR_FLAG_AGC_ON) {
    applyAgc(s, mag, n, rampSamples_, p.agcBlocks, p.gain, nsp);
  } else {
    nsp.nspdbMpy1(p.gain, mag, n);
    s.currentGain = p.gain;
  }
}

std::int32_t Agc::readingsHeld(const State& seen, std::int32_t hold) {
  const auto used = seen.ring.begin() + std::min<std::ptrdiff_t>(hold, std::ssize(seen.ring));
  return static_cast<std::int32_t>(
      std::count_if(seen.ring.begin(), used, [](double r) { return r != 0.0; }));
}

Agc::State Agc::warmStart(const State& fresh, const State& seen, std::int32_t hold) {
  State start = fresh;
  start.ring = seen.ring;
  // An empty entry holds 0, which the AGC would take as its gain.
  const auto used = start.ring.begin() + std::min<std::ptrdiff_t>(hold, std::ssize(start.ring));
  if (used == start.ring.begin()) return start;
  const double largest = *std::max_element(start.ring.begin(), used);
  std::replace(start.ring.begin(), used, 0.0, largest);
  return start;
}

void Agc::startAt(State& s, double gain) {
  s.previousGain = gain;
  s.currentGain = gain;
}

}  // namespace bw
