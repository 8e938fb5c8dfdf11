#include "audio/pulse/pulse_backend.h"

#include <algorithm>
#include <atomic>
#include <cstring>

#include "audio/portaudio/device_period.h"
#include "audio/pulse/pulse_clock.h"
#include "audio/pulse/pulse_stream.h"
#include "audio/pumped_capture.h"
#include "audio/pumped_playback.h"
#include "audio/software_volume.h"

namespace bw::audio {

namespace {

// The longest block (seconds) whose playback queue needs no more than a
// period of margin.
constexpr double kShortBlockSeconds = 0.025;
// What the playback queue keeps beyond one period for longer blocks
// (seconds). With one period alone the loopback test heard a 5 ms gap at
// 2048-frame blocks on a loaded machine: a long block arrives in one piece,
// and its delivery wanders by more than a period.
constexpr double kLongBlockMarginSeconds = 0.005;

// Frames a stream moves at a time: the cards' period for the engine's
// buffers (audio/portaudio/device_period.h), or 10 ms when it has none.
std::uint32_t periodFrames(std::uint32_t bufferFrames, std::uint32_t rate) {
  const std::uint32_t frames = callbackFrames(bufferFrames, rate);
  return frames != 0 ? frames : std::max<std::uint32_t>(rate / 100, 1);
}

class PulseCapture final : public PumpedCaptureStream {
 public:
  PulseCapture(const WaveFormat& format, CaptureNotify notify, std::uintptr_t instance,
               ParkedReader& parked)
      : PumpedCaptureStream(format, notify, instance, Scheduling::RealTimeWhereGranted),
        parked_(parked) {}
  ~PulseCapture() override { closeDevice(); }

  // Takes up the parked reader when it reads in this format, else connects.
  Result open(std::shared_ptr<PulseConnection> connection, std::uint32_t bufferFrames,
              PulseConnection::Deadline deadline) {
    period_ = periodFrames(bufferFrames, format().nSamplesPerSec);
    std::unique_ptr<PulseStream> parked = std::move(parked_.stream);
    if (parked != nullptr && sameFormat(parked_.format, format()) &&
        parked_.periodFrames == period_ && parked->adopt(this, &onSamples, &onFailed)) {
      stream_ = std::move(parked);
      return Result::Ok;
    }
    parked.reset();
    stream_ = std::make_unique<PulseStream>();
    return stream_->open(std::move(connection), format(), period_, true, deadline, this,
                         &onSamples, &onFailed);
  }
  std::uint32_t deviceIndex() const {
    return stream_ != nullptr ? stream_->deviceIndex() : PA_INVALID_INDEX;
  }

 protected:
  Result startProducer() override { return stream_->start(); }
  void stopProducer() override { stream_->halt(); }
  void closeDevice() override {
    if (stream_ == nullptr) return;
    if (stream_->park(kPulseLinger)) {
      parked_.stream = std::move(stream_);  // the one parked before goes
      parked_.format = format();
      parked_.periodFrames = period_;
    }
    stream_.reset();
  }

 private:
  static bool sameFormat(const WaveFormat& a, const WaveFormat& b) {
    return a.nSamplesPerSec == b.nSamplesPerSec && a.wBitsPerSample == b.wBitsPerSample &&
           a.nChannels == b.nChannels;
  }
  static std::size_t onSamples(void* self, const std::uint8_t* input, std::uint8_t*,
                               std::size_t frames) {
    auto* s = static_cast<PulseCapture*>(self);
    s->deliver(input, frames * s->format().nBlockAlign);
    return frames;
  }
  static void onFailed(void* self) { static_cast<PulseCapture*>(self)->reportFailure(); }

  ParkedReader& parked_;
  std::unique_ptr<PulseStream> stream_;
  std::uint32_t period_ = 0;
};

class PulsePlayback final : public PumpedPlaybackStream {
 public:
  using PumpedPlaybackStream::PumpedPlaybackStream;
  ~PulsePlayback() override { closeDevice(); }

