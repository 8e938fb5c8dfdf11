// Sound cards through PortAudio. Capture devices are those with at least two
// input channels, playback devices those with at least two output channels,
// in PortAudio's order; the default device of a direction is PortAudio's.
// PortAudio's callbacks only move samples (into the capture pump, out of the
// playback pump); the capture notification runs on the pump's thread.
#pragma once

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "audio/bounded_worker.h"
#include "audio/platform.h"
#include "audio/portaudio/quiet_sound_libraries.h"

namespace bw::audio {

class PortAudioPlatform final : public AudioPlatform {
 public:
  // Starts PortAudio with the sound libraries' probing messages silenced.
  // If PortAudio cannot start, the platform simply has no devices; if the
  // sound server does not let it list them within kPortAudioCallBound
  // (portaudio_stream.h), it has none either and is not listed().
  PortAudioPlatform();
  // Ends PortAudio and gives the sound libraries their message hooks back.
  // Every stream must be closed and destroyed first. While a call given up
  // on a frozen server has not returned, PortAudio stays initialised and the
  // worker is left inside that call (audio/bounded_worker.h): the platform
  // goes at once.
  ~PortAudioPlatform() override;

  // False when the listing was given up: which devices exist is unknown.
  bool listed() const { return listed_; }
  // True for a device that is ALSA's PCM of PulseAudio's plugin
  // (audio/alsa/alsa_pcm_kind.h): the sound server's default device.
  bool isPulseDevice(Direction direction, int device) const {
    return device >= 0 && device < int(list(direction).size()) && list(direction)[device].pulse;
  }

  int deviceCount(Direction direction) override;
  int defaultDevice(Direction direction) override;
  bool deviceName(Direction direction, int device, char* name) override;
  int mixerCount() override { return 0; }  // mixers come from ALSA
  bool mixerName(int, char*) override { return false; }
  bool outVolume(int device, std::uint32_t& volume) override;
  bool setOutVolume(int device, std::uint32_t volume) override;
  Result openCapture(int device, const WaveFormat& format,
                     std::uint32_t bufferFrames, CaptureNotify notify,
                     std::uintptr_t instance,
                     std::unique_ptr<CaptureStream>& stream) override;
  Result openPlayback(int device, const WaveFormat& format,
                      std::uint32_t bufferFrames,
                      std::unique_ptr<PlaybackStream>& stream) override;
  // One clock: the same device both ways, two devices of one ALSA card
  // ("(hw:N,"), or JACK, which runs everything on its one clock. Anything
  // else may differ: other cards, and a sound server's devices, which may
  // stand for any of its cards.
  bool sharedClock(int captureDevice, int playbackDevice) override;

 private:
  struct Device {
    int paIndex;
    std::string name;
    double latency;  // seconds, PortAudio's suggestion for this device
    bool pulse;      // PulseAudio's ALSA plugin
  };
  const std::vector<Device>& list(Direction d) const {
    return d == Direction::Capture ? capture_ : playback_;
  }

  QuietSoundLibraries quiet_;  // first: outlives PortAudio's use of them
  BoundedWorker worker_;       // every PortAudio call a server can hold
  bool started_ = false;
  bool listed_ = false;
  std::vector<Device> capture_, playback_;
  int defaultCapture_ = kNoDevice, defaultPlayback_ = kNoDevice;
  std::unique_ptr<std::atomic<std::uint32_t>[]> volumes_;  // per playback device
};

}  // namespace bw::audio
