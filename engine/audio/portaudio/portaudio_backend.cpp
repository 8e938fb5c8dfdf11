#include "audio/portaudio/portaudio_backend.h"

#include <portaudio.h>

#include <cstdlib>
#include <cstring>

#include "audio/alsa/alsa_pcm_kind.h"
#include "audio/portaudio/device_period.h"
#include "audio/portaudio/portaudio_stream.h"
#include "audio/pumped_capture.h"
#include "audio/pumped_playback.h"
#include "audio/software_volume.h"

namespace bw::audio {

namespace {

class PortAudioCapture final : public PumpedCaptureStream {
 public:
  PortAudioCapture(const WaveFormat& format, CaptureNotify notify, std::uintptr_t instance)
      : PumpedCaptureStream(format, notify, instance, Scheduling::RealTimeWhereGranted) {}
  ~PortAudioCapture() override { closeDevice(); }

  Result open(BoundedWorker& worker, int paIndex, double latency,
              std::uint32_t bufferFrames) {
    const std::uint32_t rate = format().nSamplesPerSec;
    const std::uint32_t period = callbackFrames(bufferFrames, rate);
    return stream_.open(worker, paIndex, deviceLatency(period, rate, latency),
                        format(), period,
                        true, this, &onSamples, &onFailed);
  }

 protected:
  Result startProducer() override { return stream_.start(); }
  void stopProducer() override { stream_.halt(); }
  void closeDevice() override { stream_.close(); }

 private:
  // On PortAudio's real-time thread: hands the frames on and returns.
  static void onSamples(void* self, const void* input, void*,
                        unsigned long frames) {
    auto* s = static_cast<PortAudioCapture*>(self);
    if (input != nullptr) {
      s->deliver(static_cast<const std::uint8_t*>(input),
                 frames * s->format().nBlockAlign);
    }
  }
  static void onFailed(void* self) {
    static_cast<PortAudioCapture*>(self)->reportFailure();
  }

  PortAudioStream stream_;
};

class PortAudioPlayback final : public PumpedPlaybackStream {
 public:
  using PumpedPlaybackStream::PumpedPlaybackStream;
  ~PortAudioPlayback() override { closeDevice(); }

  Result open(BoundedWorker& worker, int paIndex, double latency,
              std::uint32_t bufferFrames) {
    const std::uint32_t rate = format().nSamplesPerSec;
    const std::uint32_t period = callbackFrames(bufferFrames, rate);
    keepQueueNear(period);
    return stream_.open(worker, paIndex, deviceLatency(period, rate, latency),
                        format(), period,
                        false, this, &onSamples, &onFailed);
  }

 protected:
  Result startConsumer() override { return stream_.start(); }
  void stopConsumer() override { stream_.halt(); }
  void closeDevice() override { stream_.close(); }

 private:
  // On PortAudio's real-time thread: pulls the next frames and returns.
  static void onSamples(void* self, const void*, void* output,
                        unsigned long frames) {
    static_cast<PortAudioPlayback*>(self)->render(
        static_cast<std::uint8_t*>(output), frames);
  }
  static void onFailed(void* self) {
    static_cast<PortAudioPlayback*>(self)->reportFailure();
  }