  Result open(std::shared_ptr<PulseConnection> connection, std::uint32_t bufferFrames,
              PulseConnection::Deadline deadline) {
    // The queue, with what the server holds of it, held near one period and
    // a margin: without a target, a backlog a capture hiccup left would
    // stay in the delay until the engine's ring overflowed, four blocks
    // later, and a start with a whole block of silence would keep that
    // block in the delay for good (43 ms at the console's blocks). For
    // short blocks the margin is a period on PulseAudio: its buffer for
    // them is three periods, and it asks for one at a time, so with one
    // period in all it was down to one when a block came and ran dry at
    // every hiccup (1-5 gaps in 15 s at order 9; with two, none in six runs
    // and 0-8 in three later ones on a machine that stalls). PipeWire's
    // pulse server keeps three of its quanta of its own whatever it is asked
    // for; there a period more only added a quantum to the latency.
    const std::uint32_t rate = format().nSamplesPerSec;
    const std::uint32_t period = periodFrames(bufferFrames, rate);
    pipeWire_ = connection != nullptr && connection->onPipeWire();
    std::uint32_t margin = pipeWire_ ? 0 : period;
    if (bufferFrames > kShortBlockSeconds * rate) {
      margin = static_cast<std::uint32_t>(kLongBlockMarginSeconds * rate);
    }
    keepQueueNear(period + margin);
    // The gaps the server plays count as underruns, beside the queue's own.
    // A server given only what is queued, or answered in full, is never
    // given silence for a gap it then plays too, so one gap counts once.
    return stream_.open(std::move(connection), format(), period, false, deadline, this,
                        &onSamples, &onFailed, &onGap);
  }
  std::uint32_t deviceIndex() const { return stream_.deviceIndex(); }

  void matchClocks(bool mayDiffer) override {
    fillOnlyWhatIsQueued_.store(pipeWire_ || !mayDiffer, std::memory_order_relaxed);
    PumpedPlaybackStream::matchClocks(mayDiffer);
  }

 protected:
  Result startConsumer() override { return stream_.start(); }
  void stopConsumer() override { stream_.halt(); }
  void closeDevice() override { stream_.close(); }

 private:
  // The server is given only what is queued (what the rate matcher can
  // play of it), and the rest once the next block is written: the queue's
  // margin then waits in the server's buffer, where a late block finds it,
  // and the server's buffer is part of that margin rather than added to it
  // (render() is told what the server holds: the target and the trims
  // count it). Answering every request in full put silence in at every
  // block a little late, and kept the server's buffer full on top of the
  // queue. Medians this way against in full, minimum phase: on PulseAudio
  // 55 ms against 59-61 at order 11 and 17 against 18-20 at order 9
  // (load 1); on PipeWire's pulse server 17-22 ms against 27-33 at order 9
  // (load 1-2).
  //
  // On PulseAudio with clocks that may differ every request is still
  // answered in full: given only what is queued, the rate matcher's read
  // position follows the server's requests, whose pattern beats against
  // the blocks, and its loop wanders with it (a tone through it at 100 ppm,
  // simulated, median over 20 s: 94 dB against 100; live, one run of four
  // 183 ppm off).
  void queued() noexcept override {
    if (fillOnlyWhatIsQueued_.load(std::memory_order_relaxed)) stream_.dataReady();
  }

  static std::size_t onSamples(void* self, const std::uint8_t*, std::uint8_t* output,
                               std::size_t frames) {
    auto* s = static_cast<PulsePlayback*>(self);
    const bool onlyQueued = s->fillOnlyWhatIsQueued_.load(std::memory_order_relaxed);
    if (onlyQueued) frames = std::min(frames, s->readyFrames());
    if (frames > 0) s->render(output, frames, onlyQueued ? s->stream_.serverFrames() : 0);
    return frames;
  }
  static void onFailed(void* self) { static_cast<PulsePlayback*>(self)->reportFailure(); }
  static void onGap(void* self) { static_cast<PulsePlayback*>(self)->noteUnderrun(); }

