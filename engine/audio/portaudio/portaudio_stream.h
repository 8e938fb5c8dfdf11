// One PortAudio stream of either direction, as the backend's capture and
// playback streams use it: opened with a real-time callback, started, halted
// within a bounded time and closed.
//
// Every call that a frozen sound server can hold goes through the backend's
// BoundedWorker (audio/bounded_worker.h).
//
// PortAudio's callbacks never see the owning object directly: they go
// through a small link that halt() can cut. When PortAudio's thread does not
// come back from an abort in time (a frozen sound server keeps it blocked for
// tens of seconds, or for good), or the worker is still stuck in an earlier
// call, the stream is given up: the link is cut, and the PaStream and the
// link are left to PortAudio (the link is freed once the abort returns, if
// it ever does). The owner may then be destroyed at once.
//
// A stream that ends without being halted (its thread hit an error: device
// gone, sound server died) calls `failed` once, on PortAudio's thread.
//
// A capture stream on a sound server's device (its ALSA plugin, which other
// readers may open beside ours) goes on reading, cut from its owner, for up to kLinger after it is
// halted and closed, until the next capture stream has started. A sound
// server source left without a reader falls back to its idle schedule (a
// null sink's monitor renders two seconds ahead), and a reader that comes
// then hears nothing until that period ends: a stop and start would
// otherwise often wait two seconds for the first block. The lingering
// reader stops itself after kLinger and is closed by the next start, the
// next lingering one or endLingering().
//
// Control functions come from one thread at a time. The worker given to
// open() must outlive the stream.
#pragma once

#include <portaudio.h>

#include <atomic>
#include <chrono>

#include "audio/bounded_worker.h"
#include "audio/platform.h"

namespace bw::audio {

// How long a call that opens, starts or lists devices may take.
constexpr std::chrono::milliseconds kPortAudioCallBound{3000};

class PortAudioStream {
 public:
  // The owner's sample callback: frames of input (capture) or output.
  using Samples = void (*)(void* owner, const void* input, void* output,
                           unsigned long frames);
  using Failed = void (*)(void* owner);

  // How long halt() waits for PortAudio's thread.
  static constexpr std::chrono::milliseconds kHaltBound{750};
  // How long a closed capture stream on a sound server goes on reading.
  static constexpr std::chrono::milliseconds kLinger{1000};

  PortAudioStream() = default;
  ~PortAudioStream() { close(); }
  PortAudioStream(const PortAudioStream&) = delete;
  PortAudioStream& operator=(const PortAudioStream&) = delete;

  // A one-direction stereo stream in `format` whose callback gets
  // framesPerCallback frames at a time (paFramesPerBufferUnspecified: as
  // many as PortAudio likes); latency in seconds. Refused or BadFormat on
  // error. Returns within about twice kPortAudioCallBound (a stuck worker is
  // waited for first), and so does start(): a call the sound server holds
  // longer is given up and Refused. Its calls run on `worker`.
  Result open(BoundedWorker& worker, int paIndex, double latency, const WaveFormat& format,
              unsigned long framesPerCallback, bool capture, void* owner,
              Samples samples, Failed failed);
  Result start();
  // Aborts the stream (a capture stream that lingers is only cut from its
  // owner); returns within about kHaltBound. Once it returns, no callback
  // into the owner runs or will run.
  void halt();
  // Halts and closes (nothing when not open or given up).
  void close();

  // Calls given up (aborts, opens, starts, listings) that have not returned
  // yet (PortAudio must not be terminated while there are any: it would
  // block on them).
  static int stuckStreams() { return BoundedWorker::lateCalls(); }
  // Stops and closes the lingering capture reader, if any (before PortAudio
  // ends), on `worker`; returns within about kHaltBound.
  static void endLingering(BoundedWorker& worker);

 private:
  struct Link;
  // Cuts `link` from its owner and waits for a callback still inside it.
  static void cut(Link* link);
  // Aborts and closes `stream` and frees `link` on `worker`, waiting up to
  // `bound`; a call given up frees the link once it returns.
  static void closeBounded(BoundedWorker& worker, PaStream* stream, Link* link,
                           std::chrono::milliseconds bound);
  // Aborts the stream, waiting up to kHaltBound (halt() without lingering).
  void abort();
  BoundedWorker* worker_ = nullptr;
  PaStream* stream_ = nullptr;
  Link* link_ = nullptr;
  void* owner_ = nullptr;
  double rate_ = 0;
  bool capture_ = false;
  bool lingers_ = false;    // a capture stream on a sound server's device
  bool readingOn_ = false;  // halted but still reading (lingers_)
};

}  // namespace bw::audio
