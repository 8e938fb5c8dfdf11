#include "audio/rate_control.h"

#include <algorithm>
#include <cmath>

namespace bw::audio {

double RateControl::update(double queued, double elapsed) {
  if (!started_) {
    started_ = true;
    first_ = smoothed_ = queued;
  }
  age_ += elapsed;
  const Gains& g = running_ && runTime_ >= kAcquire ? kTracking : kAcquiring;
  const double a = std::min(1.0, elapsed / g.smoothing);
  first_ += a * (queued - first_);
  smoothed_ += a * (first_ - smoothed_);
  if (age_ < kSettle) return ratio();
  if (!latched_) {
    latchSum_ += queued * elapsed;
    latchTime_ += elapsed;
    if (latchTime_ < kLatch) return ratio();
    latched_ = true;
    level_ = latchSum_ / latchTime_;
    first_ = smoothed_ = level_;
    return ratio();
  }
  const double error = smoothed_ - level_;
  if (!running_) {
    if (!armed_ || std::abs(error) <= kDeadBand) return ratio();
    running_ = true;
  }
  const bool shifts = runTime_ < kAcquire && runTime_ + elapsed >= kAcquire;
  runTime_ += elapsed;
  if (shifts) {
    // The proportional part it loses goes into the integral: the ratio
    // does not jump.
    integral_ += (kAcquiring.proportional - kTracking.proportional) * error;
  }
  integral_ = std::clamp(integral_ + g.integral * error * elapsed, -kMaxCorrection,
                         kMaxCorrection);
  correction_ = std::clamp(g.proportional * error + integral_, -kMaxCorrection,
                           kMaxCorrection);
  return ratio();
}

void RateControl::relatch() {
  latched_ = false;
  latchSum_ = 0.0;
  latchTime_ = 0.0;
  age_ = std::max(age_, kSettle);
}

}  // namespace bw::audio
