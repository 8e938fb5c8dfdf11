#include "audio/system_platform.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

#include "audio/alsa/alsa_mixers.h"
#include "audio/portaudio/portaudio_backend.h"
#include "audio/pulse/pulse_backend.h"
#include "audio/simulated/simulated_backend.h"

namespace bw::audio {

namespace {

// Which of `words` the environment variable `name` holds, as its index:
// `fallback` when it is unset or empty, and, said on standard error, when it
// holds anything else.
std::size_t wordFromEnvironment(const char* name, std::initializer_list<const char*> words,
                                std::size_t fallback) {
  const char* value = std::getenv(name);
  if (value == nullptr || *value == '\0') return fallback;
  std::string listed;
  for (std::size_t k = 0; k < words.size(); ++k) {
    if (std::strcmp(value, words.begin()[k]) == 0) return k;
    listed += (k == 0 ? "" : ", ") + std::string(words.begin()[k]);
  }
  std::fprintf(stderr, "brackwell: %s=%s is none of %s; using %s\n", name, value,
               listed.c_str(), words.begin()[fallback]);
  return fallback;
}

// Whether the sound server's devices stream through libpulse, from
// BW_SOUND_SERVER: "pulse" natively (the default), "alsa" through ALSA's
// plugin.
bool serverThroughLibpulse() {
  return wordFromEnvironment("BW_SOUND_SERVER", {"pulse", "alsa"}, 0) == 0;
}

// What BW_CLOCKS says of the capture and playback clocks: "one" (play the
// receiver's output as it is), "two" (they may differ: keep the playback in
// step), or "auto" (as the backends tell; the default).
enum class ClockChoice { Auto, One, Two };
ClockChoice clockChoice() {
  return static_cast<ClockChoice>(wordFromEnvironment("BW_CLOCKS", {"auto", "one", "two"}, 0));
}

class SystemPlatform final : public AudioPlatform {
 public:
  SystemPlatform() {
    if (!cards_.listed() || !serverThroughLibpulse()) return;
    std::vector<std::string> names[2];
    for (Direction d : {Direction::Capture, Direction::Playback}) {
      std::vector<int>& index = serverIndex_[int(d)];
      index.assign(cards_.deviceCount(d), kNoDevice);
      for (int k = 0; k < cards_.deviceCount(d); ++k) {
        char name[kNameBytes + 1] = {};
        if (!cards_.isPulseDevice(d, k) || !cards_.deviceName(d, k, name)) continue;
        index[k] = int(names[int(d)].size());
        names[int(d)].push_back(name);
      }
    }
    server_ = std::make_unique<PulsePlatform>(std::move(names[0]), std::move(names[1]));
  }

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
  // BW_CLOCKS overrides.
  bool sharedClock(int captureDevice, int playbackDevice) override {
    const ClockChoice choice = clockChoice();
    if (choice != ClockChoice::Auto) return choice == ClockChoice::One;
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
    if (device >= 0 && device < cards) {
      const int served = server_ ? serverIndex_[int(d)][device] : kNoDevice;
      if (served == kNoDevice) return &cards_;
      device = served;
      return server_.get();
    }
    if (device >= cards) device -= cards;
    return &simulated_;
  }

  PortAudioPlatform cards_;
  SimulatedPlatform simulated_;
  // The cards that are the sound server's default devices, streamed through
  // libpulse when chosen: null, or their index there (kNoDevice for the
  // other cards) per direction.
  std::unique_ptr<PulsePlatform> server_;
  std::vector<int> serverIndex_[2];
};

}  // namespace

std::unique_ptr<AudioPlatform> makeSystemPlatform() {
  return std::make_unique<SystemPlatform>();
}

}  // namespace bw::audio
