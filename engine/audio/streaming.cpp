// sdrStart, the capture notification and sdrStop.
//
// Real-time rules for captureCallback: it runs on the audio layer's
// notification thread with the block processing inside it. It never
// allocates, never locks and never waits; it only runs the client's block
// processing and moves buffers. The one exception is the line on standard
// error when audio was lost, at most once a minute: formatted on the stack
// and written with one write(2), no lock taken.
#include "audio/streaming.h"

#include <algorithm>
#include <chrono>
#include <mutex>
#include <thread>

#include "audio/audio_layer.h"

namespace bw::audio {

namespace {

// Serialises sdrStart and sdrStop against each other and against whoever
// holds holdControl() (control threads only). Recursive: a holder may start.
std::recursive_mutex g_control;

// True on a thread while it runs captureCallback's blocks (so inside the
// block hook).
thread_local bool t_inBlock = false;

void waitForNotifications(const StreamState& a) {
  for (int spin = 0; a.notificationsInProgress.load() != 0; ++spin) {
    if (spin >= 64) std::this_thread::yield();
  }
}

// Stops, resets, unprepares and closes whatever streams are open, in the
// order of sdrStop: capture stop and reset, playback reset, unprepare slot
// by slot, close capture, then playback.
void closeStreams(StreamState& a) {
  const StreamSetup& s = a.setup;
  if (a.capture) {
    a.capture->stop();
    a.capture->reset();
  }
  if (a.playback) a.playback->reset();
  for (int slot = 0; slot < s.bufferCount; ++slot) {
    unprepareHeader(s.captureHeaders[slot]);
    unprepareHeader(s.playbackHeaders[slot]);
  }
  if (a.capture) {
    a.capture->close();
    a.closedCapture = a.capture->counters();
    a.capture.reset();
  }
  if (a.playback) {
    a.playback->close();
    a.closedPlayback = a.playback->counters();
    a.playback.reset();
  }
}

// Closes the streams a failed run left open (the failure ended streaming
// but could not close them from the platform's thread).
void closeLeftovers(StreamState& a) {
  if (a.runState.load() == kRunning || (!a.capture && !a.playback)) return;
  waitForNotifications(a);
  closeStreams(a);
}

// Ends streaming after a stream failed: no block runs once this returns
// (unless called from inside a block, which then is the last). The streams
// are closed by the next sdrStart, sdrSetGlobal or tear-down.
void endOnFailure(StreamState& a) {
  // The other stream may still deliver: its notifications must not turn the
  // stopped state into -1, which the read-outs take as running.
  a.failed.store(true);
  std::int32_t running = kRunning;
  if (!a.runState.compare_exchange_strong(running, kStopped)) {
    a.failed.store(false);  // not running: nothing ended here
    return;
  }
  if (!t_inBlock) waitForNotifications(a);
}

void playbackFailed(std::uintptr_t instance) {
  endOnFailure(*reinterpret_cast<StreamState*>(instance));
}

// Consecutive blocks whose playback slot was still queued after which the
// playback counts as dead: about four seconds of the stream, and at least
// two rings.
std::uint32_t lateOutputLimit(const StreamSetup& s) {
  const std::uint64_t frames = s.bufferBytes / s.format.nBlockAlign;
  const std::uint64_t blocks = (4ull * s.format.nSamplesPerSec + frames - 1) / frames;
  return static_cast<std::uint32_t>(
      std::max<std::uint64_t>(blocks, 2ull * static_cast<std::uint64_t>(s.bufferCount)));
}

// Capture and playback on devices whose clocks may differ: the playback
// stream keeps its queue in step by resampling (on one clock it plays the
// blocks as they are).
void matchPlaybackClock(StreamState& a, AudioPlatform& platform, int in, int out) {
  a.playback->matchClocks(!platform.sharedClock(in, out));
}

// After the blocks of a notification: the line on standard error when
// audio was lost.
void reportLostAudio(StreamState& a) {
  const PlaybackStream::Matching m = a.playback->matching();
  a.lostAudio.check(a.lateOutputBlocks.load(std::memory_order_relaxed),
                    a.playback->counters().underruns, m.ratio, m.queued,
                    std::chrono::duration<double>(
                        std::chrono::steady_clock::now().time_since_epoch())
                        .count());
}

void setUpHeader(WaveHeader& h, std::uint8_t* data, std::int32_t bytes) {
  h.lpData = data;
  h.dwBufferLength = static_cast<std::uint32_t>(bytes);
  prepareHeader(h);
}

}  // namespace

void captureCallback(CaptureStream&, std::uint32_t message,
                     std::uintptr_t instance, WaveHeader*) {
  StreamState& a = *reinterpret_cast<StreamState*>(instance);
  if (message == kCaptureFailed) {
    endOnFailure(a);
    return;
  }
  // Counted before runState is read: sdrStop sets runState first and then
  // waits for the count, so either this sees the stop or the stop sees this.
  a.notificationsInProgress.fetch_add(1);
  if (a.failed.load()) {
    a.notificationsInProgress.fetch_sub(1);
    return;
  }
  std::int32_t state = a.runState.load();
  if (state != kRunning) {
    // Open, reset and close notifications. Only a stopped state becomes -1:
    // a concurrent sdrStart's 1 is never overwritten.
    while (state == kStopped &&
           !a.runState.compare_exchange_weak(state, kNotifiedWhileStopped)) {
    }
  } else if (message == kCaptureData) {
    const StreamSetup& s = a.setup;
    const BlockClient& client = s.client;
    t_inBlock = true;
    for (int slot = 0; slot < s.bufferCount; ++slot) {
      WaveHeader& captured = s.captureHeaders[slot];
      if (!(captured.dwFlags.load(std::memory_order_acquire) & kHeaderDone)) {
        continue;
      }
      WaveHeader& output = s.playbackHeaders[slot];
      // The done bit and the in-queue bit are set by the playback side after
      // its last read of the buffer (release), so this acquire load orders
      // the overwrite after that read.
      if (output.dwFlags.load(std::memory_order_acquire) & kHeaderInQueue) {
        client.process(client.context, s.captureBuffers[slot],
                       a.spareOutput.get());
        a.lateOutputBlocks.fetch_add(1, std::memory_order_relaxed);
        a.capture->add(captured);
        // A playback that has taken nothing for seconds is dead even if
        // the platform never said so: streaming ends as on a failure.
        if (++a.lateInARow >= a.lateLimit) {
          endOnFailure(a);
          break;
        }
        continue;
      }
      a.lateInARow = 0;
      client.process(client.context, s.captureBuffers[slot],
                     s.playbackBuffers[slot]);
      a.capture->add(captured);
      a.playback->write(output);
    }
    t_inBlock = false;
    if (a.runState.load() == kRunning) reportLostAudio(a);
  }
  a.notificationsInProgress.fetch_sub(1);
}

SdrStatus startStreaming(StreamState& a, const StreamSetup& setup) {
  if (t_inBlock) return SDR_RUNNING;
  std::lock_guard lock(g_control);
  if (a.runState.load() == kRunning) return SDR_RUNNING;
  if (setup.format.wFormatTag != kFormatPcm) return SDR_NOT_CONFIGURED;
  closeLeftovers(a);

  try {
    a.spareOutput = std::make_unique<std::uint8_t[]>(setup.bufferBytes);
  } catch (...) {
    return SDR_DEVICE_REFUSED;
  }
  a.setup = setup;
  const StreamSetup& s = a.setup;
  a.lateOutputBlocks.store(0);
  a.lateInARow = 0;
  a.lateLimit = lateOutputLimit(s);
  a.lostAudio = LostAudioReport();
  a.failed.store(false);
  if (s.onStart) s.onStart(s.startContext);

  AudioPlatform& platform = audioPlatform();
  const int in = platformDevice(platform, Direction::Capture, s.inputDevice);
  const int out = platformDevice(platform, Direction::Playback, s.outputDevice);
  const auto frames = static_cast<std::uint32_t>(s.bufferBytes / s.format.nBlockAlign);
  if (in == kNoDevice ||
      platform.openCapture(in, s.format, frames, &captureCallback,
                           reinterpret_cast<std::uintptr_t>(&a),
                           a.capture) != Result::Ok) {
    a.capture.reset();
    return SDR_DEVICE_REFUSED;
  }
  for (int slot = 0; slot < s.bufferCount; ++slot) {
    setUpHeader(s.captureHeaders[slot], s.captureBuffers[slot], s.bufferBytes);
    a.capture->add(s.captureHeaders[slot]);
  }
  if (out == kNoDevice ||
      platform.openPlayback(out, s.format, frames, a.playback) != Result::Ok) {
    a.playback.reset();
    closeStreams(a);
    return SDR_DEVICE_REFUSED;
  }
  for (int slot = 0; slot < s.bufferCount; ++slot) {
    setUpHeader(s.playbackHeaders[slot], s.playbackBuffers[slot],
                s.bufferBytes);
  }
  a.playback->watchFailure(&playbackFailed, reinterpret_cast<std::uintptr_t>(&a));
  matchPlaybackClock(a, platform, in, out);
  // Running before capture starts, so that even the earliest filled buffer
  // is processed and queued again rather than dropped from the ring.
  a.runState.store(kRunning);
  if (a.capture->start() != Result::Ok) {
    a.runState.store(kStopped);
    waitForNotifications(a);
    closeStreams(a);
    return SDR_DEVICE_REFUSED;
  }
  return SDR_OK;
}

SdrStatus stopStreaming(StreamState& a) {
  if (t_inBlock) return SDR_RUNNING;
  std::lock_guard lock(g_control);
  std::int32_t running = kRunning;
  // From here on notifications process nothing.
  if (!a.runState.compare_exchange_strong(running, kStopped)) {
    return SDR_NOT_RUNNING;
  }
  waitForNotifications(a);
  closeStreams(a);
  return SDR_OK;
}

std::unique_lock<std::recursive_mutex> holdControl() { return std::unique_lock(g_control); }

void closeLeftoverStreams(StreamState& a) { closeLeftovers(a); }

bool inBlock() { return t_inBlock; }

void shutdownAudio(StreamState& a) {
  {
    std::lock_guard lock(g_control);
    if (a.capture || a.playback) {
      a.runState.store(kStopped);
      waitForNotifications(a);
      closeStreams(a);
    }
  }
  endSystemPlatform();
}

StreamReport streamReport(const StreamState& a) {
  std::lock_guard lock(g_control);
  StreamReport r;
  r.capture = a.capture ? a.capture->counters() : a.closedCapture;
  r.playback = a.playback ? a.playback->counters() : a.closedPlayback;
  r.lateOutputBlocks = a.lateOutputBlocks.load();
  return r;
}

}  // namespace bw::audio
