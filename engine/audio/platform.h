// The platform audio interface the engine streams through: device lists and
// names per direction, mixers, software output volume, and capture and
// playback streams built on the ring of wave headers. Each backend (sound
// cards through PortAudio, the simulated front end, the tests' fake) is one
// implementation of AudioPlatform.
//
// Device indices: 0..deviceCount-1 are the platform's devices of a
// direction; defaultDevice() names one of them, or -1 when there is none.
// Names are the 32-byte name field of a device, not necessarily
// NUL-terminated.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "audio/wave_header.h"

namespace bw::audio {

enum class Direction { Capture, Playback };

constexpr int kNoDevice = -1;
constexpr std::size_t kNameBytes = 32;

// Outcome of a platform operation: the backends' own vocabulary, finer than
// the engine's status; startStreaming turns a failure into
// SDR_DEVICE_REFUSED.
enum class Result { Ok, BadDevice, BadFormat, Refused, InvalidState, QueueFull };

// Capture notification messages.
constexpr std::uint32_t kCaptureOpened = 0x3BE;
constexpr std::uint32_t kCaptureClosed = 0x3BF;
constexpr std::uint32_t kCaptureData = 0x3C0;
// The stream stopped delivering for good (device gone, sound server died).
// Sent at most once per start, on a thread of the platform, with header
// null; the stream must still be stopped, reset and closed.
constexpr std::uint32_t kCaptureFailed = 0x3C1;

class CaptureStream;

// Capture notification. kCaptureData comes with the buffer just marked done,
// on the stream's notification thread while it runs, or on the thread calling
// reset() for the buffers that reset returns. kCaptureOpened and
// kCaptureClosed come on the thread that opens or closes, with header null.
using CaptureNotify = void (*)(CaptureStream& stream, std::uint32_t message,
                               std::uintptr_t instance, WaveHeader* header);

// Counters kept for tests and diagnostics.
struct StreamCounters {
  std::uint64_t buffers = 0;    // buffers filled (capture) or played (playback)
  std::uint64_t overruns = 0;   // capture data that found no queued buffer
  std::uint64_t underruns = 0;  // playback gaps: nothing queued, or the server ran dry
  std::uint64_t trimmedFrames = 0;  // playback frames dropped to bring the queue back to its target
};

// Marks a header prepared / unprepared. Unprepare refuses a queued header.
Result prepareHeader(WaveHeader& header);
Result unprepareHeader(WaveHeader& header);

// A capture stream fills its queued buffers in queue order. Each filled
// buffer loses its in-queue bit, gains the done bit, and the notification
// runs with kCaptureData. add() may be called before start() or from inside
// the notification; start, stop, reset and close from one control thread.
class CaptureStream {
 public:
  virtual ~CaptureStream() = default;
  // Queues a prepared header behind those queued (clears its done bit).
  virtual Result add(WaveHeader& header) = 0;
  virtual Result start() = 0;
  // Halts capture; queued buffers stay queued. Once it returns, no data
  // notification is running or will run.
  virtual Result stop() = 0;
  // Stops, then returns every queued buffer marked done, each with its own
  // kCaptureData notification.
  virtual Result reset() = 0;
  // Sends kCaptureClosed; the stream may then be destroyed. Refused while
  // buffers are queued.
  virtual Result close() = 0;
  virtual StreamCounters counters() const = 0;
};

// Told that a playback stream stopped playing for good (device gone, sound
// server died or killed the stream), at most once per watch, on a thread of
// the platform; `instance` is what watchFailure() was given.
using PlaybackFailed = void (*)(std::uintptr_t instance);

// A playback stream plays written buffers in the order written and silence
// while none is queued. It starts playing at open. write() comes from one
// thread at a time (the engine: the capture notification).
class PlaybackStream {
 public:
  virtual ~PlaybackStream() = default;
  // From now on a failure is told to `failed` (also one that came before
  // this call). A stream that cannot fail by itself ignores it.
  virtual void watchFailure(PlaybackFailed /*failed*/, std::uintptr_t /*instance*/) {}
  // Queues a prepared header behind those written (clears its done bit);
  // it gets the done bit once played.
  virtual Result write(WaveHeader& header) = 0;
  // Returns every queued buffer marked done; playback goes on with silence.
  // Not concurrently with write().
  virtual Result reset() = 0;
  virtual Result close() = 0;
  virtual StreamCounters counters() const = 0;

  // Told before the first write that the consumer's clock may differ from
  // the writer's, the stream keeps its queue at the level it started with
  // by resampling what it plays. A stream that cannot ignores it.
  virtual void matchClocks(bool /*mayDiffer*/) {}
  // The ratio at which the stream reads what is written (1: as written)
  // and the smoothed length of its queue in seconds (negative: unknown).
  struct Matching {
    double ratio = 1.0;
    double queued = -1.0;
  };
  virtual Matching matching() const { return {}; }
};

class AudioPlatform {
 public:
  virtual ~AudioPlatform() = default;

  virtual int deviceCount(Direction direction) = 0;
  // Index of the default device of the direction, or kNoDevice.
  virtual int defaultDevice(Direction direction) = 0;
  // Copies the device's name field (kNameBytes) into name; false for an
  // index with no device.
  virtual bool deviceName(Direction direction, int device, char* name) = 0;

  virtual int mixerCount() = 0;
  virtual bool mixerName(int mixer, char* name) = 0;

  // Software output volume of a playback device, packed: low 16 bits left,
  // high 16 bits right, 0 silent .. 0xFFFF full. false for no such device.
  virtual bool outVolume(int device, std::uint32_t& volume) = 0;
  virtual bool setOutVolume(int device, std::uint32_t volume) = 0;

  // Opens a stereo PCM stream in `format` that will carry buffers of
  // `bufferFrames` frames (a backend may size its device transfers to
  // them; 0 when unknown). On success `stream` holds it; a capture open
  // sends kCaptureOpened before it returns.
  virtual Result openCapture(int device, const WaveFormat& format,
                             std::uint32_t bufferFrames, CaptureNotify notify,
                             std::uintptr_t instance,
                             std::unique_ptr<CaptureStream>& stream) = 0;
  virtual Result openPlayback(int device, const WaveFormat& format,
                              std::uint32_t bufferFrames,
                              std::unique_ptr<PlaybackStream>& stream) = 0;

  // False when the capture and playback devices (valid indices) may run on
  // different sample clocks, so that playback must be kept in step.
  virtual bool sharedClock(int /*captureDevice*/, int /*playbackDevice*/) { return true; }
};

// True for a format the streams accept: PCM, 2 channels, 8/16/24/32 bits,
// a consistent block alignment and a rate of 8000..96000 Hz.
bool isStreamableFormat(const WaveFormat& format);

}  // namespace bw::audio
