#include "audio/simulated/simulated_backend.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <optional>
#include <thread>

#include "audio/pumped_capture.h"
#include "audio/pumped_playback.h"
#include "audio/simulated/simulated_band.h"
#include "audio/software_volume.h"
#include "primitives/pcm_codec.h"

namespace bw::audio {

namespace {

using Clock = std::chrono::steady_clock;

Clock::duration framesToDuration(std::size_t frames, double rate) {
  return std::chrono::duration_cast<Clock::duration>(
      std::chrono::duration<double>(double(frames) / rate));
}

// BW_SIMULATED_PLAYBACK_PPM: how far "Simulated output" plays off its
// nominal rate, in parts per million (-5000..5000; unset or anything else: 0),
// so that the simulated pair stands for two cards on clocks apart.
double playbackSkew() {
  const char* text = std::getenv("BW_SIMULATED_PLAYBACK_PPM");
  if (text == nullptr) return 0.0;
  char* end = nullptr;
  const double ppm = std::strtod(text, &end);
  return end != text && *end == '\0' && std::abs(ppm) <= 5000.0 ? ppm : 0.0;
}

// A thread that runs `tick` at start + k * period, k = 1, 2, ..., until
// stopped. Stands for the sample clock of a sound card.
class ClockThread {
 public:
  template <typename Tick>
  void start(std::size_t frames, double rate, Tick tick) {
    stopping_ = false;
    thread_ = std::thread([this, frames, rate, tick]() mutable {
      const Clock::time_point begin = Clock::now();
      std::unique_lock lock(mutex_);
      for (std::uint64_t k = 1;; ++k) {
        // Exact frame count from the start, so the pace does not drift.
        const auto due = begin + framesToDuration(k * frames, rate);
        if (wake_.wait_until(lock, due, [this] { return stopping_; })) return;
        lock.unlock();
        tick();
        lock.lock();
      }
    });
  }
  void stop() {
    if (!thread_.joinable()) return;
    {
      std::lock_guard lock(mutex_);
      stopping_ = true;
    }
    wake_.notify_all();
    thread_.join();
  }
  ~ClockThread() { stop(); }

 private:
  std::thread thread_;
  std::mutex mutex_;
  std::condition_variable wake_;
  bool stopping_ = false;
};

class SimulatedCapture final : public PumpedCaptureStream {
 public:
  SimulatedCapture(const WaveFormat& format, CaptureNotify notify,
                   std::uintptr_t instance)
      : PumpedCaptureStream(format, notify, instance, Scheduling::Normal),
        band_(static_cast<int>(format.nSamplesPerSec)) {
    band_.setComponents(SimulatedBand::componentsFromList(std::getenv(kSimulatedSignalsVariable)));
  }
  ~SimulatedCapture() override { clock_.stop(); }

 protected:
  Result startProducer() override {
    const WaveFormat& f = format();
    // One buffer per clock tick, like a card's period; 20 ms before any
    // buffer is queued.
    std::size_t frames = firstQueuedLength() / f.nBlockAlign;
    if (frames == 0) frames = f.nSamplesPerSec / 50;
    try {
      i_.assign(frames, 0.0);
      q_.assign(frames, 0.0);
      pcm_.assign(frames * f.nBlockAlign, 0);
    } catch (...) {
      return Result::Refused;
    }
    clock_.start(frames, f.nSamplesPerSec, [this, frames] { produce(frames); });
    return Result::Ok;
  }
  void stopProducer() override { clock_.stop(); }

 private:
  void produce(std::size_t frames) {
    const int bits = format().wBitsPerSample;
    const int bytes = bits / 8;
    const double fullScale = std::ldexp(1.0, bits - 1) - 1.0;
    band_.render(i_.data(), q_.data(), static_cast<int>(frames));
    std::uint8_t* at = pcm_.data();
    for (std::size_t n = 0; n < frames; ++n) {
      for (const double x : {i_[n], q_[n]}) {
        const double v = std::clamp(std::nearbyint(x * fullScale), -fullScale, fullScale);
        pcm::write(at, bits, static_cast<std::int32_t>(v));
        at += bytes;
      }
    }
    deliver(pcm_.data(), pcm_.size());
  }

