#include "dsp/auto_notch.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "primitives/chain_helpers.h"
#include "primitives/nsp.h"

namespace bw {

namespace {
constexpr double kTwoPi = 2.0 * std::numbers::pi;
constexpr double kPhaseTolerance = 0.25;   // radians, of the advance's change
constexpr double kMagTolerance = 0.25;     // of the magnitude's change
constexpr double kProminence = 4.0;        // over the bins around
constexpr std::int32_t kAround = 6;        // bins: three transform lengths
constexpr std::int32_t kSteadyBlocks = 1;  // advances alike in a row
constexpr double kTimeConstant = 5e-3;     // seconds, of the canceller
constexpr double kReleaseSeconds = 0.3;
constexpr std::int32_t kChunk = 16;  // samples the canceller holds its weight

// The nearest integer, ties to even, as nearbyint in the default rounding
// mode, for |x| < 2^51: adding 1.5 * 2^52 leaves no fraction to keep (the
// compiler may not fold the two steps without fast-math). Inline, where
// nearbyint is a library call on baseline x86-64 and the search makes two
// a bin.
double nearest(double x) {
  constexpr double kRound = 0x1.8p52;
  return (x + kRound) - kRound;
}

double wrap(double angle) { return angle - kTwoPi * nearest(angle / kTwoPi); }

bool servesMode(std::uint8_t mode) {
  return mode == SDR_MODE_SIDEBAND || mode == SDR_MODE_AM || mode == SDR_MODE_SAM ||
         mode == SDR_MODE_SAM_UPPER || mode == SDR_MODE_SAM_LOWER;
}
}  // namespace

void AutoNotch::configure(const ChainFormat& f, State& s) {
  n_ = 1 << f.order;
  m_ = 2 * n_;
  binWidth_ = static_cast<double>(f.sampleRate) / m_;
  mu_ = 1.0 / (kTimeConstant * f.sampleRate);
  releaseBlocks_ = std::max(
      1, static_cast<std::int32_t>(std::ceil(kReleaseSeconds * f.sampleRate / n_)));
  const auto size = static_cast<std::size_t>(m_);
  if (isNewStream(format_, f) || s.phase.size() != size) {
    for (auto* v : {&s.phase, &s.advance, &s.mag}) v->assign(size, 0.0);
    s.steady.assign(size, 0);
    reset(s);
  }
  format_ = f;
}

void AutoNotch::reset(State& s) {
  for (auto* v : {&s.phase, &s.advance, &s.mag}) std::fill(v->begin(), v->end(), 0.0);
  std::fill(s.steady.begin(), s.steady.end(), 0);
  s.notches = {};
}

void AutoNotch::detect(State& s, const ReceiveParams& p, const double* mag,
                       const double* phase) const {
  for (Notch& notch : s.notches) notch.misses += notch.active ? 1 : 0;
  const bool am = p.modes.mode != SDR_MODE_SIDEBAND;
  const double keepHz = am ? std::max(static_cast<double>(p.lowCutHz), 50.0) + binWidth_ : -1.0;
  const double reachHz =
      std::max(std::abs(static_cast<double>(p.lowCutHz)), std::abs(static_cast<double>(p.highCutHz)));
  const std::int32_t reach =
      std::min(m_ / 2 - kAround - 1, static_cast<std::int32_t>(reachHz / binWidth_) + 2);
  const std::int32_t m = m_;  // |k| < m/2 here: one comparison, no division
  const auto at = [m](std::int32_t k) { return static_cast<std::size_t>(k < 0 ? k + m : k); };
  for (std::int32_t signedBin = -reach; signedBin <= reach; ++signedBin) {
    const std::size_t k = at(signedBin);
    const double advance = wrap(phase[k] - s.phase[k]);
    const double change = wrap(advance - s.advance[k]);
    const double here = mag[k];
    const bool steady =
        here > 0.0 && std::abs(change) < kPhaseTolerance &&
        std::abs(here - s.mag[k]) < kMagTolerance * here && here >= mag[at(signedBin - 1)] &&
        here > mag[at(signedBin + 1)] &&
        here > kProminence * 0.5 * (mag[at(signedBin - kAround)] + mag[at(signedBin + kAround)]);
    s.steady[k] = steady ? s.steady[k] + 1 : 0;
    s.phase[k] = phase[k];
    s.advance[k] = advance;
    s.mag[k] = here;
    const double binHz = signedBin * binWidth_;
    if (s.steady[k] < kSteadyBlocks || std::abs(binHz) < keepHz) continue;
    // The advance is 2 pi f N / rate modulo 2 pi: f modulo 2 binWidth, the
    // bin saying which.
    const double cycles = advance / kTwoPi;
    const double hz = 2.0 * binWidth_ * (cycles + nearest(binHz / (2.0 * binWidth_) - cycles));
    const double omega = kTwoPi * hz / (2.0 * binWidth_ * n_);
    Notch* slot = nullptr;
    for (Notch& notch : s.notches) {
      if (notch.active && std::abs(notch.omega - omega) < kTwoPi * 1.5 * binWidth_ / (2.0 * binWidth_ * n_)) {
        slot = &notch;
      }
    }
    if (slot == nullptr) {
      for (Notch& notch : s.notches) {
        if (!notch.active && slot == nullptr) slot = &notch;
      }
      if (slot == nullptr) continue;  // all in use
      *slot = Notch{};
      slot->active = true;
    }
    slot->omega = omega;
    slot->misses = 0;
  }
  for (Notch& notch : s.notches) {
    if (notch.active && notch.misses > releaseBlocks_) notch = Notch{};
  }
}

void AutoNotch::process(State& s, const ReceiveParams& p, const double* mag,
                        const double* phase, double* re, double* im, std::int32_t n) const {
  if (!(p.modes.tools & SDR_TOOL_NOTCH) || !servesMode(p.modes.mode)) return;
  if (s.phase.size() != static_cast<std::size_t>(m_)) return;
  detect(s, p, mag, phase);
  for (Notch& notch : s.notches) {
    if (notch.active) cancel(notch, re, im, n);
  }
}

// The canceller a run of kChunk samples at a time with the weight held
// (block LMS: the same time constant, as mu kChunk is small), so that the
// samples of a run do not wait on each other (nsp::cancelTone).
void AutoNotch::cancel(Notch& notch, double* re, double* im, std::int32_t n) const {
  // exp(j omega k), k <= kChunk, at the kernel set's width.
  double turnRe[kChunk + 1], turnIm[kChunk + 1];
  for (std::int32_t k = 0; k <= kChunk; ++k) {
    turnRe[k] = 1.0;
    turnIm[k] = notch.omega * k;
  }
  nsp::nspdbrPolarToCart(turnRe, turnIm, turnRe, turnIm, kChunk + 1);
  double state[4] = {notch.refRe, notch.refIm, notch.wRe, notch.wIm};
  nsp::cancelTone(re, im, n, turnRe, turnIm, kChunk, mu_, state);
  double rRe = state[0], rIm = state[1];
  const double wRe = state[2], wIm = state[3];
  // A short last run leaves the oscillator ahead; n is a whole number of
  // runs in the chain (N >= 256), and the phase is taken back otherwise.
  if (const std::int32_t over = (kChunk - n % kChunk) % kChunk; over != 0) {
    const double backRe = std::cos(notch.omega * over), backIm = -std::sin(notch.omega * over);
    const double nextRe = rRe * backRe - rIm * backIm;
    rIm = rRe * backIm + rIm * backRe;
    rRe = nextRe;
  }
  const double size = std::hypot(rRe, rIm);  // keep the oscillator on the unit circle
  notch.refRe = rRe / size;
  notch.refIm = rIm / size;
  notch.wRe = wRe;
  notch.wIm = wIm;
}

}  // namespace bw
