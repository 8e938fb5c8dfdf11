// Plays a queue of PCM frames written on one clock to a consumer on another:
// the consumer's real-time thread pulls its frames through render(), which
// reads the queue at the ratio RateControl sets, interpolating between
// frames (InterpolationKernel); the writer tells noteWrite() of every buffer
// it queues, which measures the queue and runs the control. At ratio exactly
// 1 on a whole frame the queued bytes are copied unchanged.
//
// The queue's length is measured as its mean between two writes: the frames
// written (constant between writes) less the mean of the consumer's read
// position over that time. The consumer keeps the time integral of its
// position (a staircase: it moves only at a render) and stamps it with the
// time at each render; the writer extends it to the time of the write. An
// integral, not a sample: a sound server that pulls its frames in bursts,
// split over calls at one instant, at a phase that slides slowly against
// the writes, would otherwise show as a queue that swings by a burst, and
// the beat of the two would pass for a drift of the clocks.
//
// Times are seconds on one steady clock, given by the caller. Allocates only
// in the constructor; render() and noteWrite() never allocate, lock or wait.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "audio/interpolation_kernel.h"
#include "audio/rate_control.h"
#include "audio/wave_header.h"

namespace bw::audio {

// Where render() takes its frames from.
class FrameSource {
 public:
  // What one take() gave.
  struct Taken {
    std::size_t frames = 0;   // frames copied
    std::size_t padding = 0;  // of them, silence that was never written
    bool starved = false;     // ran out of written frames
  };
  // Copies up to `frames` frames into `out`. Real-time safe.
  virtual Taken take(std::uint8_t* out, std::size_t frames) noexcept = 0;

 protected:
  ~FrameSource() = default;
};

class RateMatcher {
 public:
  // `format`: the stream's (stereo PCM). Throws std::bad_alloc.
  explicit RateMatcher(const WaveFormat& format);

  // Whether the ratio may leave 1 (the clocks may differ; not at first).
  // Before the stream's first write, with neither side running.
  void arm(bool clocksMayDiffer);
  // Forgets the stream: with neither side running.
  void reset();

  // Writer side: `frames` frames are being queued at time `now`.
  void noteWrite(std::size_t frames, double now) noexcept;
  // Consumer side: fills `frames` frames of `out`, the first of which plays
  // at about `now`, with silence for what `source` could not give. Returns
  // true when the source ran out of written frames (an underrun).
  bool render(std::uint8_t* out, std::size_t frames, double now,
              FrameSource& source) noexcept;

  // Consumer side: `frames` queued frames were dropped unplayed (they count
  // as read), and the level is to be taken again unless `keepLevel` (they
  // were a step above it).
  void skip(std::size_t frames, bool keepLevel = false) noexcept;
  // Any thread: whether the control holds a level it has taken (not while
  // it takes one: at a start, after an underrun or a skip).
  bool holdsLevel() const { return holding_.load(std::memory_order_relaxed); }
  // Any thread: the ratio in use, and the smoothed queue length (s; 0
  // before the first measurement).
  double ratio() const { return ratio_.load(std::memory_order_relaxed); }
  double queuedSeconds() const { return queued_.load(std::memory_order_relaxed); }
  // Consumer side: frames render() can give without running dry, from what
  // it holds and `sourceFrames` more that the source has ready.
  std::size_t playableFrames(std::size_t sourceFrames) const noexcept;
  // Consumer side: frames taken from the source and not yet played.
  std::size_t heldFrames() const noexcept {
    return base_ + count_ > frame_ ? static_cast<std::size_t>(base_ + count_ - frame_) : 0;
  }

 private:
  static constexpr std::size_t kWindowFrames = 1024;

  // Makes frame `last` (absolute index) readable, pulling from `source`;
  // false when the source has no more.
  bool reach(std::uint64_t last, FrameSource& source, bool& starved) noexcept;
  // Consumer side: the read position now (frames of written audio).
  double position() const noexcept;
  void publishPosition(double now) noexcept;
  // Writer side: the integral of the read position (frame seconds) at `now`.
  bool readArea(double now, double& area) const noexcept;

  WaveFormat format_;
  const InterpolationKernel& kernel_;
  RateControl control_;

  // Consumer side: frames base_ .. base_ + count_ - 1 of what the source
  // gave, as bytes and as samples; the read position frame_ + fraction_.
  // The source's first frame is frame kBefore, after silence that stands
  // for what came before it.
  std::unique_ptr<std::uint8_t[]> bytes_;
  std::unique_ptr<float[]> samples_;
  std::uint64_t base_ = 0, count_ = 0, frame_ = 0;
  double fraction_ = 0.0;
  std::uint64_t padding_ = 0;  // silence frames the source put in
  std::uint64_t skipped_ = 0;  // frames dropped unread

  // Consumer side: the integral of the read position since the first
  // render, up to the last one, and that render's time.
  double area_ = 0.0, renderTime_ = 0.0;
  bool rendered_ = false;

  // The consumer's stamp: at a time, the read position (frames of written
  // audio) and its integral, under a sequence count (odd while being
  // changed).
  std::atomic<std::uint32_t> stampSequence_{0};
  std::atomic<double> stampTime_{0.0}, stampPosition_{0.0}, stampArea_{0.0};
  std::atomic<bool> stamped_{false};

  // Renders that ran dry and skips (consumer), and as the writer saw them
  // last: each makes the control take its level again.
  std::atomic<std::uint32_t> gaps_{0};
  std::uint32_t gapsSeen_ = 0;
  std::atomic<bool> holding_{false};

  // Writer side: frames written; the time and read integral at the last
  // write that saw a stamp.
  std::uint64_t written_ = 0;
  double lastTime_ = 0.0, lastArea_ = 0.0;
  bool measured_ = false;

  bool armed_ = false;
  std::atomic<double> ratio_{1.0};
  std::atomic<double> queued_{0.0};
};

}  // namespace bw::audio
