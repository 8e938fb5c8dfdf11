// A sound server's default source and sink through libpulse, under the
// names that stand for them among the sound cards (ALSA's PCMs of
// PulseAudio's plugin: "pulse", and often "default"). Device k of a
// direction is the k-th name given; each streams on the server's default
// device of that direction, as the plugin would, and each playback name
// keeps a software volume of its own.
//
// Nothing is asked of the server until a stream opens, and an open waits
// for it at most kPulseOpenBound. One connection serves every stream; it is
// made again once the server went away or missed a deadline. Streams are
// told (their failure notification) when the server ends them, removes or
// suspends their device or moves them (audio/pulse/pulse_stream.h).
#pragma once

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include <pulse/def.h>

#include "audio/platform.h"
#include "audio/pulse/pulse_connection.h"

namespace bw::audio {

// How long opening a stream may wait for the server, connecting included.
constexpr std::chrono::milliseconds kPulseOpenBound{3000};
// How long a closed capture stream goes on reading, to be taken up by the
// next capture open of the same format (audio/pulse/pulse_stream.h, park).
constexpr std::chrono::milliseconds kPulseLinger{1000};

class PulseStream;

// The record stream of the latest capture stream closed, while it reads on
// (control thread only).
struct ParkedReader {
  ParkedReader();
  ~ParkedReader();
  std::unique_ptr<PulseStream> stream;
  WaveFormat format{};
  std::uint32_t periodFrames = 0;
};

class PulsePlatform final : public AudioPlatform {
 public:
  PulsePlatform(std::vector<std::string> captureNames,
                std::vector<std::string> playbackNames);
  // Every stream must be closed and destroyed first.
  ~PulsePlatform() override = default;

  int deviceCount(Direction direction) override;
  // The first name: all stand for the same default device.
  int defaultDevice(Direction direction) override;
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
  // Whether the source and sink of the streams opened last run on one
  // clock, as the server tells (audio/pulse/pulse_clock.h); asks it, for
  // at most kPulseOpenBound.
  bool sharedClock(int captureDevice, int playbackDevice) override;

 private:
  const std::vector<std::string>& names(Direction d) const {
    return d == Direction::Capture ? capture_ : playback_;
  }
  // The connection, made again when it is not usable; null when the server
  // was not ready by `deadline`.
  std::shared_ptr<PulseConnection> connection(PulseConnection::Deadline deadline);
  // The connection for capture streams: on PipeWire's pulse server one of
  // their own. That server holds a client's captured data back while any
  // other message to the client waits to be sent, and the playback's
  // request for more, due every graph cycle, often does: the capture then
  // came in bursts of 20-85 ms, and the playback ran dry in every run.
  std::shared_ptr<PulseConnection> captureConnection(PulseConnection::Deadline deadline);
  // `slot`, or a new connection in it when it is not usable.
  static std::shared_ptr<PulseConnection> usableConnection(
      std::shared_ptr<PulseConnection>& slot, PulseConnection::Deadline deadline);

  std::vector<std::string> capture_, playback_;
  std::unique_ptr<std::atomic<std::uint32_t>[]> volumes_;  // per playback name
  std::shared_ptr<PulseConnection> connection_;
  std::shared_ptr<PulseConnection> captureConnection_;  // null but on PipeWire
  ParkedReader parked_;  // before the connections go
  // The server's devices of the capture and playback streams opened last.
  std::uint32_t source_ = PA_INVALID_INDEX, sink_ = PA_INVALID_INDEX;
};

}  // namespace bw::audio
