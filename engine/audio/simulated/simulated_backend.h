// The built-in simulated front end: one capture device, "Simulated I/Q
// band", delivering SimulatedBand's band as stereo I/Q (I left, Q right) in
// the stream's format, paced in real time by the steady clock; and one
// playback device, "Simulated output", which consumes what it is given in
// real time and keeps the last second of it for tests to read. Both run on
// the steady clock, unless BW_SIMULATED_PLAYBACK_PPM puts the output's
// clock that far off (to try the playback's rate matching live).
//
// The capture device renders the default band; the environment variable
// kSimulatedSignalsVariable, read when a stream opens, adds the signals for
// trying the receiver's tools (SimulatedBand::componentsFromList: "tools",
// or any of "am", "impulses", "carrier").
#pragma once

#include <atomic>
#include <cstdint>
#include <vector>

#include "audio/platform.h"

namespace bw::audio {

inline constexpr char kSimulatedCaptureName[] = "Simulated I/Q band";
inline constexpr char kSimulatedPlaybackName[] = "Simulated output";
inline constexpr char kSimulatedSignalsVariable[] = "BW_SIMULATED_SIGNALS";

class SimulatedPlatform final : public AudioPlatform {
 public:
  SimulatedPlatform();

  int deviceCount(Direction) override { return 1; }
  int defaultDevice(Direction) override { return 0; }
  bool deviceName(Direction direction, int device, char* name) override;
  int mixerCount() override { return 0; }
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
  bool sharedClock(int captureDevice, int playbackDevice) override;

 private:
  std::atomic<std::uint32_t> volume_;  // software volume of "Simulated output"
};

// Copies the last second (or less, if less was played) that "Simulated
// output" played since its latest open, oldest first, after the software
// volume; format receives the stream's format. False when nothing was played.
bool simulatedOutputTail(std::vector<std::uint8_t>& pcm, WaveFormat& format);

}  // namespace bw::audio
