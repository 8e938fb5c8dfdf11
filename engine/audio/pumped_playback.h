// The playback-stream mechanics shared by the sound-card and simulated
// backends. write() queues buffers without locks; the backend's consumer (a
// real-time callback or a clock thread) pulls bytes with render(), which
// plays the buffers in the order written, marks each done once played,
// plays silence when none is queued and applies the device's software
// volume.
//
// Output starts one buffer period after the first write (a buffer of
// silence), so that the next buffer, which comes one capture period later
// give or take the processing time, is there before the first has played.
//
// With a queue target (keepQueueNear), output starts after that much
// silence instead, and the queue is held near it (with what the device
// still holds of it, when render() is told): once the fewest frames
// queued at any render over a window (8 buffers, or a second when that is
// shorter) exceed what it keeps by more than its largest render (a
// capture hiccup delivered a backlog), the excess is dropped from the front
// of the queue. Capture and playback on one clock
// otherwise keep any excess for good, and with it the delay. Each underrun
// raises what the queue keeps by the silence it put in (up to one buffer):
// a device that needs more margin than the target gets it, once.
//
// render() reads the queue through a RateMatcher: as written while the
// clocks agree, resampled to hold the queue's level when told that the
// writer's clock may differ (matchClocks); the target then gets a margin
// for the drift until the matcher runs (6 ms). While the matcher holds that
// level, only a step is trimmed: a window's low more than kStepMilliseconds
// above the highest of the last few windows' (a device that stalled and
// played on without what it missed) is taken back down to it, and the
// matcher keeps its level. After a gap the device reports (noteUnderrun),
// any rise of a window's mean queue over the mean before the gap is taken
// out in the same way.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>

#include "audio/platform.h"
#include "audio/rate_matcher.h"

namespace bw::audio {

class PumpedPlaybackStream : public PlaybackStream, private FrameSource {
 public:
  // volume: the device's packed software volume, read at every render.
  PumpedPlaybackStream(const WaveFormat& format,
                       const std::atomic<std::uint32_t>* volume);
  ~PumpedPlaybackStream() override = default;

  void watchFailure(PlaybackFailed failed, std::uintptr_t instance) override;
  Result write(WaveHeader& header) override;
  Result reset() override;
  Result close() override;
  StreamCounters counters() const override;
  void matchClocks(bool mayDiffer) override;
  Matching matching() const override;

  // Starts the consumer (the platform calls it when opening the stream).
  Result startPlaying() { return startConsumer(); }
  // The queue target in frames (0: none, the one-buffer start above). Before
  // startPlaying().
  void keepQueueNear(std::uint32_t frames) { targetFrames_ = frames; }

 protected:
  // Consumer side, real-time safe: fills `frames` frames of out.
  // `deviceFrames`: what a device given only what is ready (readyFrames())
  // still holds of what it was given. That is part of the queue's margin: the
  // target and the trims hold the two together, not the queue on top of it.
  void render(std::uint8_t* out, std::size_t frames, std::size_t deviceFrames = 0) noexcept;
  // Consumer side: frames render() has to give before it would starve (the
  // start's silence included; none before the first buffer is written).
  std::size_t readyFrames() const noexcept;
  // Consumer side: counts a gap the device played where render() could not
  // see it (a server that ran dry of what it was given). A server plays on
  // after such a gap without pulling what it missed: the queue rises by the
  // silence, and while the matcher holds its level that rise is trimmed as
  // a step, however small, over the next kGapWindows windows. A gap before
  // render() found the first buffer written lost nothing of it (PulseAudio
  // reports one as a stream starts that was given nothing yet): not counted.
  void noteUnderrun() noexcept {
    if (!primed_) return;
    underruns_.fetch_add(1, std::memory_order_relaxed);
    gapWindows_ = kGapWindows;
  }
  // Called by write() once a buffer is queued, on the writer's thread: a
  // consumer that waits for data may be told here. Must not block.
  virtual void queued() noexcept {}
  // Start / stop the consumer; stopConsumer() returns once no render() call
  // is running. The stream starts its consumer when opened.
  // Tells the watcher that the consumer ended for good; from the thread
  // that noticed.
  void reportFailure() noexcept;
  virtual Result startConsumer() = 0;
  virtual void stopConsumer() = 0;
  virtual void closeDevice() {}
  // Seconds on the steady clock (a test may run a clock of its own).
  virtual double now() const;

