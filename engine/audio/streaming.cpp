// sdrStart, the capture notification and sdrStop.
//
// Real-time rules for captureCallback: it runs on the audio layer's
// notification thread with the block pipeline inside it. It never allocates,
// never locks and never waits; it only calls processBlock and moves buffers.
#include "audio/streaming.h"

#include <mutex>
#include <thread>

#include "api/engine_state.h"
#include "api/lifecycle.h"
#include "audio/audio_layer.h"
#include "dsp/pipeline.h"

namespace bw::audio {

namespace {

// Serialises sdrStart and sdrStop against each other (control threads only).
std::mutex g_control;

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
void closeStreams(EngineState& e) {
  StreamState& a = e.audio;
  if (a.capture) {
    a.capture->stop();
    a.capture->reset();
  }
  if (a.playback) a.playback->reset();
  for (int slot = 0; slot < e.bufferCount; ++slot) {
    unprepareHeader(e.captureHeaders[slot]);
    unprepareHeader(e.playbackHeaders[slot]);
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
void closeLeftovers(EngineState& e) {
  StreamState& a = e.audio;
  if (e.runState.load() == kRunning || (!a.capture && !a.playback)) return;
  waitForNotifications(a);
  closeStreams(e);
}

void setUpHeader(WaveHeader& h, std::uint8_t* data, std::int32_t bytes) {
  h.lpData = data;
  h.dwBufferLength = static_cast<std::uint32_t>(bytes);
  prepareHeader(h);
}

}  // namespace

void captureCallback(CaptureStream&, std::uint32_t message, std::uintptr_t,
                     WaveHeader*) {
  EngineState& e = engine();
  StreamState& a = e.audio;
  if (message == kCaptureFailed) {
    // Streaming ends as if stopped; the streams are closed by the next
    // sdrStart, sdrSetGlobal or tear-down. Once this returns, no block runs.
    std::int32_t running = kRunning;
    if (e.runState.compare_exchange_strong(running, kStopped)) {
      waitForNotifications(a);
    }
    return;
  }
  // Counted before runState is read: sdrStop sets runState first and then
  // waits for the count, so either this sees the stop or the stop sees this.
  a.notificationsInProgress.fetch_add(1);
  std::int32_t state = e.runState.load();
  if (state != kRunning) {
    // Open, reset and close notifications. Only a stopped state becomes -1:
    // a concurrent sdrStart's 1 is never overwritten.
    while (state == kStopped &&
           !e.runState.compare_exchange_weak(state, kNotifiedWhileStopped)) {
    }
  } else if (message == kCaptureData) {
    t_inBlock = true;
    for (int slot = 0; slot < e.bufferCount; ++slot) {
      WaveHeader& captured = e.captureHeaders[slot];
      if (!(captured.dwFlags.load(std::memory_order_acquire) & kHeaderDone)) {
        continue;
      }
      WaveHeader& output = e.playbackHeaders[slot];
      // The done bit and the in-queue bit are set by the playback side after
      // its last read of the buffer (release), so this acquire load orders
      // the overwrite after that read.
      if (output.dwFlags.load(std::memory_order_acquire) & kHeaderInQueue) {
        processBlock(e.captureBuffers[slot], a.spareOutput.get());
        a.lateOutputBlocks.fetch_add(1, std::memory_order_relaxed);
        a.capture->add(captured);
        continue;
      }
      processBlock(e.captureBuffers[slot], e.playbackBuffers[slot]);
      a.capture->add(captured);
      a.playback->write(output);
    }
    t_inBlock = false;
  }
  a.notificationsInProgress.fetch_sub(1);
}

std::int32_t startStreaming(BlockHook hook) {
  if (t_inBlock) return 4;
  std::lock_guard lock(g_control);
  EngineState& e = engine();
  if (e.runState.load() == kRunning) return 4;
  if (e.waveFormat.wFormatTag != kFormatPcm) return 5;
  closeLeftovers(e);

  StreamState& a = e.audio;
  try {
    a.spareOutput = std::make_unique<std::uint8_t[]>(e.bufferBytes);
  } catch (...) {
    return 1;
  }
  a.lateOutputBlocks.store(0);
  e.blockHook.store(hook);
  clearTails();

  AudioPlatform& platform = audioPlatform();
  const int in = platformDevice(platform, Direction::Capture, e.inputDevice.load());
  const int out =
      platformDevice(platform, Direction::Playback, e.outputDevice.load());
  if (in == kNoDevice ||
      platform.openCapture(in, e.waveFormat, &captureCallback, 0, a.capture) !=
          Result::Ok) {
    a.capture.reset();
    return 1;
  }
  for (int slot = 0; slot < e.bufferCount; ++slot) {
    setUpHeader(e.captureHeaders[slot], e.captureBuffers[slot], e.bufferBytes);
    a.capture->add(e.captureHeaders[slot]);
  }
  if (out == kNoDevice ||
      platform.openPlayback(out, e.waveFormat, a.playback) != Result::Ok) {
    a.playback.reset();
    closeStreams(e);
    return 1;
  }
  for (int slot = 0; slot < e.bufferCount; ++slot) {
    setUpHeader(e.playbackHeaders[slot], e.playbackBuffers[slot], e.bufferBytes);
  }
  // Running before capture starts, so that even the earliest filled buffer
  // is processed and queued again rather than dropped from the ring.
  e.runState.store(kRunning);
  if (a.capture->start() != Result::Ok) {
    e.runState.store(kStopped);
    waitForNotifications(a);
    closeStreams(e);
    return 1;
  }
  return 0;
}

std::int32_t stopStreaming() {
  if (t_inBlock) return 4;
  std::lock_guard lock(g_control);
  EngineState& e = engine();
  std::int32_t running = kRunning;
  // From here on notifications process nothing.
  if (!e.runState.compare_exchange_strong(running, kStopped)) return 3;
  waitForNotifications(e.audio);
  closeStreams(e);
  return 0;
}

std::unique_lock<std::mutex> holdControl() { return std::unique_lock(g_control); }

void closeLeftoverStreams() { closeLeftovers(engine()); }

bool inBlock() { return t_inBlock; }

void shutdownAudio() {
  if (engineAttached()) {
    std::lock_guard lock(g_control);
    EngineState& e = engine();
    if (e.audio.capture || e.audio.playback) {
      e.runState.store(kStopped);
      waitForNotifications(e.audio);
      closeStreams(e);
    }
  }
  endSystemPlatform();
}

StreamReport streamReport() {
  std::lock_guard lock(g_control);
  const StreamState& a = engine().audio;
  StreamReport r;
  r.capture = a.capture ? a.capture->counters() : a.closedCapture;
  r.playback = a.playback ? a.playback->counters() : a.closedPlayback;
  r.lateOutputBlocks = a.lateOutputBlocks.load();
  return r;
}

}  // namespace bw::audio
