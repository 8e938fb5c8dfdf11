#include "audio/rate_matcher.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "primitives/pcm_codec.h"

namespace bw::audio {

namespace {

constexpr std::uint64_t kBefore = InterpolationKernel::kBefore;
constexpr std::uint64_t kAfter = InterpolationKernel::kAfter;

}  // namespace

RateMatcher::RateMatcher(const WaveFormat& format)
    : format_(format),
      kernel_(InterpolationKernel::instance()),
      control_(false),
      bytes_(std::make_unique<std::uint8_t[]>(kWindowFrames * format.nBlockAlign)),
      samples_(std::make_unique<float[]>(2 * kWindowFrames)) {
  reset();
}

void RateMatcher::arm(bool clocksMayDiffer) {
  armed_ = clocksMayDiffer;
  control_ = RateControl(armed_);
}

void RateMatcher::reset() {
  control_ = RateControl(armed_);
  std::memset(bytes_.get(), pcm::silenceByte(format_.wBitsPerSample),
              kBefore * format_.nBlockAlign);
  std::fill_n(samples_.get(), 2 * kBefore, 0.0f);
  base_ = 0;
  count_ = kBefore;
  frame_ = kBefore;
  fraction_ = 0.0;
  padding_ = 0;
  skipped_ = 0;
  holding_.store(false);
  written_ = 0;
  measured_ = false;
  area_ = 0.0;
  rendered_ = false;
  gapsSeen_ = gaps_.load();
  stamped_.store(false);
  ratio_.store(1.0);
  queued_.store(0.0);
}

double RateMatcher::position() const noexcept {
  return double(frame_ - kBefore) + fraction_ - double(padding_) + double(skipped_);
}

void RateMatcher::skip(std::size_t frames, bool keepLevel) noexcept {
  skipped_ += frames;
  if (!keepLevel) gaps_.fetch_add(1, std::memory_order_relaxed);
}

void RateMatcher::publishPosition(double now) noexcept {
  const std::uint32_t s = stampSequence_.load(std::memory_order_relaxed);
  stampSequence_.store(s + 1, std::memory_order_relaxed);
  // Release stores rather than a fence: a reader that sees any new value
  // then sees the odd count too (ThreadSanitizer does not model fences).
  stampTime_.store(now, std::memory_order_release);
  stampPosition_.store(position(), std::memory_order_release);
  stampArea_.store(area_, std::memory_order_release);
  stampSequence_.store(s + 2, std::memory_order_release);
  stamped_.store(true, std::memory_order_release);
}

bool RateMatcher::readArea(double now, double& area) const noexcept {
  if (!stamped_.load(std::memory_order_acquire)) return false;
  // The consumer changes the stamp once a render: a few tries always do.
  for (int attempt = 0; attempt < 16; ++attempt) {
    const std::uint32_t s = stampSequence_.load(std::memory_order_acquire);
    // Acquire loads keep the second look at the count after them.
    const double time = stampTime_.load(std::memory_order_acquire);
    const double position = stampPosition_.load(std::memory_order_acquire);
    const double stamped = stampArea_.load(std::memory_order_acquire);
    if ((s & 1u) == 0 && stampSequence_.load(std::memory_order_relaxed) == s) {
      // The position holds from the last render to the next.
      area = stamped + position * (now - time);
      return true;
    }
  }
  return false;
}

void RateMatcher::noteWrite(std::size_t frames, double now) noexcept {
  const std::uint32_t gaps = gaps_.load(std::memory_order_relaxed);
  if (gaps != gapsSeen_) {
    gapsSeen_ = gaps;
    control_.relatch();
    holding_.store(false, std::memory_order_relaxed);
  }
  double area = 0.0;
  if (readArea(now, area)) {
    const double elapsed = now - lastTime_;
    if (measured_ && elapsed > 0.0) {
      // The mean queue since the last write: what was written then, less
      // the mean read position since.
      const double queued =
          (double(written_) - (area - lastArea_) / elapsed) / format_.nSamplesPerSec;
      ratio_.store(control_.update(queued, elapsed), std::memory_order_relaxed);
      holding_.store(control_.latched(), std::memory_order_relaxed);
      queued_.store(control_.smoothedQueue(), std::memory_order_relaxed);
    }
    if (elapsed > 0.0 || !measured_) {
      measured_ = true;
      lastTime_ = now;
      lastArea_ = area;
    }
  } else {
    measured_ = false;  // the written count moves on without a baseline
  }
  written_ += frames;
}

std::size_t RateMatcher::playableFrames(std::size_t sourceFrames) const noexcept {
  const std::size_t frames = heldFrames() + sourceFrames;
  // On one clock the ratio stays 1: the frames as written.
  if (!armed_) return frames;
  // Interpolation reads kAfter frames past the one it plays (at ratio 1
  // too: the loop may leave it before the render), and the writer may move
  // the ratio by a hair before the render reads it: a frame's margin.
  const double ahead = double(frames) - double(kAfter) - fraction_ - 1.0;
  return ahead > 0.0 ? static_cast<std::size_t>(ahead / ratio_.load(std::memory_order_relaxed))
                     : 0;
}

bool RateMatcher::reach(std::uint64_t last, FrameSource& source,
                        bool& starved) noexcept {
  const std::size_t align = format_.nBlockAlign;
  const int bits = format_.wBitsPerSample;
  const int width = bits / 8;
  while (base_ + count_ <= last) {
    // Frames before the interpolation's reach are done with.
    const std::uint64_t drop = std::min(frame_ - kBefore - base_, count_);
    if (drop > 0) {
      count_ -= drop;
      std::memmove(bytes_.get(), bytes_.get() + drop * align, count_ * align);
      std::memmove(samples_.get(), samples_.get() + 2 * drop, 2 * count_ * sizeof(float));
      base_ += drop;
    }
    std::uint8_t* to = bytes_.get() + count_ * align;
    const FrameSource::Taken t = source.take(to, kWindowFrames - count_);
    if (t.frames == 0) {
      starved = starved || t.starved;
      return false;
    }
    float* samples = samples_.get() + 2 * count_;
    for (std::size_t k = 0; k < 2 * t.frames; ++k) {
      samples[k] = static_cast<float>(pcm::read(to + k * width, bits));
    }
    count_ += t.frames;
    padding_ += t.padding;
  }
  return true;
}

bool RateMatcher::render(std::uint8_t* out, std::size_t frames, double now,
                         FrameSource& source) noexcept {
  const double ratio = ratio_.load(std::memory_order_relaxed);
  // The position held since the last render, into the integral.
  if (rendered_) area_ += position() * (now - renderTime_);
  rendered_ = true;
  renderTime_ = now;
  const std::size_t align = format_.nBlockAlign;
  const int bits = format_.wBitsPerSample;
  const int width = bits / 8;
  const double top = std::ldexp(1.0, bits - 1);
  bool starved = false;
  std::size_t done = 0;
  while (done < frames) {
    if (ratio == 1.0 && fraction_ == 0.0) {
      // On one clock: the written bytes themselves.
      if (!reach(frame_, source, starved)) break;
      const auto n = static_cast<std::size_t>(
          std::min<std::uint64_t>(frames - done, base_ + count_ - frame_));
      std::memcpy(out + done * align, bytes_.get() + (frame_ - base_) * align, n * align);
      frame_ += n;
      done += n;
      continue;
    }
    if (!reach(frame_ + kAfter, source, starved)) break;
    // Every frame whose reach is in the window.
    for (; done < frames && frame_ + kAfter < base_ + count_; ++done) {
      float lr[2];
      kernel_.interpolate(samples_.get() + 2 * (frame_ - kBefore - base_), fraction_, lr);
      std::uint8_t* to = out + done * align;
      for (int c = 0; c < 2; ++c) {
        const double v = std::clamp(std::nearbyint(double(lr[c])), -top, top - 1.0);
        pcm::write(to + c * width, bits, static_cast<std::int32_t>(v));
      }
      fraction_ += ratio;
      const double whole = std::floor(fraction_);
      frame_ += static_cast<std::uint64_t>(whole);
      fraction_ -= whole;
    }
  }
  if (done < frames) {
    std::memset(out + done * align, pcm::silenceByte(bits), (frames - done) * align);
  }
  publishPosition(now);
  if (starved) gaps_.fetch_add(1, std::memory_order_relaxed);
  return starved;
}

}  // namespace bw::audio
