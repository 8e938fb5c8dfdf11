// Starting and stopping the receiver: the capture and playback streams whose
// capture notifications drive the block processing.
#pragma once

#include <cstdint>
#include <mutex>

#include "audio/platform.h"
#include "audio/stream_state.h"
#include "brackwell/brackwell.h"

namespace bw::audio {

// sdrStart, answering with the public status codes: SDR_DEVICE_REFUSED (a
// device refused to open or start, whatever the platform's Result; whatever
// was opened is closed again), SDR_RUNNING (already running, or called from
// inside a block) or SDR_NOT_CONFIGURED (the setup has no format); a refused
// call changes nothing. Once the checks pass, runs setup.onStart, then opens
// the streams and streams through `s`, which keeps a copy of the setup.
SdrStatus startStreaming(StreamState& s, const StreamSetup& setup);
// sdrStop: SDR_NOT_RUNNING when not running. Waits for a block in progress
// to finish, then stops, resets, unprepares and closes both streams. Called
// from inside a block it refuses with SDR_RUNNING.
SdrStatus stopStreaming(StreamState& s);
// A stream failure reported by the platform (kCaptureFailed or a playback
// failure: device gone, sound server died or killed a stream), or a playback
// that has taken no block for about four seconds, ends streaming as if
// stopped: no block runs after it, sdrStop answers SDR_NOT_RUNNING and
// sdrStart may be called again; the dead streams are closed by the next
// start, sdrSetGlobal or tear-down.
//
// Holds sdrStart and sdrStop off for as long as the lock lives, so that a
// caller's check of the run state and what it does on it are one step
// (sdrSetGlobal renews the buffers the streams use): while it is held, a
// state that is not running stays so; the holder may itself start. Not from
// inside a block (inBlock).
[[nodiscard]] std::unique_lock<std::recursive_mutex> holdControl();
// Closes the streams a failed run left open. With holdControl() held and
// the engine seen not running.
void closeLeftoverStreams(StreamState& s);
// True on the processing thread while it runs a block (so inside the hook).
bool inBlock();
// Closes whatever streams are open and ends the audio layer's use of the
// sound system (engine tear-down).
void shutdownAudio(StreamState& s);

// The capture notification; `instance` is the StreamState. For kCaptureData
// while running, processes every done slot in index order and queues its
// buffers again; otherwise moves runState to -1. Runs on the layer's
// notification thread. A playback slot that is still queued (playback has
// fallen a whole ring behind) is not overwritten: that block is processed
// into a spare buffer and not played.
void captureCallback(CaptureStream& stream, std::uint32_t message,
                     std::uintptr_t instance, WaveHeader* header);

// Counters of the open streams, or of the streams closed by the latest stop,
// and the blocks whose output was dropped because their playback slot was
// still queued (since the latest sdrStart).
struct StreamReport {
  StreamCounters capture, playback;
  std::uint64_t lateOutputBlocks = 0;
};
StreamReport streamReport(const StreamState& s);

}  // namespace bw::audio
