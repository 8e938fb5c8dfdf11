// The audio layer's streaming state: what a start was given, the open capture
// and playback streams and the count of capture notifications in progress.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include "audio/lost_audio_report.h"
#include "audio/platform.h"
#include "audio/wave_header.h"

namespace bw::audio {

// Run state values.
constexpr std::int32_t kStopped = 0;
constexpr std::int32_t kRunning = 1;
constexpr std::int32_t kNotifiedWhileStopped = -1;

// The block processing the capture notifications drive: `process` runs for
// every filled capture buffer with the playback buffer its output goes to
// (both bufferBytes), and gets `context`.
struct BlockClient {
  void* context = nullptr;
  void (*process)(void* context, const std::uint8_t* input,
                  std::uint8_t* output) = nullptr;
};

// What a start streams with; the tables and buffers belong to the caller and
// must stay until the streams are closed.
struct StreamSetup {
  std::int32_t inputDevice = 0, outputDevice = 0;  // 1 = the default device
  WaveFormat format;                               // wFormatTag 0: none
  std::int32_t bufferCount = 0;                    // ring slots in use
  std::int32_t bufferBytes = 0;                    // bytes a buffer
  WaveHeader* captureHeaders = nullptr;            // bufferCount each
  WaveHeader* playbackHeaders = nullptr;
  std::uint8_t* const* captureBuffers = nullptr;
  std::uint8_t* const* playbackBuffers = nullptr;
  BlockClient client;
  // Called with startContext inside startStreaming, once its checks have
  // passed and before any stream opens; not kept after the call.
  void (*onStart)(void* startContext) = nullptr;
  void* startContext = nullptr;
};

struct StreamState {
  // runState: the owner's run state (kStopped, kRunning,
  // kNotifiedWhileStopped); it must outlive this state.
  explicit StreamState(std::atomic<std::int32_t>& runState) : runState(runState) {}
  StreamState(const StreamState&) = delete;
  StreamState& operator=(const StreamState&) = delete;

  std::atomic<std::int32_t>& runState;
  // The setup of the latest successful start (read by the notifications
  // while running).
  StreamSetup setup;
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
  // Late blocks in a row (processing thread only) and how many end
  // streaming as a dead playback would (set by sdrStart).
  std::uint32_t lateInARow = 0;
  std::uint32_t lateLimit = 0;
  // A stream failure ended the latest run: notifications change nothing
  // until the next start.
  std::atomic<bool> failed{false};
  // The line on standard error when audio is lost (processing thread; made
  // afresh by sdrStart).
  LostAudioReport lostAudio;
  // Counters of the streams as they were closed by the latest stop.
  StreamCounters closedCapture, closedPlayback;
};

}  // namespace bw::audio
