#include "audio/portaudio_backend.h"

#include <portaudio.h>

#include <cstring>

#include "audio/pumped_capture.h"
#include "audio/pumped_playback.h"
#include "audio/software_volume.h"

namespace bw::audio {

namespace {

PaSampleFormat sampleFormat(int bits) {
  switch (bits) {
    case 8: return paUInt8;
    case 16: return paInt16;
    case 24: return paInt24;
    default: return paInt32;
  }
}

// Opens a one-direction stereo stream on a device in the given format, with
// `callback` as its real-time callback. Refusals of the format are told apart
// from other refusals.
Result openPaStream(PaStream*& stream, int paIndex, double latency,
                    const WaveFormat& format, bool capture,
                    PaStreamCallback* callback, void* self) {
  PaStreamParameters params{};
  params.device = paIndex;
  params.channelCount = 2;
  params.sampleFormat = sampleFormat(format.wBitsPerSample);
  params.suggestedLatency = latency;
  const PaError err = Pa_OpenStream(
      &stream, capture ? &params : nullptr, capture ? nullptr : &params,
      format.nSamplesPerSec, paFramesPerBufferUnspecified, paClipOff, callback,
      self);
  if (err == paNoError) return Result::Ok;
  stream = nullptr;
  return err == paSampleFormatNotSupported || err == paInvalidSampleRate
             ? Result::BadFormat
             : Result::Refused;
}

void closePaStream(PaStream*& stream) {
  if (!stream) return;
  Pa_AbortStream(stream);
  Pa_CloseStream(stream);
  stream = nullptr;
}

class PortAudioCapture final : public PumpedCaptureStream {
 public:
  using PumpedCaptureStream::PumpedCaptureStream;
  ~PortAudioCapture() override { closeDevice(); }

  Result open(int paIndex, double latency) {
    return openPaStream(stream_, paIndex, latency, format(), true, &onAudio,
                        this);
  }

 protected:
  Result startProducer() override {
    return Pa_StartStream(stream_) == paNoError ? Result::Ok : Result::Refused;
  }
  void stopProducer() override {
    if (stream_ && Pa_IsStreamActive(stream_) == 1) Pa_StopStream(stream_);
  }
  void closeDevice() override { closePaStream(stream_); }

 private:
  // PortAudio's real-time callback: hands the frames on and returns.
  static int onAudio(const void* input, void*, unsigned long frames,
                     const PaStreamCallbackTimeInfo*, PaStreamCallbackFlags,
                     void* self) {
    auto* s = static_cast<PortAudioCapture*>(self);
    if (input != nullptr) {
      s->deliver(static_cast<const std::uint8_t*>(input),
                 frames * s->format().nBlockAlign);
    }
    return paContinue;
  }

  PaStream* stream_ = nullptr;
};

class PortAudioPlayback final : public PumpedPlaybackStream {
 public:
  using PumpedPlaybackStream::PumpedPlaybackStream;
  ~PortAudioPlayback() override { closeDevice(); }

  Result open(int paIndex, double latency) {
    return openPaStream(stream_, paIndex, latency, format(), false, &onAudio,
                        this);
  }

 protected:
  Result startConsumer() override {
    return Pa_StartStream(stream_) == paNoError ? Result::Ok : Result::Refused;
  }
  void stopConsumer() override {
    if (stream_ && Pa_IsStreamActive(stream_) == 1) Pa_AbortStream(stream_);
  }
  void closeDevice() override { closePaStream(stream_); }

 private:
  // PortAudio's real-time callback: pulls the next frames and returns.
  static int onAudio(const void*, void* output, unsigned long frames,
                     const PaStreamCallbackTimeInfo*, PaStreamCallbackFlags,
                     void* self) {
    static_cast<PortAudioPlayback*>(self)->render(
        static_cast<std::uint8_t*>(output), frames);
    return paContinue;
  }

  PaStream* stream_ = nullptr;
};

}  // namespace

PortAudioPlatform::PortAudioPlatform() {
  started_ = Pa_Initialize() == paNoError;
  if (!started_) return;
  const PaDeviceIndex paDefaultIn = Pa_GetDefaultInputDevice();
  const PaDeviceIndex paDefaultOut = Pa_GetDefaultOutputDevice();
  const PaDeviceIndex count = Pa_GetDeviceCount();
  for (PaDeviceIndex i = 0; i < count; ++i) {
    const PaDeviceInfo* info = Pa_GetDeviceInfo(i);
    if (info == nullptr) continue;
    const char* name = info->name ? info->name : "";
    if (info->maxInputChannels >= 2) {
      if (i == paDefaultIn) defaultCapture_ = int(capture_.size());
      capture_.push_back({i, name, info->defaultHighInputLatency});
    }
    if (info->maxOutputChannels >= 2) {
      if (i == paDefaultOut) defaultPlayback_ = int(playback_.size());
      playback_.push_back({i, name, info->defaultHighOutputLatency});
    }
  }
  volumes_ = std::make_unique<std::atomic<std::uint32_t>[]>(playback_.size());
  for (std::size_t k = 0; k < playback_.size(); ++k) volumes_[k] = kFullVolume;
}

PortAudioPlatform::~PortAudioPlatform() {
  if (started_) Pa_Terminate();
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

Result PortAudioPlatform::openCapture(int device, const WaveFormat& format,
                                      CaptureNotify notify,
                                      std::uintptr_t instance,
                                      std::unique_ptr<CaptureStream>& stream) {
  if (device < 0 || device >= int(capture_.size())) return Result::BadDevice;
  if (!isStreamableFormat(format)) return Result::BadFormat;
  auto s = std::make_unique<PortAudioCapture>(format, notify, instance);
  const Result r = s->open(capture_[device].paIndex, capture_[device].latency);
  if (r != Result::Ok) return r;
  s->announceOpen();
  stream = std::move(s);
  return Result::Ok;
}

Result PortAudioPlatform::openPlayback(int device, const WaveFormat& format,
                                       std::unique_ptr<PlaybackStream>& stream) {
  if (device < 0 || device >= int(playback_.size())) return Result::BadDevice;
  if (!isStreamableFormat(format)) return Result::BadFormat;
  auto s = std::make_unique<PortAudioPlayback>(format, &volumes_[device]);
  Result r = s->open(playback_[device].paIndex, playback_[device].latency);
  if (r == Result::Ok) r = s->startPlaying();
  if (r != Result::Ok) return r;
  stream = std::move(s);
  return Result::Ok;
}

}  // namespace bw::audio
