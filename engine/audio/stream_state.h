// The audio layer's part of the engine state: the open capture and playback
// streams and the count of capture notifications in progress.
#pragma once

#include <atomic>
#include <memory>

#include "audio/platform.h"

namespace bw::audio {

struct StreamState {
  // Open from a successful sdrStart until sdrStop (captureHandle and
  // playbackHandle). Changed only by startStreaming and stopStreaming.
  std::unique_ptr<CaptureStream> capture;
  std::unique_ptr<PlaybackStream> playback;
  // Capture notifications running captureCallback right now. sdrStop waits
  // for it to fall to 0 before it touches the streams.
  std::atomic<int> notificationsInProgress{0};
  // Counters of the streams as they were closed by the latest stop.
  StreamCounters closedCapture, closedPlayback;
};

}  // namespace bw::audio
