// The audio layer's part of the engine state: the open capture and playback
// streams and the count of capture notifications in progress.
#pragma once

#include <atomic>
#include <cstdint>
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
  // Where a block's output goes when its playback slot has not finished
  // playing (bufferBytes, made by sdrStart), and how often that happened.
  std::unique_ptr<std::uint8_t[]> spareOutput;
  std::atomic<std::uint64_t> lateOutputBlocks{0};
  // Counters of the streams as they were closed by the latest stop.
  StreamCounters closedCapture, closedPlayback;
};

}  // namespace bw::audio
