#include "dsp/sam_detector.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "primitives/chain_helpers.h"

namespace bw {

namespace {
constexpr double kPi = std::numbers::pi;
constexpr double kMinUpdateRateHz = 1000.0;  // loop updates a second, at least
constexpr std::int32_t kMaxRun = 32;
constexpr double kDamping = 0.707;
constexpr double kCarrierHz = 50.0;       // the carrier phasor's low-pass corner
constexpr double kLevelSeconds = 0.05;    // the carrier level's time constant
constexpr double kLockSeconds = 0.03;     // the lock quality's time constant
constexpr double kAidSeconds = 0.025;     // the frequency aid's time constant
constexpr double kLockOn = 0.9, kLockOff = 0.5;  // lock quality's hysteresis
// Hunting ends when the wide aid's smoothed offset stays below kSettledHz
// (and not before kSettleSeconds, the smoothing's own start); narrowing that
// finds no lock in kNarrowingSeconds hunts again.
constexpr double kSettledHz = 25.0;
constexpr double kSettleSeconds = 0.03;
constexpr double kNarrowingSeconds = 0.3;
// The carrier level never counts below this share of the signal's RMS, so
// that a loop hunting for an absent carrier keeps a bounded gain.
constexpr double kLevelFloor = 0.01;
constexpr double kFlushLevel = 1e-20;
// Below this turn (radians) a series to the 7th power stands in for the
// sine and cosine: its error (turn^8 / 40320) stays below 3e-13.
constexpr double kSmallTurn = 0.1;

// The Hilbert pair: two chains of allpass sections in z^-2 whose outputs,
// the first delayed by one sample, differ in phase by 90 degrees within
// 0.7 degrees from 0.0005 to 0.4995 of the sample rate (a published
// polyphase IIR design). Each coefficient is the square of a pole radius.
constexpr double kPairCoefficients[2][kSamAllpassSections] = {
    {0.6923878 * 0.6923878, 0.9360654322959 * 0.9360654322959,
     0.9882295226860 * 0.9882295226860, 0.9987488452737 * 0.9987488452737},
    {0.4021921162426 * 0.4021921162426, 0.8561710882420 * 0.8561710882420,
     0.9722909545651 * 0.9722909545651, 0.9952884791278 * 0.9952884791278}};

// Runs the Hilbert pair's first path over a[0..n-1] and its second over
// b[0..n-1], in place, side by side in the two lanes of a vector. The
// history is kept in locals for the loop (a section's input is the previous
// section's output, so only a path's input and each output need one).
using Lanes = double __attribute__((vector_size(16)));
void allpassPair(double (&h)[2][kSamAllpassSections + 1][2], double* a, double* b,
                 std::int32_t n) {
  Lanes c[kSamAllpassSections], h1[kSamAllpassSections + 1], h2[kSamAllpassSections + 1];
  for (int j = 0; j < kSamAllpassSections; ++j) {
    c[j] = Lanes{kPairCoefficients[0][j], kPairCoefficients[1][j]};
  }
  for (int j = 0; j <= kSamAllpassSections; ++j) {
    h1[j] = Lanes{h[0][j][0], h[1][j][0]};
    h2[j] = Lanes{h[0][j][1], h[1][j][1]};
  }
  for (std::int32_t k = 0; k < n; ++k) {
    Lanes in{a[k], b[k]};
    for (int j = 0; j < kSamAllpassSections; ++j) {
      const Lanes y = c[j] * (in + h2[j + 1]) - h2[j];
      h2[j] = h1[j];
      h1[j] = in;
      in = y;
    }
    h2[kSamAllpassSections] = h1[kSamAllpassSections];
    h1[kSamAllpassSections] = in;
    a[k] = in[0];
    b[k] = in[1];
  }
  for (int j = 0; j <= kSamAllpassSections; ++j) {
    for (int path = 0; path < 2; ++path) {
      h[path][j][0] = h1[j][path];
      h[path][j][1] = h2[j][path];
    }
  }
}

// atan2 to 2e-5 rad without the library call, and 0 at the origin: the
// loop's frequency aids need no more, once a run.
double fastAtan2(double y, double x) {
  const double ax = std::fabs(x), ay = std::fabs(y);
  const double big = std::max(ax, ay), small = std::min(ax, ay);
  const double a = small / (big > 0.0 ? big : 1.0);
  const double s = a * a;
  double r = a * (0.9998660 + s * (-0.3302995 + s * (0.1801410 +
                  s * (-0.0851330 + s * 0.0208351))));
  if (ay > ax) r = kPi / 2 - r;
  if (x < 0.0) r = kPi - r;
  return std::copysign(r, y);
}

double flushed(double v) { return std::fabs(v) < kFlushLevel ? 0.0 : v; }

double smoothing(double seconds, double updateSeconds) {
  return -std::expm1(-updateSeconds / seconds);
}
}  // namespace

void SamDetector::configure(const ChainFormat& f, State& s) {
  const double rate = f.sampleRate;
  run_ = 4;
  while (run_ < kMaxRun && rate / (2.0 * run_) >= kMinUpdateRateHz) run_ *= 2;
  perSample_ = 1.0 / run_;
  const double update = run_ / rate;  // seconds an update
  const double wnT = 2.0 * kPi * kSamLoopHz * update;
  proportional_ = 2.0 * kDamping * wnT;
  integral_ = wnT * wnT / run_;
  frequencyAid_ = smoothing(kAidSeconds, update);
  carrierSmoothing_ = -std::expm1(-2.0 * kPi * kCarrierHz * update);
  levelSmoothing_ = smoothing(kLevelSeconds, update);
  lockSmoothing_ = smoothing(kLockSeconds, update);
  maxFrequency_ = 2.0 * kPi * kSamPullInHz / rate;
  settledOffset_ = 2.0 * kPi * kSettledHz / rate;
  settleSamples_ = static_cast<std::int64_t>(kSettleSeconds * rate);
  narrowingSamples_ = static_cast<std::int64_t>(kNarrowingSeconds * rate);
  cornerHz_ = -1.0;
  if (isNewStream(format_, f)) reset(s);
  format_ = f;
}

// Turns z by exp(-j delta). A locked loop's corrections are small, so a
// series stands in for the sine and cosine, and one Newton step keeps |z| at 1.
void SamDetector::rotate(double (&z)[2], double delta) {
  double c, d;
  if (std::fabs(delta) < kSmallTurn) {
    const double s = delta * delta;
    c = 1.0 - s * (1.0 / 2 - s * (1.0 / 24 - s * (1.0 / 720)));
    d = delta * (1.0 - s * (1.0 / 6 - s * (1.0 / 120 - s * (1.0 / 5040))));
  } else {
    c = std::cos(delta);
    d = std::sin(delta);
  }
  const double r = z[0] * c + z[1] * d;
  const double i = z[1] * c - z[0] * d;
  const double scale = 0.5 * (3.0 - (r * r + i * i));
  z[0] = r * scale;
  z[1] = i * scale;
}

void SamDetector::advanceStage(State& s, std::int32_t length) const {
  s.stageSamples += length;
  std::uint8_t next = s.stage;
  switch (s.stage) {
    case State::kHunting:
      if (std::fabs(s.wideOffset) < settledOffset_ && s.stageSamples >= settleSamples_) {
        next = State::kNarrowing;
      }
      break;
    case State::kNarrowing:
      if (s.lockQuality > kLockOn) next = State::kLocked;
      else if (s.stageSamples >= narrowingSamples_) next = State::kHunting;
      break;
    default:
      if (s.lockQuality < kLockOff) next = State::kNarrowing;
      break;
  }
  if (next != s.stage) {
    s.stage = next;
    s.stageSamples = 0;
  }
}

void SamDetector::process(State& s, const ReceiveParams& p, double* re,
                          double* im, std::int32_t n) {
  if (n <= 0 || format_.sampleRate <= 0) return;

  // De-rotate by the NCO, a run at a time, and steer the NCO by the run.
  for (std::int32_t start = 0; start < n; start += run_) {
    const std::int32_t length = std::min(run_, n - start);
    const nsp::SpinSums sums = nsp::spinAndSum(re + start, im + start, length, s.turn[0],
                                               s.turn[1], s.step[0], s.step[1]);
    const double sumRe = sums.sumRe, sumIm = sums.sumIm, power = sums.power;
    const double dot = sums.lagRe, cross = sums.lagIm;
    const double previousRe = s.carrierRe, previousIm = s.carrierIm;
    const double perSample = length == run_ ? perSample_ : 1.0 / length;
    s.carrierRe += carrierSmoothing_ * (sumRe * perSample - s.carrierRe);
    s.carrierIm += carrierSmoothing_ * (sumIm * perSample - s.carrierIm);
    s.power += levelSmoothing_ * (power * perSample - s.power);
    const double carrier = std::sqrt(s.carrierRe * s.carrierRe + s.carrierIm * s.carrierIm);
    s.carrierLevel += levelSmoothing_ * (carrier - s.carrierLevel);
    const double level = std::max(s.carrierLevel, kLevelFloor * std::sqrt(s.power));
    const double error = level > 0.0 ? std::clamp(s.carrierIm / level, -1.0, 1.0) : 0.0;

    const double quality = carrier > 0.0 ? s.carrierRe / carrier : 0.0;
    s.lockQuality += lockSmoothing_ * (quality - s.lockQuality);
    // The aids' arctangents are spent only in the stages that use them.
    double aid = 0.0;
    if (s.stage == State::kHunting) {
      const double wide = fastAtan2(cross, dot);
      s.wideOffset += lockSmoothing_ * (wide - s.wideOffset);
      aid = wide;
    } else if (s.stage == State::kNarrowing) {
      // The turn of the carrier phasor since the last update.
      aid = fastAtan2(s.carrierIm * previousRe - s.carrierRe * previousIm,
                      s.carrierRe * previousRe + s.carrierIm * previousIm) * perSample;
    }
    const std::uint8_t stage = s.stage;
    advanceStage(s, length);
    if (s.stage == State::kHunting && stage != State::kHunting) s.wideOffset = State{}.wideOffset;

    // The run took the NCO on by length * frequency; the loop adds its
    // correction of the phase.
    s.turn[0] = sums.nextRe;
    s.turn[1] = sums.nextIm;
    rotate(s.turn, proportional_ * error);
    const double frequency = std::clamp(s.frequency + integral_ * error + frequencyAid_ * aid,
                                        -maxFrequency_, maxFrequency_);
    rotate(s.step, frequency - s.frequency);
    s.frequency = frequency;
  }

  // One sideband: I -/+ H(Q), the Hilbert transform of Q being the second
  // path's output against the first's delayed one.
  const std::uint8_t mode = p.modes.mode;
  if (mode == SDR_MODE_SAM_UPPER || mode == SDR_MODE_SAM_LOWER) {
    const double sign = mode == SDR_MODE_SAM_UPPER ? 1.0 : -1.0;
    allpassPair(s.allpass, re, im, n);
    const double last = re[n - 1];
    for (std::int32_t k = n - 1; k > 0; --k) re[k] = re[k - 1] + sign * im[k];
    re[0] = s.pathDelay + sign * im[0];
    s.pathDelay = last;
  }

  // The carrier's level and the audio below the low cut go.
  const double corner = std::clamp(static_cast<double>(p.lowCutHz), kSamMinCornerHz,
                                   0.25 * format_.sampleRate);
  if (corner != cornerHz_) {
    // Second-order Butterworth.
    highpass_ = Biquad::design(Biquad::Kind::HighPass, corner, format_.sampleRate);
    cornerHz_ = corner;
  }
  s.highpass.run(highpass_, re, n);
  std::fill_n(im, n, 0.0);
  s.highpass.flushTiny();
  for (auto& path : s.allpass) {
    for (auto& section : path) {
      for (double& v : section) v = flushed(v);
    }
  }
  s.pathDelay = flushed(s.pathDelay);
  // Samples come from PCM and are finite; should anything else get in, the
  // loop starts afresh rather than carry it on.
  if (!std::isfinite(s.turn[0] + s.turn[1] + s.frequency + s.carrierLevel + s.power +
                     s.highpass.y1 + s.pathDelay)) {
    reset(s);
  }
  s.carrierRe = flushed(s.carrierRe);
  s.carrierIm = flushed(s.carrierIm);
}

}  // namespace bw
