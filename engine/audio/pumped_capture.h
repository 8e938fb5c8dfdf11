// The capture-stream mechanics shared by the sound-card and simulated
// backends. The backend's producer (a real-time callback or a clock thread)
// hands raw frames to deliver(); a notification thread of the layer copies
// them into the queued buffers in queue order and runs the capture
// notification for each filled one. The producer never waits and never runs
// the notification itself.
#pragma once

#include <array>
#include <atomic>
#include <thread>

#include "audio/byte_fifo.h"
#include "audio/platform.h"

namespace bw::audio {

class PumpedCaptureStream : public CaptureStream {
 public:
  // How the notification thread, which runs the engine's processing of each
  // block, is scheduled: a sound card's stream asks for real time where the
  // system grants it (audio/realtime_priority.h); the simulated devices, a
  // test aid, do not.
  enum class Scheduling { Normal, RealTimeWhereGranted };

  // Buffers up to one second of `format` between producer and notification
  // thread.
  PumpedCaptureStream(const WaveFormat& format, CaptureNotify notify,
                      std::uintptr_t instance, Scheduling scheduling);
  // A derived stream must have stopped its producer before this runs.
  ~PumpedCaptureStream() override;

  Result add(WaveHeader& header) override;
  Result start() override;
  Result stop() override;
  Result reset() override;
  Result close() override;
  StreamCounters counters() const override;

  // Sends kCaptureOpened (the platform calls it once the open succeeded).
  void announceOpen();

 protected:
  // Producer side, real-time safe: queues captured bytes (whole frames) for
  // the notification thread; counts an overrun and drops them when more
  // than a second is already waiting.
  void deliver(const std::uint8_t* data, std::size_t bytes) noexcept;
  // Tells the engine (kCaptureFailed) that the producer ended for good; from
  // the thread that noticed.
  void reportFailure() noexcept;
  // Starts / stops the producer. stopProducer() returns once no deliver()
  // call is running.
  virtual Result startProducer() = 0;
  virtual void stopProducer() = 0;
  // Releases the device (after the producer stopped).
  virtual void closeDevice() {}

  const WaveFormat& format() const { return format_; }
  // Length in bytes of the first queued buffer (0 when none).
  std::uint32_t firstQueuedLength() const;

 private:
  static constexpr int kQueueCapacity = 16;

  void run();
  void fillQueuedBuffers();
  void keepPartialBuffer();
  void endNotificationThread();

  WaveFormat format_;
  CaptureNotify notify_;
  std::uintptr_t instance_;
  Scheduling scheduling_;
  ByteFifo fifo_;

  // Queued headers, oldest first. Touched by the control thread while the
  // notification thread does not run, and by the notification thread (and
  // the notifications it runs) while it does.
  std::array<WaveHeader*, kQueueCapacity> queue_{};
  int queueHead_ = 0;
  int queueCount_ = 0;

  std::thread thread_;
  std::atomic<std::uint32_t> wake_{0};
  // Bytes the notification thread waits for: the rest of its first queued
  // buffer. Written by it, read by the producer.
  std::atomic<std::size_t> wanted_{1};
  std::atomic<bool> stopping_{false};
  bool running_ = false;
  bool closed_ = false;

  std::atomic<std::uint64_t> buffers_{0};
  std::atomic<std::uint64_t> overruns_{0};
};

}  // namespace bw::audio
