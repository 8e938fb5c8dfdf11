#include "audio/rate_control.h"

#include <algorithm>
#include <cmath>

namespace bw::audio {

double RateControl::update(double queued, double elapsed) {
  if (!started_) {
    started_ = true;
    smoothed_ = queued;
  }
  age_ += elapsed;
  smoothed_ += std::min(1.0, elapsed / kSmoothing) * (queued - smoothed_);
  if (age_ < kSettle) return ratio();
  if (!latched_) {
    latchSum_ += queued * elapsed;
    latchTime_ += elapsed;
    if (latchTime_ < kLatch) return ratio();
    latched_ = true;
    level_ = latchSum_ / latchTime_;
    smoothed_ = level_;
    return ratio();
  }
  const double error = smoothed_ - level_;
  if (!running_) {
    if (!armed_ || std::abs(error) <= kDeadBand) return ratio();
    running_ = true;
  }
  integral_ = std::clamp(integral_ + kIntegral * error * elapsed, -kMaxCorrection,
                         kMaxCorrection);
  correction_ = std::clamp(kProportional * error + integral_, -kMaxCorrection,
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
