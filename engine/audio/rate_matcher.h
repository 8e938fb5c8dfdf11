// Plays a queue of PCM frames written on one clock to a consumer on another:
// the consumer's real-time thread pulls its frames through render(), which
// reads the queue at the ratio RateControl sets, interpolating between
// frames (InterpolationKernel); the writer tells noteWrite() of every buffer
// it queues, which measures the queue and runs the control. At ratio exactly
// 1 on a whole frame the queued bytes are copied unchanged.
//
// The queue's length is measured when a buffer is written: the frames
// written so far less the consumer's read position, which the consumer
// stamps with the time at each render and the writer projects to the time
// of the write. So neither side's period shows in the measurement.
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

  // Any thread: the ratio in use, and the smoothed queue length (s; 0
  // before the first measurement).
  double ratio() const { return ratio_.load(std::memory_order_relaxed); }
  double queuedSeconds() const { return queued_.load(std::memory_order_relaxed); }
  // Consumer side: frames taken from the source and not yet played.
  std::size_t heldFrames() const noexcept {
    return base_ + count_ > frame_ ? static_cast<std::size_t>(base_ + count_ - frame_) : 0;
  }

 private:
  static constexpr std::size_t kWindowFrames = 1024;

  // Makes frame `last` (absolute index) readable, pulling from `source`;
  // false when the source has no more.
  bool reach(std::uint64_t last, FrameSource& source, bool& starved) noexcept;
  void publishPosition(double now) noexcept;
  bool readPosition(double& time, double& position) const noexcept;

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

  // The consumer's stamp: read position (frames of written audio) at a time,
  // under a sequence count (odd while being changed).
  std::atomic<std::uint32_t> stampSequence_{0};
  std::atomic<double> stampTime_{0.0}, stampPosition_{0.0};
  std::atomic<bool> stamped_{false};

  // Renders that ran dry (consumer), and as the writer saw them last.
  std::atomic<std::uint32_t> gaps_{0};
  std::uint32_t gapsSeen_ = 0;

  // Writer side.
  std::uint64_t written_ = 0;

  bool armed_ = false;
  std::atomic<double> ratio_{1.0};
  std::atomic<double> queued_{0.0};
};

}  // namespace bw::audio
