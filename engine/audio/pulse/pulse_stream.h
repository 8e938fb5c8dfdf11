// One stream of either direction on a PulseAudio server, as the backend's
// capture and playback streams use it: a record stream whose data goes to
// the owner's `samples` as it arrives, or a playback stream whose requests
// the owner's `samples` fills; both on libpulse's thread.
//
// The buffering is ours: data moves in periods of `periodFrames`. A record
// stream gets each period as soon as the source has it (fragsize); a
// playback stream keeps two periods at the server, but at least 8 ms in
// whole periods (tlength), is asked for one at a time (minreq) and plays
// once one is there (prebuf). The server
// sizes the device's own buffer to match (PA_STREAM_ADJUST_LATENCY).
// PipeWire's pulse server grants no less than its own minimum (256 frames
// at 48 kHz unless configured): asked for 384 and 128 at 128-frame periods,
// it gives a tlength of 768 and a minreq and fragsize of 256.
//
// A stream stays on the device it opened on. It cannot be moved: when its
// device goes, the server ends it instead of moving it elsewhere (onto the
// sink whose monitor the receiver captures, the receiver would hear its own
// output). A stream that ends by itself (killed, its device removed, the
// server gone), is moved nonetheless, or whose device is suspended (nothing
// flows until someone resumes it, which the engine cannot know of) is
// disconnected at once and told to `failed`, once, on libpulse's thread.
//
// Control functions come from one thread at a time, never libpulse's.
#pragma once

#include <pulse/stream.h>

#include <chrono>
#include <memory>
#include <vector>

#include "audio/platform.h"
#include "audio/pulse/pulse_connection.h"

namespace bw::audio {

class PulseStream {
 public:
  // The owner's sample callback: `frames` frames captured in `input`, or to
  // be played into `output`. A playback owner returns how many of the
  // frames it filled (from the front); the rest is asked for again once it
  // calls dataReady().
  using Samples = std::size_t (*)(void* owner, const std::uint8_t* input,
                                  std::uint8_t* output, std::size_t frames);
  // Failure (the stream ended), or a gap the server played (it ran dry).
  using Failed = void (*)(void* owner);
  using Gap = void (*)(void* owner);

  PulseStream() = default;
  ~PulseStream() { close(); }
  PulseStream(const PulseStream&) = delete;
  PulseStream& operator=(const PulseStream&) = delete;

  // A stereo stream in `format` on the server's default source (capture) or
  // sink, in periods of periodFrames; waits for the server until
  // `deadline`. BadFormat for a format the server refuses, Refused when it
  // did not answer in time or failed. Samples do not reach the owner until
  // start().
  Result open(std::shared_ptr<PulseConnection> connection,
              const WaveFormat& format, std::uint32_t periodFrames,
              bool capture, PulseConnection::Deadline deadline, void* owner,
              Samples samples, Failed failed, Gap gap = nullptr);
  // From any thread, without blocking, but not while open() or close()
  // runs: the playback owner has more frames, and what it left unfilled is
  // asked for again on libpulse's thread.
  void dataReady() noexcept;
  // Lets samples reach the owner; Refused once the stream has ended.
  Result start();
  // Keeps samples from the owner (a record stream's data is dropped, a
  // playback stream plays silence). Once it returns, no callback into the
  // owner runs until the next start.
  void halt();
  // Disconnects (without waiting on the server); no callback into the owner
  // runs once it returns.
  void close();

  // A record stream closed by its owner may go on reading (and dropping)
  // for a while, to be taken up by the next owner. Once the last reader
  // leaves a source, the server may fall back to an idle schedule (a null
  // sink's monitor renders two seconds ahead), and a new reader then hears
  // nothing until that period ends: a stop and start would often wait two
  // seconds for the first block.
  //
  // park() cuts the stream from its owner (no callback into it runs once it
  // returns) and lets it read on for `linger`, after which it disconnects by
  // itself. False when it has ended: it is of no more use.
  bool park(std::chrono::milliseconds linger);
  // Gives a parked stream, still reading, to a new owner (as open() does);
  // false when it has ended or its connection is no longer usable.
  bool adopt(void* owner, Samples samples, Failed failed);

  // Playback, within the owner's `samples`: frames the server holds of what
  // it was given and has not yet played, as its request tells (its buffer,
  // tlength, less what it asks for).
  std::size_t serverFrames() const noexcept { return serverFrames_; }

  // The server's index of the source or sink the stream is on;
  // PA_INVALID_INDEX when it is not open.
  std::uint32_t deviceIndex() const;

 private:
  static void onState(pa_stream* s, void* self);
  static void onMoved(pa_stream* s, void* self);
  static void onSuspended(pa_stream* s, void* self);
  static void onRead(pa_stream* s, std::size_t bytes, void* self);
  static void onWrite(pa_stream* s, std::size_t bytes, void* self);
  static void onUnderflow(pa_stream* s, void* self);
  static void onDataReady(pa_mainloop_api*, pa_io_event*, int fd, pa_io_event_flags_t,
                          void* self);
  static void onLingerEnd(pa_mainloop_api* api, pa_time_event* event,
                          const struct timeval*, void* self);
  // Ends the stream for good and tells the owner (once).
  void end();
  // Cancels the parked stream's disconnection (under the lock).
  void endLinger();

  std::shared_ptr<PulseConnection> connection_;
  pa_stream* stream_ = nullptr;
  void* owner_ = nullptr;
  Samples samples_ = nullptr;
  Failed failed_ = nullptr;
  Gap gap_ = nullptr;
  std::size_t frameBytes_ = 0;
  std::size_t bufferBytes_ = 0;   // a playback stream's tlength, as granted
  std::size_t serverFrames_ = 0;  // see serverFrames()
  // A playback stream's wake-up for dataReady() (an eventfd, read on
  // libpulse's thread); -1 without one.
  int readyFd_ = -1;
  pa_io_event* readyEvent_ = nullptr;
  std::uint8_t silenceByte_ = 0;
  std::vector<std::uint8_t> silence_;  // a period of silence, for a record hole
  // Under the main loop's lock.
  bool running_ = false;  // samples reach the owner
  bool opened_ = false;   // open() returned Ok: an end is a failure
  bool ended_ = false;
  pa_time_event* linger_ = nullptr;  // while parked
};

}  // namespace bw::audio
