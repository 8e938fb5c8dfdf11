#include "audio/system_platform.h"

#include <cstring>
#include <string>
#include <vector>

#include "audio/alsa/alsa_mixers.h"
#include "audio/portaudio/portaudio_backend.h"
#include "audio/simulated/simulated_backend.h"

namespace bw::audio {

namespace {

class SystemPlatform final : public AudioPlatform {
 public:
  int deviceCount(Direction d) override {
    if (!cards_.listed()) return 1;
    return cards_.deviceCount(d) + simulated_.deviceCount(d);
  }
  int defaultDevice(Direction d) override {
    if (!cards_.listed()) return 0;
    const int card = cards_.defaultDevice(d);
    if (card != kNoDevice) return card;
    return cards_.deviceCount(d) + simulated_.defaultDevice(d);
  }
  bool deviceName(Direction d, int device, char* name) override {
    AudioPlatform* backend = route(d, device);
    return backend != nullptr && backend->deviceName(d, device, name);
  }
  int mixerCount() override { return int(alsaCardNames().size()); }
  bool mixerName(int mixer, char* name) override {
    const std::vector<std::string> names = alsaCardNames();
    if (mixer < 0 || mixer >= int(names.size())) return false;
    std::strncpy(name, names[mixer].c_str(), kNameBytes);
    return true;
  }
  bool outVolume(int device, std::uint32_t& volume) override {
    AudioPlatform* backend = route(Direction::Playback, device);
    return backend != nullptr && backend->outVolume(device, volume);
  }
  bool setOutVolume(int device, std::uint32_t volume) override {
    AudioPlatform* backend = route(Direction::Playback, device);
    return backend != nullptr && backend->setOutVolume(device, volume);
  }
  Result openCapture(int device, const WaveFormat& format,
                     std::uint32_t bufferFrames, CaptureNotify notify,
                     std::uintptr_t instance,
                     std::unique_ptr<CaptureStream>& stream) override {
    AudioPlatform* backend = route(Direction::Capture, device);
    if (backend == nullptr) return Result::Refused;
    return backend->openCapture(device, format, bufferFrames, notify, instance,
                                stream);
  }
  Result openPlayback(int device, const WaveFormat& format,
                      std::uint32_t bufferFrames,
                      std::unique_ptr<PlaybackStream>& stream) override {
    AudioPlatform* backend = route(Direction::Playback, device);
    if (backend == nullptr) return Result::Refused;
    return backend->openPlayback(device, format, bufferFrames, stream);
  }
  // Devices of one backend share a clock as that backend says; the
  // simulated front end runs on the system's clock, a card on its own.
  bool sharedClock(int captureDevice, int playbackDevice) override {
    AudioPlatform* in = route(Direction::Capture, captureDevice);
    AudioPlatform* out = route(Direction::Playback, playbackDevice);
    return in != nullptr && in == out && in->sharedClock(captureDevice, playbackDevice);
  }

 private:
  // The backend holding `device`; turns device into that backend's index
  // (an index past the simulated device stays invalid there). nullptr while
  // the cards are unlisted: no index has a known device then.
  AudioPlatform* route(Direction d, int& device) {
    if (!cards_.listed()) return nullptr;
    const int cards = cards_.deviceCount(d);
    if (device >= 0 && device < cards) return &cards_;
    if (device >= cards) device -= cards;
    return &simulated_;
  }

  PortAudioPlatform cards_;
  SimulatedPlatform simulated_;
};

}  // namespace

std::unique_ptr<AudioPlatform> makeSystemPlatform() {
  return std::make_unique<SystemPlatform>();
}

}  // namespace bw::audio