  SimulatedBand band_;
  std::vector<double> i_, q_;
  std::vector<std::uint8_t> pcm_;
  ClockThread clock_;
};

// The last second that "Simulated output" played.
struct OutputRecord {
  std::mutex mutex;
  WaveFormat format;
  std::vector<std::uint8_t> ring;  // one second of frames
  std::size_t next = 0;            // where the next byte goes
  std::size_t filled = 0;          // bytes held

  void restart(const WaveFormat& f) {
    std::lock_guard lock(mutex);
    format = f;
    ring.assign(std::size_t{f.nSamplesPerSec} * f.nBlockAlign, 0);
    next = 0;
    filled = 0;
  }
  void append(const std::uint8_t* data, std::size_t bytes) {
    std::lock_guard lock(mutex);
    if (ring.empty()) return;
    for (std::size_t k = 0; k < bytes; ++k) {
      ring[next] = data[k];
      next = (next + 1) % ring.size();
    }
    filled = std::min(ring.size(), filled + bytes);
  }
};

OutputRecord& outputRecord() {
  static OutputRecord record;
  return record;
}

class SimulatedPlayback final : public PumpedPlaybackStream {
 public:
  SimulatedPlayback(const WaveFormat& format,
                    const std::atomic<std::uint32_t>* volume)
      : PumpedPlaybackStream(format, volume),
        frames_(std::max<std::size_t>(format.nSamplesPerSec / 100, 1)),
        pcm_(frames_ * format.nBlockAlign) {
    outputRecord().restart(format);
  }
  ~SimulatedPlayback() override { clock_.stop(); }

 protected:
  // Plays in slices of about 10 ms.
  Result startConsumer() override {
    clock_.start(frames_, format().nSamplesPerSec * (1.0 + playbackSkew() * 1e-6), [this] {
      render(pcm_.data(), frames_);
      outputRecord().append(pcm_.data(), pcm_.size());
    });
    return Result::Ok;
  }
  void stopConsumer() override { clock_.stop(); }

 private:
  std::size_t frames_;
  std::vector<std::uint8_t> pcm_;
  ClockThread clock_;
};

}  // namespace

SimulatedPlatform::SimulatedPlatform() : volume_(kFullVolume) {}

bool SimulatedPlatform::deviceName(Direction direction, int device, char* name) {
  if (device != 0) return false;
  const char* text = direction == Direction::Capture ? kSimulatedCaptureName
                                                     : kSimulatedPlaybackName;
  std::strncpy(name, text, kNameBytes);
  return true;
}

bool SimulatedPlatform::sharedClock(int, int) { return playbackSkew() == 0.0; }

bool SimulatedPlatform::outVolume(int device, std::uint32_t& volume) {
  if (device != 0) return false;
  volume = volume_.load();
  return true;
}

bool SimulatedPlatform::setOutVolume(int device, std::uint32_t volume) {
  if (device != 0) return false;
  volume_.store(volume);
  return true;
}

Result SimulatedPlatform::openCapture(int device, const WaveFormat& format,
                                      std::uint32_t /*bufferFrames*/,
                                      CaptureNotify notify,
                                      std::uintptr_t instance,
                                      std::unique_ptr<CaptureStream>& stream) {
  if (device != 0) return Result::BadDevice;
  if (!isStreamableFormat(format)) return Result::BadFormat;
  auto s = std::make_unique<SimulatedCapture>(format, notify, instance);
  s->announceOpen();
  stream = std::move(s);
  return Result::Ok;
}

Result SimulatedPlatform::openPlayback(int device, const WaveFormat& format,
                                       std::uint32_t /*bufferFrames*/,
                                       std::unique_ptr<PlaybackStream>& stream) {
  if (device != 0) return Result::BadDevice;
  if (!isStreamableFormat(format)) return Result::BadFormat;
  auto s = std::make_unique<SimulatedPlayback>(format, &volume_);
  const Result r = s->startPlaying();
  if (r != Result::Ok) return r;
  stream = std::move(s);
  return Result::Ok;
}

bool simulatedOutputTail(std::vector<std::uint8_t>& pcm, WaveFormat& format) {
  OutputRecord& r = outputRecord();
  std::lock_guard lock(r.mutex);
  if (r.filled == 0) return false;
  format = r.format;
  pcm.resize(r.filled);
  const std::size_t start = (r.next + r.ring.size() - r.filled) % r.ring.size();
  for (std::size_t k = 0; k < r.filled; ++k) {
    pcm[k] = r.ring[(start + k) % r.ring.size()];
  }
  return true;
}

}  // namespace bw::audio
