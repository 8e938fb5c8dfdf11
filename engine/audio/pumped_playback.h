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
// render() reads the queue through a RateMatcher: as written while the
// clocks agree, resampled to hold the queue's level when told that the
// writer's clock may differ (matchClocks).
#pragma once

#include <array>
#include <atomic>

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

 protected:
  // Consumer side, real-time safe: fills `frames` frames of out.
  void render(std::uint8_t* out, std::size_t frames) noexcept;
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

  void returnQueued();
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

  // The watcher, and whether a failure came (before or after it was set).
  std::atomic<PlaybackFailed> failed_{nullptr};
  std::atomic<std::uintptr_t> failedInstance_{0};
  std::atomic<bool> hasFailed_{false};

  std::atomic<std::uint64_t> buffers_{0};
  std::atomic<std::uint64_t> underruns_{0};

  RateMatcher matcher_;
};

}  // namespace bw::audio