  const WaveFormat& format() const { return format_; }

 private:
  static constexpr std::uint32_t kQueueCapacity = 16;
  // Long enough to see the queue's low point, once a buffer, several times;
  // short enough that a start-up backlog is gone within the first bursts a
  // listener hears. At 32 buffers (a second at 2048 frames) the loopback
  // test's p95 at order 11 was 75-214 ms at a load of 3; at 8, 61-64 ms.
  static constexpr std::size_t kTrimWindowBuffers = 8;

  // A backlog beyond the matcher's level that is trimmed while it holds
  // that level (ms): past what a loaded machine's writes wander by.
  static constexpr std::size_t kStepMilliseconds = 20;
  // Windows after a gap the device reported in which a rise of the queue's
  // mean is that gap's: the one it came in (part of which is from before
  // it) and the next, and one more for a server that resumes late in that
  // one.
  static constexpr int kGapWindows = 3;

  std::size_t trimWindowFrames() const noexcept;
  std::size_t stepFrames() const noexcept;
  // What the queue keeps at first: the target, and on clocks that may
  // differ a margin for the drift until the matcher runs.
  std::size_t keptTarget() const noexcept;
  void returnQueued();
  // Consumer side: frames queued and not yet played.
  std::size_t queuedFrames() const noexcept;
  // Silence played before the first buffer of `bufferFrames` frames: the
  // target, or one buffer without one.
  std::size_t prerollFrames(std::size_t bufferFrames) const noexcept;
  // Consumer side: plays nothing of the next `frames` queued frames;
  // returns how many there were to drop. `keepLevel`: as for
  // RateMatcher::skip.
  std::size_t drop(std::size_t frames, bool keepLevel = false) noexcept;
  // Consumer side: advances the front header by n bytes (at most its rest).
  void advance(WaveHeader& h, std::uint32_t p, std::size_t n) noexcept;
  // The queued frames in write order, after the pre-roll (render's source).
  Taken take(std::uint8_t* out, std::size_t frames) noexcept override;

  WaveFormat format_;
  const std::atomic<std::uint32_t>* volume_;

  // Single-producer (write) single-consumer (render) queue of headers.
  std::array<WaveHeader*, kQueueCapacity> queue_{};
  std::atomic<std::uint32_t> written_{0};  // headers ever written
  std::atomic<std::uint32_t> played_{0};   // headers ever finished
  // Consumer state.
  std::uint32_t playPos_ = 0;   // bytes of the front header already played
  std::size_t prerollBytes_ = 0;
  bool primed_ = false;         // the first buffer has arrived
  bool closed_ = false;
  std::uint32_t targetFrames_ = 0;
  std::size_t keptFrames_ = 0;    // the target, raised by underruns
  std::size_t bufferFrames_ = 0;  // frames of one buffer
  std::size_t windowLow_ = SIZE_MAX;  // fewest frames queued in this window
  std::size_t windowFrames_ = 0;      // frames rendered in this window
  std::size_t windowRender_ = 0;      // the largest render in this window
  double windowArea_ = 0.0;            // frames queued x frames rendered
  std::array<std::size_t, 4> lows_{};  // the lows of the last windows
  std::array<double, 4> means_{};      // and their mean queues (frames)
  double gapMean_ = 0.0;               // the mean before a reported gap
  std::size_t windows_ = 0;            // windows seen
  int gapWindows_ = 0;                 // windows left after a reported gap

  // The watcher, and whether a failure came (before or after it was set).
  std::atomic<PlaybackFailed> failed_{nullptr};
  std::atomic<std::uintptr_t> failedInstance_{0};
  std::atomic<bool> hasFailed_{false};

  std::atomic<std::uint64_t> buffers_{0};
  std::atomic<std::uint64_t> underruns_{0};
  std::atomic<std::uint64_t> trimmed_{0};
  // Set before the first write; read by the consumer, which may already run.
  std::atomic<bool> clocksMayDiffer_{false};

  RateMatcher matcher_;
};

}  // namespace bw::audio
