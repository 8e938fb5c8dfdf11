#include "dsp/sam_detector.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace bw {

namespace {
constexpr double kPi = std::numbers::pi;
constexpr double kMinUpdateRateHz = 2000.0;  // loop updates a second, at least
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
// Below this turn (radians) a series stands in for the step's turn: its
// error (turn^4 / 24) stays below 5e-14.
constexpr double kSmallTurn = 1e-3;

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

double flushed(double v) { return std::fabs(v) < kFlushLevel ? 0.0 : v; }

double smoothing(double seconds, double updateSeconds) {
  return -std::expm1(-updateSeconds / seconds);
}
}  // namespace

void SamDetector::configure(const ChainFormat& f, State& s) {
  const double rate = f.sampleRate;
  run_ = 4;
  while (run_ < kMaxRun && rate / (2.0 * run_) >= kMinUpdateRateHz) run_ *= 2;
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

// Turns the NCO's step exp(-j frequency) by -delta radians: a locked loop's
// corrections are tiny, so a series stands in for the sine and cosine, and
// one Newton step keeps the step's magnitude at 1.
void SamDetector::turnStep(State& s, double delta) {
  double c, d;
  if (std::fabs(delta) < kSmallTurn) {
    c = 1.0 - 0.5 * delta * delta;
    d = delta * (1.0 - delta * delta / 6.0);
  } else {
    c = std::cos(delta);
    d = std::sin(delta);
  }
  const double r = s.step[0] * c + s.step[1] * d;
  const double i = s.step[1] * c - s.step[0] * d;
  const double scale = 0.5 * (3.0 - (r * r + i * i));
  s.step[0] = r * scale;
  s.step[1] = i * scale;
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

void SamDetector::designHighpass(double cornerHz) {
  // Second-order Butterworth high-pass (Q = 1 / sqrt 2) by the bilinear
  // transform.
  const double w = 2.0 * kPi * cornerHz / format_.sampleRate;
  const double alpha = std::sin(w) / std::numbers::sqrt2;
  const double c = std::cos(w);
  const double a0 = 1.0 + alpha;
  hb_[0] = (1.0 + c) / 2.0 / a0;
  hb_[1] = -(1.0 + c) / a0;
  hb_[2] = hb_[0];
  ha_[0] = -2.0 * c / a0;
  ha_[1] = (1.0 - alpha) / a0;
  cornerHz_ = cornerHz;
}

void SamDetector::process(State& s, const ReceiveParams& p, double* re,
                          double* im, std::int32_t n) {
  if (n <= 0 || format_.sampleRate <= 0) return;

  // De-rotate by the NCO, a run at a time, and steer the NCO by the run.
  for (std::int32_t start = 0; start < n; start += run_) {
    const std::int32_t length = std::min(run_, n - start);
    double pr = std::cos(s.phase), pi = -std::sin(s.phase);
    const double rr = s.step[0], ri = s.step[1];
    double sumRe = 0.0, sumIm = 0.0, power = 0.0, dot = 0.0, cross = 0.0;
    double lastRe = 0.0, lastIm = 0.0;
    for (std::int32_t k = start; k < start + length; ++k) {
      const double zr = re[k] * pr - im[k] * pi;
      const double zi = re[k] * pi + im[k] * pr;
      re[k] = zr;
      im[k] = zi;
      sumRe += zr;
      sumIm += zi;
      power += zr * zr + zi * zi;
      dot += zr * lastRe + zi * lastIm;  // the first pair's last is 0
      cross += zi * lastRe - zr * lastIm;
      lastRe = zr;
      lastIm = zi;
      const double t = pr * rr - pi * ri;
      pi = pr * ri + pi * rr;
      pr = t;
    }
    const double previousRe = s.carrierRe, previousIm = s.carrierIm;
    s.carrierRe += carrierSmoothing_ * (sumRe / length - s.carrierRe);
    s.carrierIm += carrierSmoothing_ * (sumIm / length - s.carrierIm);
    s.power += levelSmoothing_ * (power / length - s.power);
    const double carrier = std::sqrt(s.carrierRe * s.carrierRe + s.carrierIm * s.carrierIm);
    s.carrierLevel += levelSmoothing_ * (carrier - s.carrierLevel);
    const double level = std::max(s.carrierLevel, kLevelFloor * std::sqrt(s.power));
    const double error = level > 0.0 ? std::clamp(s.carrierIm / level, -1.0, 1.0) : 0.0;

    const double quality = carrier > 0.0 ? s.carrierRe / carrier : 0.0;
    s.lockQuality += lockSmoothing_ * (quality - s.lockQuality);
    // The aids' arctangents are spent only in the stages that use them.
    double aid = 0.0;
    if (s.stage == State::kHunting) {
      const double wide = dot != 0.0 || cross != 0.0 ? std::atan2(cross, dot) : 0.0;
      s.wideOffset += lockSmoothing_ * (wide - s.wideOffset);
      aid = wide;
    } else if (s.stage == State::kNarrowing) {
      // The turn of the carrier phasor since the last update.
      aid = std::atan2(s.carrierIm * previousRe - s.carrierRe * previousIm,
                       s.carrierRe * previousRe + s.carrierIm * previousIm) / length;
    }
    const std::uint8_t stage = s.stage;
    advanceStage(s, length);
    if (s.stage == State::kHunting && stage != State::kHunting) s.wideOffset = State{}.wideOffset;

    s.phase += length * s.frequency + proportional_ * error;
    s.phase = std::remainder(s.phase, 2.0 * kPi);
    const double frequency = std::clamp(s.frequency + integral_ * error + frequencyAid_ * aid,
                                        -maxFrequency_, maxFrequency_);
    turnStep(s, frequency - s.frequency);
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
  if (corner != cornerHz_) designHighpass(corner);
  double x1 = s.highpass[0], x2 = s.highpass[1], y1 = s.highpass[2], y2 = s.highpass[3];
  for (std::int32_t k = 0; k < n; ++k) {
    const double x = re[k];
    const double y = hb_[0] * x + hb_[1] * x1 + hb_[2] * x2 - ha_[0] * y1 - ha_[1] * y2;
    x2 = x1;
    x1 = x;
    y2 = y1;
    y1 = y;
    re[k] = y;
    im[k] = 0.0;
  }
  s.highpass[0] = flushed(x1);
  s.highpass[1] = flushed(x2);
  s.highpass[2] = flushed(y1);
  s.highpass[3] = flushed(y2);
  for (auto& path : s.allpass) {
    for (auto& section : path) {
      for (double& v : section) v = flushed(v);
    }
  }
  s.pathDelay = flushed(s.pathDelay);
  // Samples come from PCM and are finite; should anything else get in, the
  // loop starts afresh rather than carry it on.
  if (!std::isfinite(s.phase + s.frequency + s.carrierLevel + s.power + s.highpass[2] +
                     s.pathDelay)) {
    reset(s);
  }
  s.carrierRe = flushed(s.carrierRe);
  s.carrierIm = flushed(s.carrierIm);
}

}  // namespace bw
