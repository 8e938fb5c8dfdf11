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
    if (latchTime_ >= kLatch) {
      latched_ = true;
      level_ = latchSum_ / latchTime_;
      first_ = smoothed_ = level_;
      return ratio();
    }
    // A loop that ran before the gap runs on, towards the level it held,
    // until the new one is taken: clocks apart would else drain the queue
    // into the next gap meanwhile, and each gap would start the wait anew.
    if (!running_) return ratio();
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
  // Not integrated while the output is at its limit: a step of the queue
  // (a stalled server) would wind the integral up, and the queue would
  // overshoot its level into an underrun once the step is gone.
  const double integral = integral_ + g.integral * error * elapsed;
  const double wanted = g.proportional * error + integral;
  if (std::abs(wanted) <= kMaxCorrection && std::abs(error) <= kIntegrateBand) {
    integral_ = integral;
  }
  correction_ = std::clamp(wanted, -kMaxCorrection, kMaxCorrection);
  return ratio();
}

void RateControl::relatch() {
  // The level is taken again, so the error it was pulling out is gone:
  // what stays is the integral, the clocks' difference.
  correction_ = integral_;
  // A gap while the level is still being taken leaves that wait as it is:
  // on clocks far apart, a wait begun anew at each gap would never end.
  if (!latched_) return;
  first_ = smoothed_ = level_;
  latched_ = false;
  latchSum_ = 0.0;
  latchTime_ = 0.0;
  age_ = std::max(age_, kSettle);
}

}  // namespace bw::audio