  PortAudioStream stream_;
};

// The ALSA card a PortAudio device name ends with ("... (hw:1,0)"), or -1.
int alsaCard(const std::string& name) {
  const std::size_t at = name.rfind("(hw:");
  if (at == std::string::npos) return -1;
  const char* digits = name.c_str() + at + 4;
  char* end = nullptr;
  const long card = std::strtol(digits, &end, 10);
  return end != digits && *end == ',' && card >= 0 ? static_cast<int>(card) : -1;
}

}  // namespace

PortAudioPlatform::PortAudioPlatform() {
  // Starting PortAudio lists every ALSA device, and ALSA's pulse plugin
  // waits for the sound server: a frozen server would hold this for two
  // minutes. Given up, the platform has no sound cards and is not listed; a
  // start that comes through later is undone on the worker.
  struct Listing {
    bool started = false;
    std::vector<Device> capture, playback;
    int defaultCapture = kNoDevice, defaultPlayback = kNoDevice;
  };
  auto l = std::make_shared<Listing>();
  // PortAudio is the process's: a call another platform gave up on must
  // have returned before it starts again.
  if (!BoundedWorker::waitForLateCalls(kPortAudioCallBound)) return;
  const bool inTime = worker_.run(
      "listing the sound devices", kPortAudioCallBound,
      [l] {
        l->started = Pa_Initialize() == paNoError;
        if (!l->started) return;
        const PaDeviceIndex paDefaultIn = Pa_GetDefaultInputDevice();
        const PaDeviceIndex paDefaultOut = Pa_GetDefaultOutputDevice();
        const PaDeviceIndex count = Pa_GetDeviceCount();
        for (PaDeviceIndex i = 0; i < count; ++i) {
          const PaDeviceInfo* info = Pa_GetDeviceInfo(i);
          if (info == nullptr) continue;
          const char* name = info->name ? info->name : "";
          const PaHostApiInfo* api = Pa_GetHostApiInfo(info->hostApi);
          const bool pulse = api != nullptr && api->type == paALSA && isPulsePcm(name);
          if (info->maxInputChannels >= 2) {
            if (i == paDefaultIn) l->defaultCapture = int(l->capture.size());
            l->capture.push_back({i, name, info->defaultHighInputLatency, pulse});
          }
          if (info->maxOutputChannels >= 2) {
            if (i == paDefaultOut) l->defaultPlayback = int(l->playback.size());
            l->playback.push_back({i, name, info->defaultHighOutputLatency, pulse});
          }
        }
      },
      {},
      [l] {
        if (l->started) Pa_Terminate();
      });
  if (inTime) {
    listed_ = true;
    started_ = l->started;
    capture_ = std::move(l->capture);
    playback_ = std::move(l->playback);
    defaultCapture_ = l->defaultCapture;
    defaultPlayback_ = l->defaultPlayback;
  }
  volumes_ = std::make_unique<std::atomic<std::uint32_t>[]>(playback_.size());
  for (std::size_t k = 0; k < playback_.size(); ++k) volumes_[k] = kFullVolume;
}

PortAudioPlatform::~PortAudioPlatform() {
  // Pa_Terminate would wait for a stream given up on a frozen sound server;
  // PortAudio then stays initialised rather than hang the caller.
  if (started_) PortAudioStream::endLingering(worker_);
  if (started_ && BoundedWorker::lateCalls() == 0) Pa_Terminate();
}

int PortAudioPlatform::deviceCount(Direction d) { return int(list(d).size()); }

int PortAudioPlatform::defaultDevice(Direction d) {
  return d == Direction::Capture ? defaultCapture_ : defaultPlayback_;
}

bool PortAudioPlatform::deviceName(Direction d, int device, char* name) {
  if (device < 0 || device >= deviceCount(d)) return false;
  std::strncpy(name, list(d)[device].name.c_str(), kNameBytes);
  return true;
}

bool PortAudioPlatform::outVolume(int device, std::uint32_t& volume) {
  if (device < 0 || device >= int(playback_.size())) return false;
  volume = volumes_[device].load();
  return true;
}

bool PortAudioPlatform::setOutVolume(int device, std::uint32_t volume) {
  if (device < 0 || device >= int(playback_.size())) return false;
  volumes_[device].store(volume);
  return true;
}

bool PortAudioPlatform::sharedClock(int captureDevice, int playbackDevice) {
  if (captureDevice < 0 || captureDevice >= int(capture_.size()) ||
      playbackDevice < 0 || playbackDevice >= int(playback_.size())) {
    return false;
  }
  const Device& in = capture_[captureDevice];
  const Device& out = playback_[playbackDevice];
  if (in.paIndex == out.paIndex) return true;
  const auto isJack = [](int paIndex) {
    const PaDeviceInfo* info = Pa_GetDeviceInfo(paIndex);
    const PaHostApiInfo* api = info ? Pa_GetHostApiInfo(info->hostApi) : nullptr;
    return api != nullptr && api->type == paJACK;
  };
  if (isJack(in.paIndex) && isJack(out.paIndex)) return true;
  const int card = alsaCard(in.name);
  return card >= 0 && card == alsaCard(out.name);
}

Result PortAudioPlatform::openCapture(int device, const WaveFormat& format,
                                      std::uint32_t bufferFrames,
                                      CaptureNotify notify,
                                      std::uintptr_t instance,
                                      std::unique_ptr<CaptureStream>& stream) {
  if (device < 0 || device >= int(capture_.size())) return Result::BadDevice;
  if (!isStreamableFormat(format)) return Result::BadFormat;
  auto s = std::make_unique<PortAudioCapture>(format, notify, instance);
  const Result r =
      s->open(worker_, capture_[device].paIndex, capture_[device].latency, bufferFrames);
  if (r != Result::Ok) return r;
  s->announceOpen();
  stream = std::move(s);
  return Result::Ok;
}

Result PortAudioPlatform::openPlayback(int device, const WaveFormat& format,
                                       std::uint32_t bufferFrames,
                                       std::unique_ptr<PlaybackStream>& stream) {
  if (device < 0 || device >= int(playback_.size())) return Result::BadDevice;
  if (!isStreamableFormat(format)) return Result::BadFormat;
  auto s = std::make_unique<PortAudioPlayback>(format, &volumes_[device]);
  Result r =
      s->open(worker_, playback_[device].paIndex, playback_[device].latency, bufferFrames);
  if (r == Result::Ok) r = s->startPlaying();
  if (r != Result::Ok) return r;
  stream = std::move(s);
  return Result::Ok;
}

}  // namespace bw::audio