  PulseStream stream_;
  bool pipeWire_ = false;
  std::atomic<bool> fillOnlyWhatIsQueued_{true};
};

PulseConnection::Deadline openDeadline() {
  return std::chrono::steady_clock::now() + kPulseOpenBound;
}

}  // namespace

ParkedReader::ParkedReader() = default;
ParkedReader::~ParkedReader() = default;

PulsePlatform::PulsePlatform(std::vector<std::string> captureNames,
                             std::vector<std::string> playbackNames)
    : capture_(std::move(captureNames)), playback_(std::move(playbackNames)) {
  volumes_ = std::make_unique<std::atomic<std::uint32_t>[]>(playback_.size());
  for (std::size_t k = 0; k < playback_.size(); ++k) volumes_[k] = kFullVolume;
}

int PulsePlatform::deviceCount(Direction d) { return int(names(d).size()); }

int PulsePlatform::defaultDevice(Direction d) { return names(d).empty() ? kNoDevice : 0; }

bool PulsePlatform::deviceName(Direction d, int device, char* name) {
  if (device < 0 || device >= deviceCount(d)) return false;
  std::strncpy(name, names(d)[device].c_str(), kNameBytes);
  return true;
}

bool PulsePlatform::outVolume(int device, std::uint32_t& volume) {
  if (device < 0 || device >= int(playback_.size())) return false;
  volume = volumes_[device].load();
  return true;
}

bool PulsePlatform::setOutVolume(int device, std::uint32_t volume) {
  if (device < 0 || device >= int(playback_.size())) return false;
  volumes_[device].store(volume);
  return true;
}

std::shared_ptr<PulseConnection> PulsePlatform::connection(
    PulseConnection::Deadline deadline) {
  return usableConnection(connection_, deadline);
}

std::shared_ptr<PulseConnection> PulsePlatform::captureConnection(
    PulseConnection::Deadline deadline) {
  std::shared_ptr<PulseConnection> shared = connection(deadline);
  if (shared == nullptr || !shared->onPipeWire()) return shared;
  return usableConnection(captureConnection_, deadline);
}

std::shared_ptr<PulseConnection> PulsePlatform::usableConnection(
    std::shared_ptr<PulseConnection>& slot, PulseConnection::Deadline deadline) {
  if (slot != nullptr) {
    bool usable = false;
    {
      PulseConnection::Lock lock(*slot);
      usable = slot->usable();
    }
    if (usable) return slot;
  }
  slot.reset();
  slot = PulseConnection::connect(deadline);
  return slot;
}

Result PulsePlatform::openCapture(int device, const WaveFormat& format,
                                  std::uint32_t bufferFrames, CaptureNotify notify,
                                  std::uintptr_t instance,
                                  std::unique_ptr<CaptureStream>& stream) {
  if (device < 0 || device >= int(capture_.size())) return Result::BadDevice;
  if (!isStreamableFormat(format)) return Result::BadFormat;
  const PulseConnection::Deadline deadline = openDeadline();
  auto s = std::make_unique<PulseCapture>(format, notify, instance, parked_);
  const Result r = s->open(captureConnection(deadline), bufferFrames, deadline);
  if (r != Result::Ok) return r;
  source_ = s->deviceIndex();
  s->announceOpen();
  stream = std::move(s);
  return Result::Ok;
}

Result PulsePlatform::openPlayback(int device, const WaveFormat& format,
                                   std::uint32_t bufferFrames,
                                   std::unique_ptr<PlaybackStream>& stream) {
  if (device < 0 || device >= int(playback_.size())) return Result::BadDevice;
  if (!isStreamableFormat(format)) return Result::BadFormat;
  const PulseConnection::Deadline deadline = openDeadline();
  auto s = std::make_unique<PulsePlayback>(format, &volumes_[device]);
  Result r = s->open(connection(deadline), bufferFrames, deadline);
  if (r == Result::Ok) r = s->startPlaying();
  if (r != Result::Ok) return r;
  sink_ = s->deviceIndex();
  stream = std::move(s);
  return Result::Ok;
}

bool PulsePlatform::sharedClock(int, int) {
  return connection_ != nullptr &&
         pulseDevicesShareClock(*connection_, source_, sink_, openDeadline());
}

}  // namespace bw::audio
